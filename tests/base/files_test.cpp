// Replacing a file whole, reading one, the lock and the folders: the rules
// every writer and reader of the product shares, tested here once.
#include "base/Files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "support/SpecialFiles.h"
#include "support/TempDir.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;
using test::Names;
using test::Picture;
using test::ReadText;

struct Files : ::testing::Test {
    test::TempDir Dir;
    std::string At(const std::string& name) const { return Dir.Path + "/" + name; }
    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

TEST_F(Files, ReplacesWholeKeepingTheModeAndWritingThroughLinks) {
    std::string reason;
    const std::string file = At("a.txt");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(ReplaceFileBytes(file, "first", reason)) << reason;
    EXPECT_EQ(ModeOf(file), 0666 & ~mask);  // as any new file
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_TRUE(ReplaceFileBytes(file, "second", reason)) << reason;
    EXPECT_EQ(ReadText(file), "second");
    EXPECT_EQ(ModeOf(file), 0600u);  // a private file stays private

    // A link whose relative target is a link in another folder, which
    // points on relative to its own folder: the file at the end gets the
    // contents, and both links stay.
    fs::create_directories(At("sub/deeper"));
    std::ofstream(At("sub/deeper/target.txt")) << "old";
    ASSERT_EQ(::chmod(At("sub/deeper/target.txt").c_str(), 0640), 0);
    fs::create_symlink("target.txt", At("sub/deeper/second"));
    fs::create_symlink("sub/deeper/second", At("first"));
    ASSERT_TRUE(ReplaceFileBytes(At("first"), "through", reason)) << reason;
    EXPECT_EQ(ReadText(At("sub/deeper/target.txt")), "through");
    EXPECT_EQ(ModeOf(At("sub/deeper/target.txt")), 0640u);
    EXPECT_TRUE(fs::is_symlink(At("first")));
    EXPECT_TRUE(fs::is_symlink(At("sub/deeper/second")));
    EXPECT_FALSE(fs::exists(At("target.txt")));

    // A link to a file that is not there yet: the file is made there.
    fs::create_symlink("sub/made.txt", At("ahead"));
    ASSERT_TRUE(ReplaceFileBytes(At("ahead"), "made", reason)) << reason;
    EXPECT_EQ(ReadText(At("sub/made.txt")), "made");
    EXPECT_TRUE(fs::is_symlink(At("ahead")));
    EXPECT_EQ(Names(Dir.Path), (std::set<std::string>{"a.txt", "ahead", "first", "sub"}));
    EXPECT_EQ(Names(At("sub")), (std::set<std::string>{"deeper", "made.txt"}));
}

TFileKind KindOf(test::TSpecial kind) {
    switch (kind) {
        case test::TSpecial::Folder:
            return TFileKind::Folder;
        case test::TSpecial::Socket:
            return TFileKind::Socket;
        case test::TSpecial::Device:
            return TFileKind::Device;
        case test::TSpecial::Fifo:
        case test::TSpecial::LinkToFifo:
            return TFileKind::Fifo;
        case test::TSpecial::WriteProtected:
            break;
    }
    return TFileKind::Regular;
}

// Whatever stands in the way, a refused save leaves it exactly as it was
// and leaves nothing behind.
TEST_F(Files, RefusalsLeaveTheTargetAsItWasAndNothingBehind) {
    struct Case {
        std::string What;
        std::function<std::string(const std::string& folder)> Make;  // the name to save to
        std::string Reason;                                          // empty: any
    };
    std::vector<Case> cases;
    for (const auto kind :
         {test::TSpecial::Folder, test::TSpecial::Fifo, test::TSpecial::Socket, test::TSpecial::Device,
          test::TSpecial::LinkToFifo, test::TSpecial::WriteProtected})
        cases.push_back({test::SpecialName(kind),
                         [kind](const std::string& folder) {
                             EXPECT_TRUE(test::MakeSpecial(kind, folder + "/target"));
                             return folder + "/target";
                         },
                         kind == test::TSpecial::WriteProtected ? SystemReason(EACCES)
                                                                : NotRegularFileReason(KindOf(kind))});
    cases.push_back({"a loop of links",
                     [](const std::string& folder) {
                         fs::create_symlink("target", folder + "/target");
                         return folder + "/target";
                     },
                     SystemReason(ELOOP)});
    cases.push_back({"a missing folder", [](const std::string& folder) { return folder + "/none/target"; },
                     SystemReason(ENOENT)});
    // Root may write in a folder without write permission: /proc takes no
    // new file from anyone.
    cases.push_back({"a folder nobody may write in",
                     [](const std::string& folder) {
                         if (::geteuid() == 0) return std::string("/proc/tovik-test-target");
                         fs::create_directory(folder + "/locked");
                         ::chmod((folder + "/locked").c_str(), 0555);
                         return folder + "/locked/target";
                     },
                     ""});
    for (const Case& c : cases) {
        test::TempDir folder;  // each case in a folder of its own
        const std::string path = c.Make(folder.Path);
        const auto before = Names(folder.Path);
        const std::string picture = Picture(path);
        std::string reason;
        EXPECT_FALSE(ReplaceFileBytes(path, "new", reason)) << c.What;
        if (c.Reason.empty()) {
            EXPECT_FALSE(reason.empty()) << c.What;
        } else {
            EXPECT_EQ(reason, c.Reason) << c.What;
        }
        EXPECT_EQ(Picture(path), picture) << c.What;
        EXPECT_EQ(Names(folder.Path), before) << c.What;
        ::chmod((folder.Path + "/locked").c_str(), 0755);
    }
}

TEST_F(Files, AFailedWriteKeepsTheOldFile) {
    const std::string file = At("b.txt");
    std::ofstream(file) << "old";
    std::string reason;
    EXPECT_FALSE(ReplaceFile(
        file,
        [](const std::string& newFile, std::string& why) {
            std::ofstream(newFile) << "half";
            why = "broken";
            return false;
        },
        reason));
    EXPECT_EQ(reason, "broken");
    EXPECT_EQ(ReadText(file), "old");
    {
        test::TFileSizeLimit full(100);  // the disk fills up half-way
        EXPECT_FALSE(ReplaceFileBytes(file, std::string(1000, 'x'), reason));
    }
    EXPECT_EQ(reason, SystemReason(EFBIG));
    EXPECT_EQ(ReadText(file), "old");
    EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"b.txt"});
}

