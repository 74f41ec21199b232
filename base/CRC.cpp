#include "base/CRC.h"

#include <cstring>

#include "base/Cp1251.h"

namespace tovik {

uint32_t SectionChecksum(const TCRCStream& section) {
    uint32_t sum = 0;
    for (uint8_t b : section.Bytes()) sum += b;
    return sum;
}

bool ReadSection(TCRCStream& section, TMemoryStream& body) {
    section.Clear();
    int32_t length = 0;
    if (!body.ReadI32(length)) return false;
    if (length <= 0 || static_cast<size_t>(length) > body.Remaining()) return false;
    auto& bytes = section.Bytes();
    bytes.resize(static_cast<size_t>(length));
    if (!body.ReadExact(bytes.data(), length)) return false;
    section.Seek(0);
    uint32_t stored = 0;
    if (!body.ReadU32(stored)) return false;
    return stored == SectionChecksum(section);
}

bool WriteSection(const TCRCStream& section, TStream& body) {
    const auto& bytes = section.Bytes();
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
    const auto length = static_cast<int32_t>(bytes.size());
    return body.WriteI32(length) && (length == 0 || body.WriteExact(bytes.data(), length)) &&
           body.WriteU32(SectionChecksum(section));
}

TFieldTextCheck CheckRecordText(const std::string& utf8, size_t maxChars) {
    const auto encoded = Utf8ToCp1251(utf8);
    if (!encoded || encoded->find('\0') != std::string::npos) return TFieldTextCheck::BadChar;
    if (encoded->size() > maxChars) return TFieldTextCheck::TooLong;
    return TFieldTextCheck::Ok;
}

std::optional<std::vector<uint8_t>> EncodeTextField(const std::string& utf8, size_t fieldSize) {
    if (fieldSize == 0 || CheckRecordText(utf8, fieldSize - 1) != TFieldTextCheck::Ok) return std::nullopt;
    const auto encoded = Utf8ToCp1251(utf8);
    std::vector<uint8_t> field(fieldSize, 0);
    std::memcpy(field.data(), encoded->data(), encoded->size());
    return field;
}

std::optional<std::string> DecodeTextField(const uint8_t* field, size_t fieldSize) {
    const void* end = std::memchr(field, 0, fieldSize);
    if (!end) return std::nullopt;
    const auto* chars = reinterpret_cast<const char*>(field);
    return Cp1251ToUtf8(
        std::string_view(chars, static_cast<size_t>(static_cast<const uint8_t*>(end) - field)));
}

}  // namespace tovik
