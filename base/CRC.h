#pragma once
// Checksummed sections of the configuration body and text fields of records.
//
// A section is: i32 length L (> 0), L payload bytes, u32 sum of the payload
// bytes. The payload of every list section is an i32 count followed by the
// records.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/KindRegistry.h"
#include "base/Stream.h"

namespace tovik {

// The payload of one section while it is built or parsed.
class TCRCStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
};

// Sum of all payload bytes modulo 2^32, whatever the stream's position.
uint32_t SectionChecksum(const TCRCStream& section);

// Reads one section from the body into the (emptied) section stream. False
// on a length of 0 or less, a length beyond what the body still holds, a
// short read or a checksum mismatch. The length is checked before anything
// is allocated. The body is left after the section, or where reading
// stopped; the section stream is left at position 0.
bool ReadSection(TCRCStream& section, TMemoryStream& body);

// Writes length, the whole content from its first byte, and checksum.
bool WriteSection(const TCRCStream& section, TStream& body);

// Text fields of records: Windows-1251, zero-terminated, in a fixed field of
// `fieldSize` bytes that holds at most fieldSize - 1 characters.

// The field bytes for a UTF-8 text; nullopt when the text does not fit, has
// a character outside Windows-1251 or a zero character. Never truncates.
std::optional<std::vector<uint8_t>> EncodeTextField(const std::string& utf8, size_t fieldSize);

// The UTF-8 text of a field; nullopt when the field has no terminating zero
// or holds the byte Windows-1251 leaves undefined.
std::optional<std::string> DecodeTextField(const uint8_t* field, size_t fieldSize);

// Whether a UTF-8 text may enter a field of `maxChars` characters.
enum class TFieldTextCheck { Ok, TooLong, BadChar };
TFieldTextCheck CheckRecordText(const std::string& utf8, size_t maxChars);

}  // namespace tovik