// The cases that need a process of their own.
struct FilesProcesses : Files {};

// A kill between writing and renaming: the old file stays, and the next
// save takes away what the killed writer left.
TEST_F(FilesProcesses, AKilledWriterLosesNothingAndItsNewFileGoesLater) {
    const std::string file = At("c.txt");
    std::ofstream(file) << "old";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string reason;
        ReplaceFile(
            file,
            [](const std::string& newFile, std::string& why) {
                WriteNewFile(newFile, "new", why);
                ::raise(SIGKILL);
                return true;
            },
            reason);
        ::_exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadText(file), "old");
    EXPECT_EQ(Names(Dir.Path).size(), 2u);  // the file and the killed writer's new one
    std::string reason;
    ASSERT_TRUE(ReplaceFileBytes(file, "newer", reason)) << reason;
    EXPECT_EQ(ReadText(file), "newer");
    EXPECT_EQ(Names(Dir.Path), std::set<std::string>{"c.txt"});
}

// Another user's file that this user may not write, in a folder anyone may
// write: only root can set that up, and the save runs as another user.
TEST_F(FilesProcesses, AnotherUsersFileIsNeverReplaced) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
    const std::string file = At("d.txt");
    std::ofstream(file) << "root's";
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(Dir.Path.c_str(), 0777), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string reason;
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        ::_exit(!ReplaceFileBytes(file, "nobody's", reason) && reason == SystemReason(EACCES) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadText(file), "root's");
}

TEST_F(Files, ReadsAtMostTheLimitAndOnlyRegularFiles) {
    const std::string file = At("e.bin");
    std::ofstream(file, std::ios::binary) << std::string(70000, 'z');
    std::string reason;
    bool opened = false;
    auto bytes = ReadFileBytes(file, 100000, reason, &opened);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(opened);
    EXPECT_EQ(bytes->size(), 70000u);
    EXPECT_EQ(ReadFileBytes(file, 65537, reason)->size(), 65537u);
    EXPECT_FALSE(ReadFileBytes(At("none"), 10, reason, &opened));
    EXPECT_FALSE(opened);
    EXPECT_EQ(reason, SystemReason(ENOENT));
    // Refused unopened: a FIFO would wait for a writer, a device never end.
    for (const auto kind : {test::TSpecial::Folder, test::TSpecial::Fifo, test::TSpecial::Device}) {
        const std::string path = At(std::string("special-") + test::SpecialName(kind));
        ASSERT_TRUE(test::MakeSpecial(kind, path)) << test::SpecialName(kind);
        EXPECT_FALSE(ReadFileBytes(path, 100, reason)) << test::SpecialName(kind);
        EXPECT_EQ(reason, NotRegularFileReason(FileKindOf(path))) << test::SpecialName(kind);
    }
}

TEST_F(Files, ALockIsHeldOnceAndGoesWithItsHolder) {
    const std::string path = At("config.lock");
    auto first = std::make_unique<TFileLock>(path);
    ASSERT_EQ(first->State(), TFileLock::TState::Held) << first->Reason();
    EXPECT_EQ(ReadText(path), std::to_string(::getpid()) + "\n");
    // A second hold in the same process is refused as one in another would be.
    const TFileLock second(path);
    EXPECT_EQ(second.State(), TFileLock::TState::InUse);
    EXPECT_EQ(second.Holder(), ::getpid());
    first.reset();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(TFileLock(path).Held());

    // Only a regular file is a lock file.
    ASSERT_TRUE(test::MakeSpecial(test::TSpecial::Fifo, path));
    const TFileLock fifo(path);
    EXPECT_EQ(fifo.State(), TFileLock::TState::Failed);
    EXPECT_EQ(fifo.Reason(), NotRegularFileReason(TFileKind::Fifo));
    EXPECT_EQ(TFileLock(At("none/config.lock")).Reason(), SystemReason(ENOENT));
}

TEST_F(Files, FoldersAreMadeAndTriedForWriting) {
    std::string reason;
    ASSERT_TRUE(MakeFolders(At("a/b/c"), reason)) << reason;
    EXPECT_EQ(ModeOf(At("a/b/c")) & 0077, 0u);  // private to the user
    EXPECT_TRUE(MakeFolders(At("a/b/c"), reason));
    std::ofstream(At("file")) << "x";
    EXPECT_FALSE(MakeFolders(At("file/d"), reason));
    EXPECT_TRUE(CanWriteFolder(At("a/b/c")));
    EXPECT_TRUE(Names(At("a/b/c")).empty());  // the try leaves nothing
    EXPECT_FALSE(CanWriteFolder("/proc"));    // not even for root

    // $XDG_CONFIG_HOME when it is a full path, else ~/.config.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = xdg ? xdg : "";
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    ::setenv("HOME", "/home/operator", 1);
    ::setenv("XDG_CONFIG_HOME", "/srv/config", 1);
    EXPECT_EQ(UserConfigFolder(), "/srv/config");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(UserConfigFolder(), "/home/operator/.config");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserConfigFolder(), "/home/operator/.config");
    xdg ? ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    home ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
}

}  // namespace
}  // namespace tovik
