#include "panel/AlarmJournal.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/Cp1251.h"
#include "base/Files.h"
#include "panel/DeviceView.h"
#include "panel/PanelFiles.h"

namespace tovik {

namespace {

// Length of the UTF-8 sequence that starts with `lead`; 0 for a byte that
// cannot start one.
size_t Utf8SequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

constexpr double kDefaultSheetColumnWidth = 14;
constexpr int kPixelsPerWidthUnit = 6;
constexpr size_t kMaxSheetNameLength = 31;

// Characters of a UTF-8 text (bytes that are not UTF-8 count one each).
size_t CharacterCount(std::string_view text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++n) {
        const size_t len = Utf8SequenceLength(static_cast<uint8_t>(text[i]));
        i += (len == 0 || i + len > text.size()) ? 1 : len;
    }
    return n;
}

// The workbook written to `path`: false with the file system's reason in
// `why`, or with `sheetError` when the sheet itself could not be made.
bool WriteWorkbook(const TTextGrid& grid, const std::vector<int>& columnPixels, const std::string& title,
                   const std::string& path, std::string& why, std::string& sheetError) {
    const size_t rows = grid.size();
    const size_t cols = columnPixels.size();
    // libxlsxwriter opens the file with the system's narrow calls.
    const auto name = NarrowFileName(path, why);
    if (!name) return false;
    errno = 0;
    lxw_workbook* book = workbook_new(name->c_str());
    if (!book) {
        why = std::strerror(errno ? errno : ENOMEM);
        return false;
    }
    // Closing writes the file; a failed export frees the book unwritten.
    struct TCloser {
        lxw_workbook* Book;
        lxw_error Close() {
            lxw_error e = workbook_close(Book);
            Book = nullptr;
            return e;
        }
        ~TCloser() {
            if (Book) lxw_workbook_free(Book);
        }
    } closer{book};

    lxw_worksheet* sheet = workbook_add_worksheet(book, title.c_str());
    lxw_format* column = workbook_add_format(book);
    lxw_format* cell = workbook_add_format(book);
    if (!sheet || !column || !cell) {
        sheetError = "не удалось создать лист \"" + title + "\"";
        return false;
    }
    format_set_bold(column);
    format_set_align(column, LXW_ALIGN_RIGHT);
    format_set_bold(cell);
    format_set_align(cell, LXW_ALIGN_LEFT);

    // Column ranges must not overlap: the grid's columns first, then the rest.
    lxw_error e = LXW_NO_ERROR;
    for (size_t c = 0; c < cols && e == LXW_NO_ERROR; ++c) {
        const double width = std::max(columnPixels[c], 0) / kPixelsPerWidthUnit;
        e = worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), width, column);
    }
    if (e == LXW_NO_ERROR && cols < LXW_COL_MAX)
        e = worksheet_set_column(sheet, static_cast<lxw_col_t>(cols), LXW_COL_MAX - 1,
                                 kDefaultSheetColumnWidth, column);
    for (size_t r = 0; r < rows && e == LXW_NO_ERROR; ++r) {
        for (size_t c = 0; c < cols && e == LXW_NO_ERROR; ++c) {
            const std::string& text = c < grid[r].size() ? grid[r][c] : std::string();
            // An empty text leaves a formatted blank cell.
            e = text.empty()
                    ? worksheet_write_blank(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), cell)
                    : worksheet_write_string(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c),
                                             text.c_str(), cell);
        }
    }
    if (e != LXW_NO_ERROR) {
        sheetError = lxw_strerror(e);
        return false;
    }
    errno = 0;
    e = closer.Close();
    if (e != LXW_NO_ERROR) {
        // The zip writer's failures are the file system's.
        why = errno ? std::strerror(errno) : lxw_strerror(e);
        return false;
    }
    return true;
}

}  // namespace

