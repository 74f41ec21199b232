#pragma once
// A folder of its own for one test, under $TMPDIR (or /tmp), removed with
// everything in it.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace tovik::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "tovik-test") {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
        if (::mkdtemp(tmpl.data())) Path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when no folder could be made.
    std::string Path;
};

}  // namespace tovik::test
