#pragma once
// The setpoint grid's sizing: column 0 as wide as the longest item name
// + 4 when the grid is set up, then on every timer tick each column (but
// the last, "новое") at least as wide as its widest text + 7 and each row
// at least as high as its tallest text + 5. Columns and rows only grow.
//
// Measuring texts is the costly part, so each cell's size is kept with its
// text and measured again only when the text or the font changed; a pass
// with nothing changed does no work at all.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "panel/TextGrid.h"

namespace tovik {

struct TTextSize {
    int Width = 0;
    int Height = 0;
};
// The pixel size of a text in the grid's font.
using TTextMeasure = std::function<TTextSize(const std::string&)>;

inline constexpr int kGridColumnPad = 7;
inline constexpr int kGridRowPad = 5;
inline constexpr int kGridNamePad = 4;
inline constexpr int kGridNameColumnStart = 400;
inline constexpr int kGridDefaultColumnWidth = 60;
inline constexpr int kGridDefaultRowHeight = 16;

class TGridAutoSize {
public:
    explicit TGridAutoSize(TTextMeasure measure) : Measure(std::move(measure)) {}

    // The grid set-up: `rows` rows (header included) and `columns` columns
    // at their default sizes, column 0 first 400 wide and then as wide as
    // the longest of `names` + 4.
    void SetUp(int rows, int columns, const std::vector<std::string>& names);
    // The font changed: every cell is measured again on the next pass.
    void FontChanged();

    // Runs the growth rule over the cells; `cells` row by row with the
    // header in row 0. Returns whether a size changed.
    bool Pass(const TTextGrid& cells);

    const std::vector<int>& ColumnWidths() const { return Widths; }
    const std::vector<int>& RowHeights() const { return Heights; }
    // Texts measured since construction (for the benchmark and the tests).
    uint64_t Measured() const { return MeasureCount; }

private:
    struct TCell {
        std::string Text;
        TTextSize Size;
        bool Known = false;
    };
    TTextSize SizeOf(TCell& cell, const std::string& text);

    TTextMeasure Measure;
    std::vector<int> Widths;
    std::vector<int> Heights;
    std::vector<std::vector<TCell>> Cells;
    bool Dirty = true;
    uint64_t MeasureCount = 0;
};

}  // namespace tovik
