#include "panel/GridAutoSize.h"

#include <algorithm>

namespace tovik {

void TGridAutoSize::SetUp(int rows, int columns, const std::vector<std::string>& names) {
    rows = std::max(rows, 0);
    columns = std::max(columns, 0);
    Widths.assign(static_cast<size_t>(columns), kGridDefaultColumnWidth);
    Heights.assign(static_cast<size_t>(rows), kGridDefaultRowHeight);
    Cells.resize(static_cast<size_t>(rows));
    for (auto& row : Cells) row.resize(static_cast<size_t>(columns));
    if (columns > 0) {
        Widths[0] = kGridNameColumnStart;
        int widest = 0;
        for (const std::string& name : names) {
            TCell probe;
            widest = std::max(widest, SizeOf(probe, name).Width);
        }
        Widths[0] = widest + kGridNamePad;
    }
    Dirty = true;
}

void TGridAutoSize::FontChanged() {
    for (auto& row : Cells)
        for (auto& cell : row) cell.Known = false;
    Dirty = true;
}

TTextSize TGridAutoSize::SizeOf(TCell& cell, const std::string& text) {
    if (!cell.Known || cell.Text != text) {
        cell.Text = text;
        cell.Size = Measure ? Measure(text) : TTextSize{};
        cell.Known = true;
        ++MeasureCount;
        Dirty = true;
    }
    return cell.Size;
}

bool TGridAutoSize::Pass(const TTextGrid& cells) {
    const size_t rows = std::min(cells.size(), Cells.size());
    // Only the cells whose text changed are measured; the rule itself then
    // runs only when something was measured or the sizes were set up anew.
    for (size_t r = 0; r < rows; ++r) {
        const size_t columns = std::min(cells[r].size(), Cells[r].size());
        for (size_t c = 0; c + 1 < columns; ++c) SizeOf(Cells[r][c], cells[r][c]);
    }
    if (!Dirty) return false;
    Dirty = false;
    bool changed = false;
    for (size_t r = 0; r < rows; ++r) {
        const size_t columns = std::min(cells[r].size(), Cells[r].size());
        for (size_t c = 0; c + 1 < columns; ++c) {
            const TTextSize s = Cells[r][c].Size;
            if (Widths[c] < s.Width + kGridColumnPad) {
                Widths[c] = s.Width + kGridColumnPad;
                changed = true;
            }
            if (Heights[r] < s.Height + kGridRowPad) {
                Heights[r] = s.Height + kGridRowPad;
                changed = true;
            }
        }
    }
    return changed;
}

}  // namespace tovik
