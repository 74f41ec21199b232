#pragma once
// A folder of its own for one test, in the system's temporary folder
// ($TMPDIR, or /tmp; %TEMP% on Windows), private to the user and removed
// with everything in it; and the whole of a file written there.
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace tovik::test {

// The UTF-8 text of a path (std::filesystem spells it in the ANSI code page
// on Windows).
inline std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "tovik-test") {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        if (ec) return;
        std::random_device random;
        for (int attempt = 0; attempt < 100 && Path.empty(); ++attempt) {
            const fs::path dir = base / (prefix + "-" + std::to_string(random()));
            // Made by this call, not found: a folder nobody else had.
            if (fs::create_directory(dir, ec)) {
                fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
                Path = PathText(dir);
            }
        }
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
