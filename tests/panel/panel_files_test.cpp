// The panel's files are replaced whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "panel/PanelFiles.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

struct Scratch {
    std::string Path;
    Scratch() {
        std::string tmpl = (fs::temp_directory_path() / "tovik-files-XXXXXX").string();
        Path = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~Scratch() {
        std::error_code ec;
        fs::permissions(Path, fs::perms::owner_all, ec);
        fs::remove_all(Path, ec);
    }
    size_t Count() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(Path), fs::directory_iterator()));
    }
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(PanelFiles, ReplacesWholeKeepsModeAndWritesThroughLinks) {
    Scratch dir;
    const std::string file = dir.Path + "/a.txt";
    std::string reason;
    ASSERT_TRUE(ReplaceFileBytes(file, "first", reason)) << reason;
    EXPECT_EQ(Read(file), "first");
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(ReplaceFileBytes(file, "second", reason)) << reason;
    EXPECT_EQ(Read(file), "second");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // A link stays a link; its target gets the new contents.
    fs::create_symlink("a.txt", dir.Path + "/link.txt");
    ASSERT_TRUE(ReplaceFileBytes(dir.Path + "/link.txt", "third", reason)) << reason;
    EXPECT_TRUE(fs::is_symlink(dir.Path + "/link.txt"));
    EXPECT_EQ(Read(file), "third");
    EXPECT_EQ(dir.Count(), 2u);
}

TEST(PanelFiles, RefusalsGiveTheSystemsReasonAndLeaveNothingBehind) {
    Scratch dir;
    std::string reason;
    EXPECT_FALSE(ReplaceFileBytes(dir.Path + "/none/a.txt", "x", reason));
    EXPECT_EQ(reason, "No such file or directory");
    fs::create_directory(dir.Path + "/folder");
    EXPECT_FALSE(ReplaceFileBytes(dir.Path + "/folder", "x", reason));
    EXPECT_EQ(reason, "Is a directory");
    // A file without write permission is not replaced, whoever asks.
    const std::string locked = dir.Path + "/locked.txt";
    std::ofstream(locked) << "keep";
    ::chmod(locked.c_str(), 0444);
    EXPECT_FALSE(ReplaceFileBytes(locked, "x", reason));
    EXPECT_EQ(reason, "Permission denied");
    EXPECT_EQ(Read(locked), "keep");
    // A writer that fails: the old file stays, its new file goes.
    const std::string file = dir.Path + "/b.txt";
    std::ofstream(file) << "old";
    EXPECT_FALSE(ReplaceFile(
        file,
        [](const std::string& newFile, std::string& why) {
            std::ofstream(newFile) << "half";
            why = "broken";
            return false;
        },
        reason));
    EXPECT_EQ(reason, "broken");
    EXPECT_EQ(Read(file), "old");
    EXPECT_EQ(dir.Count(), 3u);
}

TEST(PanelFiles, ReadsAtMostTheLimitAndOnlyRegularFiles) {
    Scratch dir;
    const std::string file = dir.Path + "/c.bin";
    std::ofstream(file, std::ios::binary) << std::string(70000, 'z');
    std::string reason;
    auto bytes = ReadFileBytes(file, 100000, reason);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 70000u);
    bytes = ReadFileBytes(file, 65537, reason);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 65537u);
    EXPECT_FALSE(ReadFileBytes(dir.Path, 10, reason));
    EXPECT_EQ(reason, "Is a directory");
    ASSERT_EQ(::mkfifo((dir.Path + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReadFileBytes(dir.Path + "/fifo", 10, reason));  // never waits for a writer
    EXPECT_FALSE(ReadFileBytes(dir.Path + "/none", 10, reason));
    EXPECT_EQ(reason, "No such file or directory");
}

}  // namespace
}  // namespace tovik
