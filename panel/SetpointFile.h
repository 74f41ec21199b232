#pragma once
// The setpoint file: a relay's setpoint block as last read, with what it
// belongs to (device kind, model and variant bytes, Kтр, installation name,
// date and account), as UTF-8 text with one line per item (docs/setpoint-file.md).
// Each item keeps its raw value, so nothing is lost to rounding; the
// displayed text beside it is for people only.
//
// Reading takes any bytes: a file that is not exactly what the writer makes
// (a damaged or cut line, an unknown kind, a value wider than its item, an
// over-long text, bytes that are not UTF-8) is refused as a whole with the
// line and the reason, and nothing of it is used.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DeviceTypes.h"
#include "protocol/Builders.h"
#include "protocol/Codecs.h"

namespace tovik {

inline constexpr const char* kSetpointFileMagic = "TOVIK-SETPOINTS";
inline constexpr int kSetpointFileVersion = 1;
// Bounds of what a reader takes.
inline constexpr size_t kSetpointFileMaxBytes = 64 * 1024;
inline constexpr size_t kSetpointFileMaxLine = 1024;
inline constexpr size_t kSetpointFileMaxText = 200;    // characters of an item's text
inline constexpr size_t kSetpointFileMaxAccount = 15;  // as an account name
// The file dialogs' filter and the file name ending.
inline constexpr const char* kSetpointFileFilter = "Файлы уставок (*.ust);;Все файлы (*)";
inline constexpr const char* kSetpointFileSuffix = ".ust";

struct TSetpointFileItem {
    int Item = 0;
    // The item's bytes as the relay holds them, as an unsigned little-endian number.
    uint64_t Raw = 0;
    std::string Text;  // as the grid showed it when saved
};

struct TSetpointFile {
    uint8_t DeviceKind = 0;
    uint8_t ModelByte = 0;
    uint8_t VariantByte = 0;
    uint16_t Ktr = 0;
    std::string Installation;
    TLocalTime Saved;
    std::string Account;
    // Every item of the kind, in item order.
    std::vector<TSetpointFileItem> Items;

    // The raw value of an item, none when the file does not hold it.
    std::optional<TUstRaw> ItemRaw(int Item) const;
};

// The file of a setpoint block. Texts are made with the locale, as the
// settings grid shows them.
TSetpointFile MakeSetpointFile(const TSetpointBlock& Block, uint8_t DeviceKind, uint8_t ModelByte,
                               uint8_t VariantByte, const std::string& Installation, const TLocalTime& Saved,
                               const std::string& Account, const TLocaleFormat& Locale);

// The bytes of the file (UTF-8, LF line ends).
std::string SetpointFileText(const TSetpointFile& File);

struct TSetpointFileRead {
    std::optional<TSetpointFile> File;
    std::string Error;  // why the file was refused, with the line number where there is one
};
TSetpointFileRead ParseSetpointFile(std::string_view Bytes);

// Replaces the file whole (ReplaceFile, base/Files.h): a failed save leaves
// what was there untouched, and nothing but a regular file is replaced.
bool SaveSetpointFile(const std::string& Path, const TSetpointFile& File, std::string& Error);
// Reads at most kSetpointFileMaxBytes (a longer file is refused unread);
// anything but a regular file is refused unopened.
TSetpointFileRead LoadSetpointFile(const std::string& Path);

// The number of bytes an item's raw value has in the file (the grid's view
// of it: Kтр is its 16-bit value), 0 for an item out of range.
int SetpointItemBytes(int Item);

}  // namespace tovik
