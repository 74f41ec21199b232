#pragma once
// The JSON output of the command-line tools, written by nlohmann-json.
// Members keep the order they are set in; texts go out as UTF-8 (no \u
// escapes for Cyrillic), and bytes that are not UTF-8 (a command-line
// argument echoed back, say) become U+FFFD instead of failing the output.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace tovik::tool {

using TJson = nlohmann::ordered_json;

// Compact, on one line, unless an indent is given.
inline std::string JsonText(const TJson& value, int indent = -1) {
    return value.dump(indent, ' ', false, TJson::error_handler_t::replace);
}

// Raw bytes in the JSON output: lower-case hex, two digits a byte.
inline std::string HexBytes(const uint8_t* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return out;
}

}  // namespace tovik::tool
