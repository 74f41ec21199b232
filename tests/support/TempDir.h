#pragma once
// A folder of its own for one test, under $TMPDIR (or /tmp), removed with
// everything in it; and the whole of a file written there.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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
        // A test may have taken its own rights away.
        if (!Path.empty()) std::filesystem::permissions(Path, std::filesystem::perms::owner_all, ec);
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // A name in it.
    std::string File(const std::string& name) const { return Path + "/" + name; }
    // The files and folders in it.
    size_t Count() const {
        return static_cast<size_t>(
            std::distance(std::filesystem::directory_iterator(Path), std::filesystem::directory_iterator()));
    }

    // Empty when no folder could be made.
    std::string Path;
};

// The bytes of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace tovik::test
