#!/usr/bin/env bash
# Renders the PNG images of the window from their SVG sources. The PNGs are kept in the
# repository so that building needs no renderer; run this after changing an SVG.
# Needs rsvg-convert (Debian package librsvg2-bin) and the Open Sans fonts.
set -euo pipefail
cd "$(dirname "$0")"
render() { rsvg-convert -w "$2" -o "$1.png" "$1.svg"; }
render px-logo 720
render px-about 720
render pellix 256
render pellix-footer 540
render icon-equal 192
render icon-frenchquote 192
render icon-question 192
