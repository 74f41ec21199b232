#pragma once
// Reads back the parts of a written .xlsx (a zip archive) for the checks.
#include <cstdlib>
#include <string>

#include "support/TempDir.h"

namespace tovik::test {

// The text of one part ("xl/workbook.xml"); empty when the archive or the
// part cannot be read. Unpacks with python3's zipfile module, or unzip.
inline std::string XlsxPart(const std::string& xlsx, const std::string& part) {
    const TempDir dir("tovik-xlsx");
    if (dir.Path.empty()) return {};
    const std::string quoted = "'" + xlsx + "' '" + dir.Path + "'";
    if (std::system(("python3 -m zipfile -e " + quoted + " >/dev/null 2>&1").c_str()) != 0) {
        [[maybe_unused]] const int unzipped =
            std::system(("unzip -q -o '" + xlsx + "' -d '" + dir.Path + "' >/dev/null 2>&1").c_str());
    }
    return ReadFile(dir.Path + "/" + part);
}

// How many times `needle` occurs in `text`.
inline size_t CountOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

}  // namespace tovik::test
