#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "XlsxTestUtil.h"
#include "panel/AlarmJournal.h"
#include "panel/TaskLog.h"
#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/Frame.h"
#include "support/PtyResponder.h"

namespace tovik {
namespace {

const TLocaleFormat kRu{",", ".", ":"};

TAlarmRecord Record(std::array<uint8_t, 6> time, uint8_t cause, uint32_t a, uint32_t b, uint32_t c) {
    TAlarmRecord r{};
    std::copy(time.begin(), time.end(), r.begin());
    r[6] = cause;
    const uint32_t cur[3] = {a, b, c};
    for (size_t i = 0; i < 3; ++i)
        for (size_t k = 0; k < 4; ++k) r[7 + 4 * i + k] = static_cast<uint8_t>(cur[i] >> (8 * k));
    return r;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tovik-journal-XXXXXX").string();
        Path = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    std::string Path;
};

TEST(WriteFixedWidthTest, PadsCutsAndEncodes) {
    struct Case {
        std::string text;
        size_t width;
        std::string bytes;
        bool exact;
    };
    const std::vector<Case> cases = {
        {"", 3, "   ", true},
        {"ab", 4, "ab  ", true},
        {"abcdef", 4, "abcd", true},
        {"токи", 6, "\xF2\xEE\xEA\xE8  ", true},  // one Windows-1251 byte per letter
        {"ёЁ№", 3, "\xB8\xA8\xB9", true},
        {"a日b", 3, "a?b", false},                      // not in Windows-1251
        {std::string("a\xFF") + "b", 3, "a?b", false},  // not UTF-8
        {"\xD0", 2, "? ", false},                       // a cut-off sequence
        {"abc", 0, "", true},
    };
    for (const auto& c : cases) {
        std::string out = "x";
        EXPECT_EQ(WriteFixedWidth(c.text, c.width, out), c.exact) << c.text;
        EXPECT_EQ(out, "x" + c.bytes) << c.text;
    }
}

TEST(AlarmGridTest, RowsAsTheGridShowsThem) {
    const std::vector<TAlarmRecord> cache = {
        Record({14, 30, 5, 7, 3, 26}, 4, 12345, 100000000, 0),
        Record({9, 0, 0, 1, 12, 25}, 0x82, 500, 600, 700),
    };
    const TTextGrid grid = AlarmGrid(cache, 1, kRu);
    ASSERT_EQ(grid.size(), 3u);
    EXPECT_EQ(grid[0], (TTextRow{"Дата/время", "причина аварии", "токи"}));
    EXPECT_EQ(grid[1], (TTextRow{"7.03.2026 14:30:05", "Короткое замыкание", "Ia=12,3 Ib=^^^^ Ic=0,00"}));
    EXPECT_EQ(grid[2],
              (TTextRow{"1.12.2025 09:00:00", "Превышение максимального тока", "Ia=0,5 Ib=0,6 Ic=0,7"}));
    // Kтр scales the currents.
    EXPECT_EQ(AlarmGrid(cache, 100, kRu)[1][2], "Ia=1230 Ib=^^^^ Ic=0,00");

    const TTextGrid empty = AlarmGrid({}, 1, kRu);
    ASSERT_EQ(empty.size(), 2u);
    EXPECT_EQ(empty[1], (TTextRow{"", "", ""}));
}

TEST(AlarmTextFileTest, EmptyJournalIsHeaderAndBlankLine) {
    const std::string text = FixedWidthText(AlarmGrid({}, 1, kRu), {21, 32, 25});
    std::string header;
    WriteFixedWidth("Дата/время", 21, header);
    WriteFixedWidth("причина аварии", 32, header);
    WriteFixedWidth("токи", 25, header);
    EXPECT_EQ(text, header + "\r\n" + std::string(78, ' ') + "\r\n");
    EXPECT_EQ(header.size(), 78u);
}

TEST(AlarmTextFileTest, LinesOf78CharactersAndLongTextCut) {
    TTextGrid grid = AlarmGrid({Record({1, 2, 3, 4, 5, 6}, 1, 1, 2, 3)}, 1, kRu);
    grid[1][2] = "Ia=123456789 Ib=123456789 Ic=123456789";  // longer than its 25 characters
    ScratchDir dir;
    const std::string path = dir.Path + "/journal.txt";
    std::string error;
    ASSERT_TRUE(SaveAlarmTextFile(grid, path, error)) << error;
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 2u * 80u);
    EXPECT_EQ(bytes.substr(78, 2), "\r\n");
    EXPECT_EQ(bytes.substr(80, 21), "4.05.2006 01:02:03   ");
    EXPECT_EQ(bytes.substr(80 + 53, 25), "Ia=123456789 Ib=123456789");
    EXPECT_EQ(bytes.substr(158), "\r\n");
    // The cause in Windows-1251: "Превышение номинального тока".
    EXPECT_EQ(static_cast<uint8_t>(bytes[80 + 21]), 0xCF);
}

TEST(AlarmTextFileTest, UnwritablePathReportsTheSystemError) {
    std::string error;
    EXPECT_FALSE(SaveAlarmTextFile(AlarmGrid({}, 1, kRu), "/nonexistent-dir/x.txt", error));
    EXPECT_NE(error.find("/nonexistent-dir/x.txt"), std::string::npos);
    EXPECT_NE(error.find("No such file"), std::string::npos);
}

TEST(ExcelExportTest, SheetNameCellsBoldAndWidths) {
    const TTextGrid grid = AlarmGrid({Record({14, 30, 5, 7, 3, 26}, 4, 12345, 100000000, 0)}, 1, kRu);
    ScratchDir dir;
    const std::string path = dir.Path + "/journal.xlsx";
    std::string error;
    ASSERT_TRUE(ExportGridToExcel(grid, {110, 200, 160}, kAlarmSheetTitle, path, error)) << error;

    const std::string workbook = test::XlsxPart(path, "xl/workbook.xml");
    EXPECT_NE(workbook.find("<sheet name=\"Аварийные отключения\""), std::string::npos) << workbook;
    EXPECT_EQ(test::CountOf(workbook, "<sheet "), 1u);

    const std::string strings = test::XlsxPart(path, "xl/sharedStrings.xml");
    for (const char* text : {"Дата/время", "причина аварии", "токи", "7.03.2026 14:30:05",
                             "Короткое замыкание", "Ia=12,3 Ib=^^^^ Ic=0,00"})
        EXPECT_NE(strings.find(std::string("<t>") + text + "</t>"), std::string::npos) << text;

    const std::string sheet = test::XlsxPart(path, "xl/worksheets/sheet1.xml");
    // Widths 110/6, 200/6 and 160/6 (Excel adds its padding to the stored width).
    EXPECT_NE(sheet.find("<col min=\"1\" max=\"1\" width=\"18."), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<col min=\"2\" max=\"2\" width=\"33."), std::string::npos);
    EXPECT_NE(sheet.find("<col min=\"3\" max=\"3\" width=\"26."), std::string::npos);
    EXPECT_NE(sheet.find("<col min=\"4\" max=\"16384\" width=\"14."), std::string::npos);
    // Six cells, header in row 1, all with the left-aligned bold style.
    EXPECT_EQ(test::CountOf(sheet, "<c r="), 6u);
    EXPECT_NE(sheet.find("<c r=\"A1\" s=\"2\" t=\"s\"><v>0</v>"), std::string::npos);
    EXPECT_EQ(test::CountOf(sheet, "s=\"2\" t=\"s\""), 6u);
    const std::string styles = test::XlsxPart(path, "xl/styles.xml");
    EXPECT_NE(styles.find("<font><b/>"), std::string::npos);
    EXPECT_NE(styles.find(
                  "fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\" applyAlignment=\"1\">"
                  "<alignment horizontal=\"left\"/>"),
              std::string::npos)
        << styles;
    EXPECT_NE(styles.find("<alignment horizontal=\"right\"/>"), std::string::npos);
}

