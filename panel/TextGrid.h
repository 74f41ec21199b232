#pragma once
// The texts of a string grid as the panel fills it: row 0 is the header.
#include <string>
#include <vector>

namespace tovik {

using TTextRow = std::vector<std::string>;
using TTextGrid = std::vector<TTextRow>;

}  // namespace tovik
