// The Windows side of the files seam: wide-character names, device names
// that are never opened, the read-only attribute, leftovers of writers that
// ended half-way, the lock, and the folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "base/Cp1251.h"
#include "base/Files.h"
#include "support/TempDir.h"

namespace tovik {
namespace {

struct WinFiles : ::testing::Test {
    test::TempDir Dir;
    std::string At(const std::string& name) const { return JoinPath(Dir.Path, name); }
    static std::string Read(const std::string& path) {
        std::string reason;
        return ReadFileBytes(path, 1 << 20, reason).value_or("(" + reason + ")");
    }
};

TEST_F(WinFiles, CyrillicNamesAndFoldersAreWrittenWholeAndReadBack) {
    ASSERT_FALSE(Dir.Path.empty());
    std::string reason;
    const std::string folder = At("Отчёты\\Насосная №2");
    ASSERT_TRUE(MakeFolders(folder, reason)) << reason;
    EXPECT_EQ(FileKindOf(folder), TFileKind::Folder);
    const std::string file = JoinPath(folder, "журнал аварий.txt");
    ASSERT_TRUE(ReplaceFileBytes(file, "первый", reason)) << reason;
    ASSERT_TRUE(ReplaceFileBytes(file, "второй", reason)) << reason;
    EXPECT_EQ(Read(file), "второй");
    EXPECT_EQ(FileKindOf(file), TFileKind::Regular);
    EXPECT_TRUE(SameFile(file, JoinPath(At("Отчёты"), "Насосная №2/журнал аварий.txt")));
    EXPECT_TRUE(CanWriteFolder(folder));
    // Only the file: no new file left behind, no probe.
    WIN32_FIND_DATAW entry{};
    const std::u16string pattern = Utf8ToUtf16(JoinPath(folder, "*")).value();
    HANDLE find = ::FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern.c_str()), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int entries = 0;
    do entries += entry.cFileName[0] != L'.';
    while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    EXPECT_EQ(entries, 1);
    EXPECT_FALSE(MakeFolders(JoinPath(file, "x"), reason));
}

// Devices and pipes are told by their names and never opened: opening one
// would take a pipe's connection or switch a line's modem lines.
TEST_F(WinFiles, DevicesAndPipesAreRefusedUnopenedAndReadOnlyFilesKept) {
    struct Case {
        std::string Path;
        TFileKind Kind;
    };
    const Case cases[] = {{"NUL", TFileKind::Device},
                          {At("con.txt"), TFileKind::Device},
                          {At("com7"), TFileKind::Device},
                          {"\\\\.\\COM3", TFileKind::Device},
                          {"\\\\.\\pipe\\tovik-test", TFileKind::Fifo},
                          {Dir.Path, TFileKind::Folder}};
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(FileKindOf(c.Path), c.Kind) << c.Path;
        EXPECT_FALSE(ReplaceFileBytes(c.Path, "x", reason)) << c.Path;
        EXPECT_EQ(reason, NotRegularFileReason(c.Kind)) << c.Path;
        EXPECT_FALSE(ReadFileBytes(c.Path, 10, reason)) << c.Path;
        EXPECT_EQ(reason, NotRegularFileReason(c.Kind)) << c.Path;
        EXPECT_EQ(TFileLock(c.Path).State(), TFileLock::TState::Failed) << c.Path;
    }
    const std::string file = At("readonly.txt");
    std::string reason;
    ASSERT_TRUE(ReplaceFileBytes(file, "kept", reason)) << reason;
    const std::u16string name = Utf8ToUtf16(file).value();
    ASSERT_TRUE(
        ::SetFileAttributesW(reinterpret_cast<const wchar_t*>(name.c_str()), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(ReplaceFileBytes(file, "new", reason));
    EXPECT_EQ(reason, SystemErrorText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Read(file), "kept");
    ::SetFileAttributesW(reinterpret_cast<const wchar_t*>(name.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(ReadFileBytes(At("none"), 10, reason));
    EXPECT_EQ(reason, SystemErrorText(ERROR_FILE_NOT_FOUND));
}

TEST_F(WinFiles, LeftoversOfEndedWritersGoAndTheLockIsHeldOnce) {
    std::string reason;
    // A writer that ended half-way (no such process) and one still at work
    // (this one).
    const std::string dead = At(".a.txt.4000000-0");
    const std::string live = At(".a.txt." + std::to_string(::GetCurrentProcessId()) + "-999");
    ASSERT_TRUE(ReplaceFileBytes(dead, "half", reason)) << reason;
    ASSERT_TRUE(ReplaceFileBytes(live, "half", reason)) << reason;
    ASSERT_TRUE(ReplaceFileBytes(At("a.txt"), "whole", reason)) << reason;
    EXPECT_EQ(FileKindOf(dead), TFileKind::Missing);
    EXPECT_EQ(FileKindOf(live), TFileKind::Regular);

    const std::string path = At("конфигурация.cfg.lock");
    auto first = std::make_unique<TFileLock>(path);
    ASSERT_EQ(first->State(), TFileLock::TState::Held) << first->Reason();
    EXPECT_EQ(Read(path), std::to_string(::GetCurrentProcessId()) + "\n");
    const TFileLock second(path);
    EXPECT_EQ(second.State(), TFileLock::TState::InUse);
    EXPECT_EQ(second.Holder(), static_cast<int64_t>(::GetCurrentProcessId()));
    first.reset();
    EXPECT_EQ(FileKindOf(path), TFileKind::Missing);
    EXPECT_TRUE(TFileLock(path).Held());
    EXPECT_EQ(TFileLock(At("none\\x.lock")).Reason(), SystemErrorText(ERROR_PATH_NOT_FOUND));
}

TEST(WinPaths, FoldersOfWindowsNames) {
    const std::pair<std::string, std::string> cases[] = {{"C:\\Tovik\\application.cfg", "C:\\Tovik"},
                                                         {"C:\\application.cfg", "C:\\"},
                                                         {"C:application.cfg", "C:"},
                                                         {"application.cfg", "."},
                                                         {"D:/data/a.txt", "D:/data"},
                                                         {"\\\\server\\share\\a.txt", "\\\\server\\share"}};
    for (const auto& [path, folder] : cases) EXPECT_EQ(DirectoryOf(path), folder) << path;
    EXPECT_EQ(JoinPath("C:\\Tovik", "a.cfg"), "C:\\Tovik\\a.cfg");
    EXPECT_EQ(JoinPath("C:\\", "a.cfg"), "C:\\a.cfg");
    EXPECT_EQ(JoinPath("D:/data/", "a.cfg"), "D:/data/a.cfg");
    // The program's own folder holds the program.
    EXPECT_EQ(FileKindOf(JoinPath(ProgramFolder(), "tests_base.exe")), TFileKind::Regular);
}

}  // namespace
}  // namespace tovik