std::optional<TAlarmRecord> AlarmRecordFromReply(bool Ok, const TBlock* Data) {
    if (!Ok || !Data || Data->size() < kAlarmRecordSize) return std::nullopt;
    TAlarmRecord record{};
    std::copy_n(Data->begin(), kAlarmRecordSize, record.begin());
    return record;
}

TTextRow AlarmGridRow(const TAlarmRecord& record, std::optional<uint32_t> Ktr, const TLocaleFormat& Locale) {
    return {FormatDateTime(std::span<const uint8_t, 6>(record.data(), 6), Locale), EventText(record[6]),
            AlarmCurrentsText(record, Ktr, Locale)};
}

TTextGrid AlarmGrid(const std::vector<TAlarmRecord>& cache, std::optional<uint32_t> Ktr,
                    const TLocaleFormat& Locale) {
    TTextGrid grid;
    grid.emplace_back(kAlarmGridHeader.begin(), kAlarmGridHeader.end());
    for (const auto& record : cache) grid.push_back(AlarmGridRow(record, Ktr, Locale));
    if (cache.empty()) grid.emplace_back(kAlarmGridHeader.size());
    return grid;
}

bool WriteFixedWidth(std::string_view text, size_t width, std::string& out) {
    bool exact = true;
    size_t written = 0;
    for (size_t i = 0; i < text.size() && written < width; ++written) {
        const size_t len = Utf8SequenceLength(static_cast<uint8_t>(text[i]));
        if (len == 0 || i + len > text.size()) {
            out += '?';
            exact = false;
            ++i;
            continue;
        }
        const auto byte = Utf8ToCp1251(text.substr(i, len));
        if (byte && byte->size() == 1) {
            out += *byte;
        } else {
            out += '?';
            exact = false;
        }
        i += len;
    }
    out.append(width - written, ' ');
    return exact;
}

std::string FixedWidthText(const TTextGrid& grid, const std::vector<size_t>& widths) {
    std::string out;
    for (const auto& row : grid) {
        for (size_t c = 0; c < widths.size(); ++c)
            WriteFixedWidth(c < row.size() ? row[c] : "", widths[c], out);
        out += "\r\n";
    }
    return out;
}

bool SaveAlarmTextFile(const TTextGrid& grid, const std::string& path, std::string& error) {
    std::string reason;
    if (ReplaceFileBytes(path, FixedWidthText(grid, {kAlarmTextWidths.begin(), kAlarmTextWidths.end()}),
                         reason))
        return true;
    error = FileErrorText(kMsgFileNotWritten, path, reason);
    return false;
}

bool ExportGridToExcel(const TTextGrid& grid, const std::vector<int>& columnPixels, const std::string& title,
                       const std::string& path, std::string& error) {
    const size_t rows = grid.size();
    const size_t cols = columnPixels.size();
    if (rows == 0 || cols == 0) return true;
    if (rows > LXW_ROW_MAX || cols > LXW_COL_MAX) {
        error = "таблица не помещается на лист";
        return false;
    }
    if (title.empty() || CharacterCount(title) > kMaxSheetNameLength ||
        title.find_first_of("[]:*?/\\") != std::string::npos) {
        error = "недопустимое имя листа \"" + title + "\"";
        return false;
    }

    // libxlsxwriter writes the new file; it takes the old one's name only
    // when it is complete.
    std::string reason;
    std::string sheetError;
    const bool written = ReplaceFile(
        path,
        [&](const std::string& newFile, std::string& why) {
            return WriteWorkbook(grid, columnPixels, title, newFile, why, sheetError);
        },
        reason);
    if (written) return true;
    error = sheetError.empty() ? FileErrorText(kMsgFileNotWritten, path, reason) : sheetError;
    return false;
}

std::string ExcelNotOpenedText(const std::string& path) {
    return "Таблица записана в файл \"" + path +
           "\", но на этом компьютере нет программы, которая открывает файлы .xlsx.";
}

}  // namespace tovik
