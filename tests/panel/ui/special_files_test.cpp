// Every writer and reader of the product's files against what may stand
// where a file is expected: a folder, a FIFO, a socket, a device, a link to
// a FIFO, a write-protected file. Each is refused with its reason and left
// as it was; a reader never waits on a FIFO nor reads a device. A link to a
// private file is written through, the link and the file's mode kept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <functional>
#include <future>
#include <string>

#include "app/Configuration.h"
#include "panel/AlarmJournal.h"
#include "panel/CurrentTrend.h"
#include "panel/SetpointFile.h"
#include "panel/ui/SetpointReportPrint.h"
#include "panel/ui/TrendWindow.h"
#include "ports/SerialLines.h"
#include "protocol/MonitorBuffer.h"
#include "support/SpecialFiles.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using test::TSpecial;

// Writes the file at `path`: true when written, else false with the reason
// somewhere in `error`.
using TWrite = std::function<bool(const std::string& path, std::string& error)>;

// Each writer's target is named by digits: a simulator's announcement is
// named by its process id.
constexpr const char* kName = "4242";

struct TLists {
    TUsers Users;
    TProtoPortList Ports;
    TDeviceList Devices;
    TLists() {
        RegisterBuiltInKinds();
        Users.Add(std::make_unique<TUser>("default", 1, ""));
    }
};

bool ByQt(const std::function<bool(QString&)>& write, std::string& error) {
    QString text;
    const bool ok = write(text);
    error = text.toStdString();
    return ok;
}

std::vector<std::pair<const char*, TWrite>> Writers() {
    static const TTextGrid grid = AlarmGrid({}, 1, {",", ".", ":"});
    static const TCurrentTrend trend;
    return {
        {"configuration",
         [](const std::string& path, std::string& error) {
             TLists l;
             TSaveOptions never;
             never.Copy = TCopyPolicy::Never;
             const auto r = SaveConfigurationFile(path, "", {l.Users, l.Ports, l.Devices}, never);
             error = r.Reason;
             return r.Saved;
         }},
        {"configuration copy",
         [](const std::string& path, std::string& error) {
             TLists l;
             test::TempDir other;
             const auto r =
                 SaveConfigurationFile(other.Path + "/application.cfg", path, {l.Users, l.Ports, l.Devices});
             error = "(no reason given)";
             return r.Saved && r.CopyRefreshed;
         }},
        {"setpoint file", [](const std::string& path,
                             std::string& error) { return SaveSetpointFile(path, TSetpointFile{}, error); }},
        {"alarm journal text",
         [](const std::string& path, std::string& error) { return SaveAlarmTextFile(grid, path, error); }},
        {"alarm journal workbook",
         [](const std::string& path, std::string& error) {
             return ExportGridToExcel(grid, {kAlarmColumnPixels.begin(), kAlarmColumnPixels.end()},
                                      kAlarmSheetTitle, path, error);
         }},
        {"monitor list", [](const std::string& path,
                            std::string& error) { return SaveMonitorText(path, "Монитор обмена\n", error); }},
        {"current trend CSV",
         [](const std::string& path, std::string& error) {
             TTrendWindow window(trend, {",", ".", ":"}, "trend", nullptr);
             return ByQt([&](QString& e) { return window.SaveCsv(QString::fromStdString(path), e); }, error);
         }},
        {"setpoint report PDF",
         [](const std::string& path, std::string& error) {
             return ByQt(
                 [&](QString& e) {
                     return SaveReportPdf(TSetpointReport{}, QString::fromStdString(path), e);
                 },
                 error);
         }},
        {"simulator announcement",
         [](const std::string& path, std::string& error) {
             TAnnouncedLine line{"pts/17", std::stoi(kName), 1, 1, {{0, 1}}};
             return WriteAnnouncement(path.substr(0, path.rfind('/')), line, error);
         }},
    };
}

