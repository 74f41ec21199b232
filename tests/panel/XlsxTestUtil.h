#pragma once
// Reads back the parts of a written .xlsx (a zip archive) for the checks.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tovik::test {

// The text of one part ("xl/workbook.xml"); empty when the archive or the
// part cannot be read. Unpacks with python3's zipfile module, or unzip.
inline std::string XlsxPart(const std::string& xlsx, const std::string& part) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tovik-xlsx-XXXXXX").string();
    const char* dir = ::mkdtemp(tmpl.data());
    if (!dir) return {};
    const std::string d = dir;
    const std::string quoted = "'" + xlsx + "' '" + d + "'";
    if (std::system(("python3 -m zipfile -e " + quoted + " >/dev/null 2>&1").c_str()) != 0) {
        [[maybe_unused]] const int unzipped =
            std::system(("unzip -q -o '" + xlsx + "' -d '" + d + "' >/dev/null 2>&1").c_str());
    }
    std::ifstream in(d + "/" + part, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::filesystem::remove_all(d);
    return text.str();
}

// Number of non-overlapping occurrences of `what` in `text`.
inline size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

}  // namespace tovik::test
