#include "base/Cp1251.h"

#include <array>
#include <cstring>

namespace tovik {

namespace {

// Code points of bytes 0x80..0xFF; 0 marks the one byte (0x98) that
// Windows-1251 leaves undefined.
constexpr std::array<char16_t, 128> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one UTF-8 sequence; returns false on malformed input.
bool NextCodePoint(std::string_view s, size_t& i, uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int extra = 0;
    if (b0 < 0x80) {
        cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        cp = b0 & 0x1F;
        extra = 1;
    } else if ((b0 & 0xF0) == 0xE0) {
        cp = b0 & 0x0F;
        extra = 2;
    } else if ((b0 & 0xF8) == 0xF0) {
        cp = b0 & 0x07;
        extra = 3;
    } else
        return false;
    if (extra > 0 && i + static_cast<size_t>(extra) >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<size_t>(extra) + 1;
    return true;
}

int EncodeCodePoint(uint32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    for (int k = 0; k < 128; ++k)
        if (kHigh[k] != 0 && kHigh[k] == cp) return 0x80 + k;
    return -1;
}

}  // namespace

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        uint32_t cp = 0;
        if (!NextCodePoint(utf8, i, cp)) return std::nullopt;
        const int b = EncodeCodePoint(cp);
        if (b < 0) return std::nullopt;
        out.push_back(static_cast<char>(b));
    }
    return out;
}

std::optional<std::string> Cp1251ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char ch : cp1251) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out.push_back(ch);
            continue;
        }
        const char16_t cp = kHigh[b - 0x80];
        if (cp == 0) return std::nullopt;
        AppendUtf8(out, cp);
    }
    return out;
}

TTextCheck CheckFieldText(std::string_view utf8, size_t maxChars) {
    const auto encoded = Utf8ToCp1251(utf8);
    if (!encoded) return TTextCheck::BadChar;
    if (encoded->size() > maxChars) return TTextCheck::TooLong;
    return TTextCheck::Ok;
}

TFieldText ReadFieldText(const uint8_t* field, size_t size) {
    const void* zero = std::memchr(field, 0, size);
    const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - field) : size;
    TFieldText read;
    read.Bytes.assign(reinterpret_cast<const char*>(field), length);
    read.Text.reserve(length * 2);
    for (char ch : read.Bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            read.Text.push_back(ch);
        else
            AppendUtf8(read.Text, kHigh[b - 0x80] != 0 ? kHigh[b - 0x80] : 0xFFFD);
    }
    return read;
}

std::optional<std::vector<uint8_t>> WriteFieldText(const std::string& utf8, const TFieldText& read,
                                                   size_t size) {
    std::string bytes;
    if (utf8 == read.Text && read.Bytes.size() <= size) {
        bytes = read.Bytes;
    } else {
        auto encoded = Utf8ToCp1251(utf8);
        if (!encoded || encoded->size() >= size || encoded->find('\0') != std::string::npos)
            return std::nullopt;
        bytes = std::move(*encoded);
    }
    std::vector<uint8_t> field(size, 0);
    std::memcpy(field.data(), bytes.data(), bytes.size());
    return field;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        uint32_t cp = 0;
        if (!NextCodePoint(utf8, i, cp)) return std::nullopt;
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
    }
    return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t cp = utf16[i];
        if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[++i] - 0xDC00u);
        }
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace tovik