TEST(ExcelExportTest, RefusalsWriteNothing) {
    ScratchDir dir;
    const std::string path = dir.Path + "/x.xlsx";
    std::string error;
    EXPECT_TRUE(ExportGridToExcel({}, {110}, kAlarmSheetTitle, path, error));  // nothing to export
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(ExportGridToExcel({{"a"}}, {110}, "bad/name", path, error));
    EXPECT_FALSE(ExportGridToExcel({{"a"}}, {110}, std::string(32, 'x'), path, error));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(ExportGridToExcel({{"a"}}, {110}, kAlarmSheetTitle, "/nonexistent-dir/x.xlsx", error));
    EXPECT_FALSE(error.empty());
}

TBlock TaskReply(std::array<uint8_t, 12> entry, uint8_t index, uint8_t count, uint8_t capacity) {
    TBlock b(entry.begin(), entry.end());
    b.push_back(index);
    b.push_back(count);
    b.push_back(capacity);
    return b;
}

TEST(TaskLogTest, ReadChainAndGrid) {
    TTaskLog log;
    log.BeginRead();
    const TBlock first = TaskReply({8, 0, 0, 5, 5, 26, 12, 0, 0, 5, 5, 26}, 0, 3, 16);
    EXPECT_EQ(log.OnTaskEntry(true, &first, 0), std::optional<uint8_t>(1));
    TTextGrid grid = log.Grid(kRu);
    ASSERT_EQ(grid.size(), 4u);
    EXPECT_EQ(grid[0], (TTextRow{"№", "Начало", "Окончание"}));
    EXPECT_EQ(grid[1], (TTextRow{"1", "5.05.2026 08:00:00", "5.05.2026 12:00:00"}));
    EXPECT_EQ(grid[2], (TTextRow{"2", "", ""}));  // not received yet
    const TBlock second = TaskReply({30, 61, 60, 0, 0, 150, 1, 2, 3, 32, 13, 99}, 1, 3, 16);
    EXPECT_EQ(log.OnTaskEntry(true, &second, 1), std::optional<uint8_t>(2));
    const TBlock third = TaskReply({}, 2, 3, 16);
    EXPECT_EQ(log.OnTaskEntry(true, &third, 2), std::nullopt);
    grid = log.Grid(kRu);
    // Out-of-range stored bytes are shown brought into range.
    EXPECT_EQ(grid[2], (TTextRow{"2", "1.01.2099 23:59:59", "31.12.2099 01:02:03"}));
    EXPECT_EQ(log.Count(), 3u);
    EXPECT_EQ(log.Capacity(), 16);
    EXPECT_FALSE(log.IsFull());
    EXPECT_FALSE(log.ReadFailed());
}

