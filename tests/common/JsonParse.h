#pragma once

#include <json/reader.h>

#include <memory>
#include <optional>
#include <string>

namespace testsupport {

// The value when `text` is one whole JSON text (nothing after it), else nothing. Strict and
// independent of the endpoint's own reader, so it can judge what the endpoint writes.
inline std::optional<Json::Value> parsed(const std::string& text)
{
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    builder["rejectDupKeys"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors))
        return std::nullopt;
    return value;
}

} // namespace testsupport
