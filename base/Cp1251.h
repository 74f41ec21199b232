#pragma once
// Texts live in memory as UTF-8 and in files and on the wire as
// single-byte Windows-1251. Nothing is ever converted lossily: a text that
// cannot be encoded is refused.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tovik {

// nullopt when the text is not valid UTF-8 or holds a character outside
// Windows-1251.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);

// nullopt only for the byte 0x98, which Windows-1251 leaves undefined.
std::optional<std::string> Cp1251ToUtf8(std::string_view cp1251);

enum class TTextCheck { Ok, TooLong, BadChar };

// Whether a text fits a record field of `maxChars` single-byte characters.
TTextCheck CheckFieldText(std::string_view utf8, size_t maxChars);

}  // namespace tovik
