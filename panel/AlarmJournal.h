#pragma once
// The alarm journal as the alarm grid shows it, and its two file forms:
// the fixed-width text file and the spreadsheet export.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/TovikDevice.h"
#include "panel/TextGrid.h"
#include "ports/Request.h"
#include "protocol/Codecs.h"

namespace tovik {

inline constexpr const char* kAlarmSheetTitle = "Аварийные отключения";
inline constexpr std::array<const char*, 3> kAlarmGridHeader = {"Дата/время", "причина аварии", "токи"};
// Pixel widths of the grid's columns; the sheet's widths are derived from them.
inline constexpr std::array<int, 3> kAlarmColumnPixels = {110, 200, 160};
// Characters per column of the text file.
inline constexpr std::array<size_t, 3> kAlarmTextWidths = {21, 32, 25};

// The record a read of one alarm record brought, or none when the read
// failed or the record did not arrive whole: a record with missing bytes
// would show zeros as a time stamp, a cause and currents, and is not kept.
std::optional<TAlarmRecord> AlarmRecordFromReply(bool Ok, const TBlock* Data);

// One grid row of a cached record: time stamp, cause, "Ia=.. Ib=.. Ic=..".
TTextRow AlarmGridRow(const TAlarmRecord& record, std::optional<uint32_t> Ktr, const TLocaleFormat& Locale);
// The header row, then one row per cached record in cache order; an empty
// cache gives one row of empty cells, as the grid keeps it.
TTextGrid AlarmGrid(const std::vector<TAlarmRecord>& cache, std::optional<uint32_t> Ktr,
                    const TLocaleFormat& Locale);

// Appends one field of the text file to `out`: the text's first `width`
// characters, padded with spaces, one Windows-1251 byte per character.
// A character Windows-1251 cannot hold (or a byte that is not UTF-8) is
// written as "?"; the result is then false. The field is always `width` bytes.
bool WriteFixedWidth(std::string_view text, size_t width, std::string& out);

// The whole text file: one line per grid row (header included), each of the
// fixed-width fields followed by CR LF.
std::string FixedWidthText(const TTextGrid& grid, const std::vector<size_t>& widths);

// The message of a file that could not be written: its name and the
// system's reason.
inline constexpr const char* kMsgFileNotWritten = "Не удалось записать файл";

// The journal as a text file: columns of 21, 32 and 25 characters. The file
// is replaced whole or not at all (an existing file stays as it was); false
// with the message naming the file and the system's reason in `error`.
bool SaveAlarmTextFile(const TTextGrid& grid, const std::string& path, std::string& error);

// The grid as a workbook of one sheet named `title` (at most 31
// characters, none of []:*?/\): every cell of the grid from A1 on with the
// header in row 1, the whole sheet bold and right-aligned with columns 14
// wide; the grid's own columns are as wide as their pixel width / 6 and its
// cells left-aligned. An empty grid writes nothing and succeeds. Like the
// text file, the workbook replaces a file of that name whole or not at all.
bool ExportGridToExcel(const TTextGrid& grid, const std::vector<int>& columnPixels, const std::string& title,
                       const std::string& path, std::string& error);

// Said when the workbook was written but the desktop has no program that
// opens it: where the file is, so it can still be used.
std::string ExcelNotOpenedText(const std::string& path);

}  // namespace tovik
