#pragma once

#include <string>

// What the fuzz targets check besides "no crash, no leak, no undefined behaviour".
namespace fuzzsupport {

// Aborts with the text when a property that must hold for every input does not: libFuzzer then
// keeps the input as a crash.
void require(bool holds, const char* what);

// Strict JSON (one value, nothing after it, no raw control bytes), as any reader takes it.
bool isJson(const std::string& text);

bool isUtf8(const std::string& text);

} // namespace fuzzsupport
