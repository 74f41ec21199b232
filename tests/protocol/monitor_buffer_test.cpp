// The monitor's bounded list: a flood of frames from a worker never makes
// it grow past its capacity, every frame lost is counted, and the list
// saved as text is exactly what it shows.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ports/FrameTrace.h"
#include "protocol/Frame.h"
#include "protocol/MonitorBuffer.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;

// The i-th frame of a flood: a native state read to bus number i % 250 + 1
// that carries i in its data.
TFrameTraceRecord Numbered(uint32_t i) {
    TFrameTraceRecord r;
    r.Direction = TTraceDirection::Sent;
    r.Address = static_cast<uint8_t>(i % 250 + 1);
    r.DeviceKind = 0;
    r.Command = {20, 1, -1};
    Bytes payload = {r.Address, 20, 1};
    for (int b = 0; b < 4; ++b) payload.push_back(static_cast<uint8_t>(i >> (8 * b)));
    r.Bytes = BuildNativeFrame(payload);
    r.Try = 1;
    r.WallMs = 1000 + i;
    r.PortName = "pts/9";
    return r;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tovik-monitor-XXXXXX";
        if (::mkdtemp(tmpl)) Path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(Path.c_str())) {
            while (dirent* e = ::readdir(d))
                if (e->d_name[0] != '.') out.push_back(e->d_name);
            ::closedir(d);
        }
        return out;
    }
    std::string Path;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A worker pours frames into the queue while this thread takes them into
// the list as the window's timer does: whatever the timing, the list stays
// within its capacity, keeps the newest frames in order, and counts every
// other one as dropped.
TEST(MonitorBuffer, AFloodStaysBoundedAndEveryLostFrameIsCounted) {
    constexpr uint32_t kFrames = 60000;
    auto queue = std::make_shared<TFrameTraceQueue>(500);
    TMonitorBuffer buffer(200);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (uint32_t i = 0; i < kFrames; ++i) queue->OnFrame(Numbered(i));
        done = true;
    });
    size_t maxSize = 0;
    for (;;) {
        const bool last = done.load();
        buffer.Append(queue->Take());
        buffer.CountDropped(queue->TakeDropped());
        maxSize = std::max(maxSize, buffer.Size());
        if (last) break;
    }
    worker.join();
    buffer.Append(queue->Take());
    buffer.CountDropped(queue->TakeDropped());

    EXPECT_LE(maxSize, buffer.Capacity());
    ASSERT_EQ(buffer.Size(), 200u);
    EXPECT_EQ(buffer.Dropped() + buffer.Size(), kFrames);
    // The newest frames, oldest first.
    for (size_t i = 0; i < buffer.Size(); ++i) {
        const uint32_t n = kFrames - 200 + static_cast<uint32_t>(i);
        EXPECT_EQ(buffer.Row(i).Columns.Address, static_cast<int>(n % 250 + 1));
        EXPECT_EQ(buffer.Row(i).Line, DecodedTraceLine(Numbered(n))) << i;
    }
}

TEST(MonitorBuffer, AppendKeepsOnlyTheNewestAndSaysHowManyWent) {
    TMonitorBuffer buffer(3);
    EXPECT_EQ(buffer.Append({Numbered(1), Numbered(2)}), 0u);
    EXPECT_EQ(buffer.Append({Numbered(3), Numbered(4)}), 1u);
    // A batch larger than the list: only its newest rows are decoded.
    EXPECT_EQ(buffer.Append({Numbered(5), Numbered(6), Numbered(7), Numbered(8), Numbered(9)}), 3u);
    ASSERT_EQ(buffer.Size(), 3u);
    EXPECT_EQ(buffer.Row(0).Columns.Address, 8);
    EXPECT_EQ(buffer.Row(2).Columns.Address, 10);
    EXPECT_EQ(buffer.Dropped(), 6u);
    // Rows are found by their serial number while they are kept.
    const uint64_t newest = buffer.Row(2).Serial;
    EXPECT_EQ(buffer.Row(0).Serial + 2, newest);
    EXPECT_EQ(buffer.Find(newest), &buffer.Row(2));
    EXPECT_EQ(buffer.Find(newest - 3), nullptr);
    EXPECT_EQ(buffer.Find(newest + 1), nullptr);
    EXPECT_EQ(buffer.NextSerial(), newest + 1);
    buffer.Clear();
    EXPECT_EQ(buffer.Find(newest), nullptr);
    buffer.Append({Numbered(10)});
    EXPECT_EQ(buffer.Row(0).Serial, newest + 1);
    buffer.Clear();
    EXPECT_EQ(buffer.Size(), 0u);
    EXPECT_EQ(buffer.Dropped(), 0u);
}

