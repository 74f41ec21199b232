#pragma once
// The commissioning report of a relay's settings: what the printed page
// says, without the page. The window lays it out and prints it.
#include <string>
#include <utility>
#include <vector>

#include "panel/TextGrid.h"

namespace tovik {

inline constexpr const char* kSetpointReportTitle = "Отчёт об уставках";

struct TSetpointReport {
    std::string Title = kSetpointReportTitle;
    // Label and value, in the order printed; the model's value has several lines.
    std::vector<std::pair<std::string, std::string>> Fields;
    // Header row ("№", "Функция/наименование", "мин", "макс", "значение"),
    // then one row per item of the kind.
    TTextGrid Table;
};

}  // namespace tovik
