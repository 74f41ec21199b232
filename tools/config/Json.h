#pragma once
// Just enough JSON writing for tovik-config's output.
#include <cstdint>
#include <string>
#include <string_view>

namespace tovik::tool {

// The text as a JSON string literal, quotes included. Control characters,
// quotes and backslashes are escaped; everything else, valid UTF-8 as the
// configuration's texts always are, passes through.
std::string JsonString(std::string_view text);

std::string HexBytes(const uint8_t* bytes, size_t count);

}  // namespace tovik::tool