TEST(MonitorBuffer, FilterMatchesTheFrameOrItsRequest) {
    TMonitorBuffer buffer;
    TFrameTraceRecord foreign;  // number 5 was asked, number 6 answered
    foreign.Direction = TTraceDirection::Received;
    foreign.Address = 5;
    foreign.DeviceKind = 0;
    foreign.Command = {23, -1, 0};
    foreign.Bytes = BuildNativeFrame(Bytes{6, 23, 0, 0, 0, 1});
    foreign.Outcome = {TReplyStatus::Foreign};
    buffer.Append({Numbered(3), foreign, Numbered(4)});  // numbers 4, (5 and 6), 5
    auto matching = [&](int bus) {
        std::vector<size_t> rows;
        for (size_t i = 0; i < buffer.Size(); ++i)
            if (buffer.Row(i).Matches(bus)) rows.push_back(i);
        return rows;
    };
    EXPECT_EQ(matching(0), (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(matching(5), (std::vector<size_t>{1, 2}));
    EXPECT_EQ(matching(6), (std::vector<size_t>{1}));
    EXPECT_EQ(matching(7), (std::vector<size_t>{}));
}

TEST(MonitorBuffer, SavedTextIsTheListAsShown) {
    TempDir dir;
    TMonitorBuffer buffer(2);
    buffer.Append({Numbered(1), Numbered(2), Numbered(3)});
    buffer.CountDropped(4);
    const std::string all = buffer.Text(0, "pts/9");
    EXPECT_EQ(all, "Монитор обмена, порт pts/9\nПропущено кадров: 5\n" + DecodedTraceLine(Numbered(2)) +
                       "\n" + DecodedTraceLine(Numbered(3)) + "\n");
    const std::string four = buffer.Text(4, "pts/9");
    EXPECT_EQ(four, "Монитор обмена, порт pts/9, устройство 4\nПропущено кадров: 5\n" +
                        DecodedTraceLine(Numbered(3)) + "\n");

    const std::string path = dir.Path + "/обмен.txt";
    std::string error;
    ASSERT_TRUE(SaveMonitorText(path, all, error)) << error;
    EXPECT_EQ(ReadFile(path), all);
    // Saving again replaces the file whole and leaves nothing beside it.
    ASSERT_TRUE(SaveMonitorText(path, four, error)) << error;
    EXPECT_EQ(ReadFile(path), four);
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"обмен.txt"}));
    // A new file is made as any new file is.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST(MonitorBuffer, AFailedSaveSaysWhyAndKeepsTheOldFile) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(SaveMonitorText(dir.Path + "/нет такой папки/обмен.txt", "x", error));
    EXPECT_NE(error.find("нет такой папки/обмен.txt: "), std::string::npos) << error;
    EXPECT_FALSE(SaveMonitorText("", "x", error));
    EXPECT_FALSE(error.empty());

    // The name is taken by a folder: the rename fails, and the folder and
    // its contents stay as they were.
    const std::string taken = dir.Path + "/обмен.txt";
    ASSERT_EQ(::mkdir(taken.c_str(), 0755), 0);
    std::ofstream(taken + "/inside") << "kept";
    error.clear();
    EXPECT_FALSE(SaveMonitorText(taken, "new text", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(taken + "/inside"), "kept");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"обмен.txt"}));
}

}  // namespace
}  // namespace tovik
