#pragma once
// Texts live in memory as UTF-8 and in files and on the wire as
// single-byte Windows-1251; they reach the wide-character calls of Windows
// (file names, arguments) as UTF-16. Nothing is ever converted lossily: a
// text that cannot be encoded is refused.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovik {

// nullopt when the text is not valid UTF-8 or holds a character outside
// Windows-1251.
std::optional<std::string> Utf8ToCp1251(std::string_view utf8);

// nullopt only for the byte 0x98, which Windows-1251 leaves undefined.
std::optional<std::string> Cp1251ToUtf8(std::string_view cp1251);

// nullopt when the text is not valid UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);
// nullopt when the text holds a surrogate without its pair.
std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16);

enum class TTextCheck { Ok, TooLong, BadChar };

// Whether a text fits a record field of `maxChars` single-byte characters.
TTextCheck CheckFieldText(std::string_view utf8, size_t maxChars);

// A fixed text field of a record as it was read: the text shown for it and
// the field's own bytes. Files written by other versions may hold a field
// without terminator or a byte Windows-1251 leaves undefined; such a field
// still loads, and is written back byte for byte while its text is unchanged.
struct TFieldText {
    std::string Text;   // UTF-8
    std::string Bytes;  // Windows-1251: up to the first zero, or the whole field
};

// The field's text runs to its first zero byte, or fills the field when it
// has none; the undefined byte 0x98 is shown as U+FFFD.
TFieldText ReadFieldText(const uint8_t* field, size_t size);

// The `size` bytes that store `utf8`, zero-filled: the bytes read while the
// text is still `read.Text`, else the encoded text with its terminator.
// nullopt when a new text has more than size - 1 characters, a zero
// character or one outside Windows-1251.
std::optional<std::vector<uint8_t>> WriteFieldText(const std::string& utf8, const TFieldText& read,
                                                   size_t size);

}  // namespace tovik