std::vector<std::pair<const char*, TWrite>> Readers() {
    return {
        {"configuration",
         [](const std::string& path, std::string& error) {
             TLists l;
             const auto r = LoadConfigurationFile(path, {l.Users, l.Ports, l.Devices});
             error = r.Reason;
             return !r.Fatal;
         }},
        {"setpoint file",
         [](const std::string& path, std::string& error) {
             const auto r = LoadSetpointFile(path);
             error = r.Error;
             return r.File.has_value();
         }},
    };
}

std::string ReasonFor(TSpecial kind) {
    switch (kind) {
        case TSpecial::Folder:
            return NotRegularFileReason(TFileKind::Folder);
        case TSpecial::Fifo:
        case TSpecial::LinkToFifo:
            return NotRegularFileReason(TFileKind::Fifo);
        case TSpecial::Socket:
            return NotRegularFileReason(TFileKind::Socket);
        case TSpecial::Device:
            return NotRegularFileReason(TFileKind::Device);
        case TSpecial::WriteProtected:
            break;
    }
    return SystemReason(EACCES);
}

constexpr TSpecial kSpecials[] = {TSpecial::Folder, TSpecial::Fifo,       TSpecial::Socket,
                                  TSpecial::Device, TSpecial::LinkToFifo, TSpecial::WriteProtected};

TEST(SpecialFiles, EveryWriterRefusesWhatIsNoRegularFileAndLeavesItAsItWas) {
    for (const auto& [writer, write] : Writers()) {
        for (const TSpecial kind : kSpecials) {
            test::TempDir dir;
            const std::string path = dir.Path + "/" + kName;
            ASSERT_TRUE(test::MakeSpecial(kind, path)) << test::SpecialName(kind);
            const std::string picture = test::Picture(path);
            const auto names = test::Names(dir.Path);
            std::string error;
            EXPECT_FALSE(write(path, error)) << writer << ", " << test::SpecialName(kind);
            if (std::string_view(writer) != "configuration copy") {
                EXPECT_NE(error.find(ReasonFor(kind)), std::string::npos)
                    << writer << ", " << test::SpecialName(kind) << ": " << error;
            }
            EXPECT_EQ(test::Picture(path), picture) << writer << ", " << test::SpecialName(kind);
            EXPECT_EQ(test::Names(dir.Path), names) << writer << ", " << test::SpecialName(kind);
        }
        // A link to a private file: written through, link and mode kept.
        test::TempDir dir;
        const std::string file = dir.Path + "/private";
        std::ofstream(file) << "old";
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        ASSERT_EQ(::symlink("private", (dir.Path + "/" + kName).c_str()), 0);
        std::string error;
        EXPECT_TRUE(write(dir.Path + "/" + kName, error)) << writer << ": " << error;
        struct stat link {};
        struct stat st {};
        ASSERT_EQ(::lstat((dir.Path + "/" + kName).c_str(), &link), 0);
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(link.st_mode)) << writer;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << writer;
        EXPECT_NE(test::ReadText(file), "old") << writer;
    }
}

TEST(SpecialFiles, EveryReaderRefusesWhatIsNoRegularFileWithoutWaiting) {
    for (const auto& [reader, read] : Readers()) {
        for (const TSpecial kind : kSpecials) {
            if (kind == TSpecial::WriteProtected) continue;  // readable
            test::TempDir dir;
            const std::string path = dir.Path + "/" + kName;
            ASSERT_TRUE(test::MakeSpecial(kind, path)) << test::SpecialName(kind);
            std::string error;
            auto done = std::async(std::launch::async, [&] { return read(path, error); });
            if (done.wait_for(std::chrono::milliseconds(test::kHangLimitMs)) != std::future_status::ready) {
                // Let a reader that waits on the FIFO go, then fail.
                const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
                done.wait();
                if (writer >= 0) ::close(writer);
                ADD_FAILURE() << reader << " waited on " << test::SpecialName(kind);
                continue;
            }
            EXPECT_FALSE(done.get()) << reader << ", " << test::SpecialName(kind);
            EXPECT_NE(error.find(ReasonFor(kind)), std::string::npos)
                << reader << ", " << test::SpecialName(kind) << ": " << error;
        }
    }
}

}  // namespace
}  // namespace tovik
