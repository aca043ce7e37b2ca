#!/usr/bin/env bash
# Fails, naming the files, when a C++ source of the tree is not as clang-format (.clang-format)
# writes it. Run by `make test`; `clang-format -i FILE` puts a file right.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tools tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/roamnode-format.$$; then
    grep -o '^[^:]*:[0-9]*:[0-9]*: error' /tmp/roamnode-format.$$ | cut -d: -f1 | sort -u |
        sed 's/^/not formatted: /' >&2
    rm -f /tmp/roamnode-format.$$
    exit 1
fi
rm -f /tmp/roamnode-format.$$
echo "${#files[@]} files formatted as .clang-format says"