TEST(TaskLogTest, EmptyFailedAndDamagedReplies) {
    TTaskLog log;
    const TBlock empty = TaskReply({}, 0, 0, 4);
    EXPECT_EQ(log.OnTaskEntry(true, &empty, 0), std::nullopt);
    EXPECT_EQ(log.Grid(kRu).size(), 2u);
    EXPECT_EQ(log.Grid(kRu)[1], (TTextRow{"", "", ""}));
    EXPECT_EQ(log.Capacity(), 4);

    // An index outside the reported log is not stored and ends the chain.
    TTaskLog damaged;
    const TBlock outside = TaskReply({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 5, 2, 4);
    EXPECT_EQ(damaged.OnTaskEntry(true, &outside, 5), std::nullopt);
    EXPECT_TRUE(damaged.ReadFailed());
    EXPECT_EQ(damaged.Count(), 2u);
    EXPECT_EQ(damaged.Entries()[0], TTaskEntry{});

    TTaskLog failed;
    EXPECT_EQ(failed.OnTaskEntry(false, &empty, 0), std::nullopt);
    EXPECT_TRUE(failed.ReadFailed());
    const TBlock shortBlock(10, 0);
    EXPECT_EQ(failed.OnTaskEntry(true, &shortBlock, 0), std::nullopt);

    TTaskLog full;
    const TBlock last = TaskReply({}, 1, 2, 2);
    full.OnTaskEntry(true, &last, 1);
    EXPECT_TRUE(full.IsFull());
}

// A chain ends on a reply that names another entry than the one asked, and
// asks no more often than the log held entries when it began.
TEST(TaskLogTest, AChainEndsOnAForeignReplyAndAtTheCountItBeganWith) {
    struct Case {
        const char* what;
        int (*index)(int asked);  // the entry the relay names
        int (*count)(int asked);  // the count it reports
        int reads;                // how many entries the chain asks for
        bool failed;
    };
    const Case cases[] = {
        {"always entry 0", [](int) { return 0; }, [](int) { return 5; }, 2, true},
        {"the entry before", [](int a) { return a > 0 ? a - 1 : 0; }, [](int) { return 5; }, 2, true},
        {"a count that grows", [](int a) { return a; }, [](int a) { return 5 + a; }, 5, false},
        {"as asked", [](int a) { return a; }, [](int) { return 5; }, 5, false},
    };
    for (const Case& c : cases) {
        TTaskLog log;
        log.BeginRead();
        int reads = 0;
        for (std::optional<uint8_t> asked = 0; asked && reads < 300; ++reads) {
            const TBlock reply = TaskReply({}, static_cast<uint8_t>(c.index(*asked)),
                                           static_cast<uint8_t>(c.count(*asked)), 16);
            asked = log.OnTaskEntry(true, &reply, *asked);
        }
        EXPECT_EQ(reads, c.reads) << c.what;
        EXPECT_EQ(log.ReadFailed(), c.failed) << c.what;
        EXPECT_EQ(log.Problem().empty(), !c.failed) << c.what;
    }
    TTaskLog log;
    const TBlock reply = TaskReply({}, 0, 5, 16);
    log.OnTaskEntry(true, &reply, 1);
    EXPECT_EQ(log.Problem(),
              "Журнал заданий прочитан не полностью: на запрос задания 2 устройство ответило заданием 1.");
}

TEST(AlarmJournalTest, RecordFromReplyOnlyWhenWhole) {
    TBlock whole(19);
    for (size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<uint8_t>(i + 1);
    const auto record = AlarmRecordFromReply(true, &whole);
    ASSERT_TRUE(record);
    EXPECT_TRUE(std::equal(record->begin(), record->end(), whole.begin()));
    for (size_t size = 0; size < 19; ++size) {
        const TBlock cut(whole.begin(), whole.begin() + static_cast<long>(size));
        EXPECT_FALSE(AlarmRecordFromReply(true, &cut)) << size;
    }
    EXPECT_FALSE(AlarmRecordFromReply(false, &whole));
    EXPECT_FALSE(AlarmRecordFromReply(true, nullptr));
}

// A native relay that answers with records cut short: the completion sees
// only what came, and neither the alarm record nor the task entry is kept.
TEST(ShortNativeReplies, AlarmRecordAndTaskEntryAreNotStored) {
    test::PtyResponder relay([](const std::vector<uint8_t>& frame) -> std::vector<uint8_t> {
        if (frame.size() < 5) return {};
        const uint8_t command = frame[4];  // length, its complement, address, check byte, command
        std::vector<uint8_t> payload{1, command};
        const size_t size = command == 12 ? 18 : 14;  // one byte short of 19 and 15
        for (size_t i = 0; i < size; ++i) payload.push_back(static_cast<uint8_t>(i + 1));
        return BuildNativeFrame(payload);
    });
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName(relay.PortName()));
    const int32_t owner = port.RegisterOwner();
    auto events = std::make_shared<TResultEventsList>();
    std::optional<TAlarmRecord> record;
    bool recordAnswered = false;
    TTaskLog log;
    log.BeginRead();
    std::optional<uint8_t> next = 7;
    ASSERT_TRUE(RequestReadAlarm(
        port, 1, owner, 0, events,
        [&](const TReply& r) {
            recordAnswered = r.Ok() && r.Data && r.Data->size() == 18;
            record = AlarmRecordFromReply(r.Ok(), r.Data);
        },
        0));
    ASSERT_TRUE(RequestReadTask(
        port, 1, owner, 0, events, [&](const TReply& r) { next = log.OnTaskEntry(r.Ok(), r.Data, 0); }, 0));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (events->Count() < 2 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    ASSERT_EQ(events->Count(), 2u);
    events->DispatchOne();
    events->DispatchOne();
    EXPECT_TRUE(recordAnswered);  // answered, with 18 bytes
    EXPECT_FALSE(record);
    EXPECT_EQ(next, std::nullopt);
    EXPECT_TRUE(log.ReadFailed());
    EXPECT_EQ(log.Count(), 0u);
}

TEST(TaskLogTest, EntryFromLocalTime) {
    const TLocalTime t{14, 30, 0, 5, 5, 2026};
    EXPECT_EQ(MakeTaskEntry(t, t), (TTaskEntry{14, 30, 0, 5, 5, 26, 14, 30, 0, 5, 5, 26}));
}

}  // namespace
}  // namespace tovik
