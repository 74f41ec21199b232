// The task log, alarm log and calibration tabs of the panel model, without a
// window: what they send, what they show, and their messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "PanelTestRig.h"
#include "XlsxTestUtil.h"
#include "panel/AlarmJournal.h"
#include "support/SpecialFiles.h"

namespace tovik {
namespace {

using test::TPanelRig;

// Answers what is queued and ticks, one completion a tick, until `done`.
template <class F>
bool RunUntil(TPanelRig& rig, F done, int limit = 1000) {
    for (int i = 0; i < limit; ++i) {
        if (done()) return true;
        rig.AnswerQueued();
        rig.Panel->Tick();
    }
    return done();
}

std::vector<std::string> Texts(const std::vector<TPanelMessage>& messages) {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.Text);
    return out;
}

TBlock Entry(uint8_t hour, uint8_t day) {
    return TBlock{hour, 0, 0, day, 3, 26, uint8_t(hour + 1), 0, 0, day, 3, 26};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ScratchDir {
    std::string Path;
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tovik-tabs-XXXXXX").string();
        Path = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
};

// ---- task log ----

TEST(PanelTaskLog, EmptyLogGivesOneEmptyRowAndOnlyAdd) {
    TPanelRig rig(kKindTovik);
    rig.Relay.TaskCapacity = 4;
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const TTextGrid& grid = p.TaskGrid();
    ASSERT_EQ(grid.size(), 2u);
    EXPECT_EQ(grid[0], (TTextRow{"№", "Начало", "Окончание"}));
    EXPECT_EQ(grid[1], (TTextRow{"", "", ""}));
    EXPECT_TRUE(p.ButtonEnabled(BtnTaskAdd));
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskDelete));
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskClear));
    EXPECT_TRUE(p.TaskGridEnabled());
    // Nothing to edit in the empty row.
    const size_t from = rig.Sent.size();
    p.TW_SGKeyPress(kEnterKey, 1, 1, "1.01.2026 00:00:00", "1.01.2026 00:00:00");
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);

    // A relay without room for a task: "Добавить задание" is not enabled.
    TPanelRig none(kKindTovik);
    none.Relay.TaskCapacity = 0;
    TTovikPanel& q = none.Open();
    none.Cycle();
    EXPECT_FALSE(q.ButtonEnabled(BtnTaskAdd));
}

TEST(PanelTaskLog, EntriesArriveOneByOneAndTheButtonsWaitForTheLast) {
    TPanelRig rig(kKindTovikM);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2), Entry(10, 3)};
    TTovikPanel& p = rig.Open();
    ASSERT_TRUE(RunUntil(rig, [&] { return p.TaskLog().LastReceived() == 0; }));
    const TTextGrid& grid = p.TaskGrid();
    ASSERT_EQ(grid.size(), 4u);
    EXPECT_EQ(grid[1], (TTextRow{"1", "1.03.2026 08:00:00", "1.03.2026 09:00:00"}));
    EXPECT_EQ(grid[2], (TTextRow{"2", "", ""}));
    EXPECT_EQ(grid[3], (TTextRow{"3", "", ""}));
    EXPECT_TRUE(p.TaskLogReading());
    for (TPanelButton b : {BtnTaskAdd, BtnTaskDelete, BtnTaskClear}) EXPECT_FALSE(p.ButtonEnabled(b));

    ASSERT_TRUE(RunUntil(rig, [&] { return !p.TaskLogReading(); }));
    EXPECT_EQ(p.TaskGrid()[3], (TTextRow{"3", "3.03.2026 10:00:00", "3.03.2026 11:00:00"}));
    std::vector<int32_t> entries;
    for (const auto& s : rig.Sent)
        if (s.Code == CmdReadTask) entries.push_back(s.Param1);
    EXPECT_EQ(entries, (std::vector<int32_t>{0, 1, 2}));
    for (TPanelButton b : {BtnTaskAdd, BtnTaskDelete, BtnTaskClear}) EXPECT_TRUE(p.ButtonEnabled(b));
    EXPECT_TRUE(p.TaskGridEnabled());
    // The next poll reads the log again only when the relay says it changed.
    rig.Drain();
    const size_t from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    for (size_t i = from; i < rig.Sent.size(); ++i) EXPECT_NE(rig.Sent[i].Code, CmdReadTask);
    rig.Relay.TaskLogChanged = true;
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(std::count_if(rig.Sent.begin() + static_cast<long>(from), rig.Sent.end(),
                            [](const test::TSent& s) { return s.Code == CmdReadTask; }),
              3);
}

TEST(PanelTaskLog, AFailedReadInTheMiddleKeepsWhatCameAndDisablesTheGrid) {
    TPanelRig rig(kKindTovik);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2), Entry(10, 3)};
    TTovikPanel& p = rig.Open();
    ASSERT_TRUE(RunUntil(rig, [&] { return p.TaskLog().LastReceived() == 0; }));
    rig.Relay.Fail[CmdReadTask] = 1;  // entry 1 goes unanswered
    ASSERT_TRUE(RunUntil(rig, [&] { return !p.TaskLogReading(); }));
    rig.Drain();
    EXPECT_EQ(p.TaskGrid()[1][1], "1.03.2026 08:00:00");
    EXPECT_EQ(p.TaskGrid()[2][1], "");
    EXPECT_FALSE(p.TaskGridEnabled());
    EXPECT_NE(std::find(p.FailedReads().begin(), p.FailedReads().end(), "task_log"), p.FailedReads().end());
    // An edit of a disabled grid goes nowhere.
    const size_t from = rig.Sent.size();
    p.TW_SGKeyPress(kEnterKey, 1, 1, "2.03.2026 08:00:00", "2.03.2026 09:00:00");
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    // The next chain starts again at entry 0.
    rig.Relay.TaskLogChanged = true;
    rig.Clock.Advance(100);
    rig.Cycle();
    std::vector<int32_t> entries;
    for (size_t i = from; i < rig.Sent.size(); ++i)
        if (rig.Sent[i].Code == CmdReadTask) entries.push_back(rig.Sent[i].Param1);
    EXPECT_EQ(entries, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_TRUE(p.TaskGridEnabled());
}

TEST(PanelTaskLog, AnIndexPastTheCountOrAShortReplyEndsTheChainAndIsNotStored) {
    TPanelRig rig(kKindTovik);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2), Entry(10, 3)};
    TTovikPanel& p = rig.Open();
    ASSERT_TRUE(RunUntil(rig, [&] { return p.TaskLog().LastReceived() == 0; }));
    // The relay's log shrinks under the chain: entry 1 of a log of 1.
    rig.Relay.Tasks.resize(1);
    ASSERT_TRUE(RunUntil(rig, [&] { return !p.TaskLogReading(); }));
    rig.Drain();
    EXPECT_EQ(p.TaskLog().Count(), 1u);
    EXPECT_EQ(p.TaskLog().Entries()[0], (TTaskEntry{8, 0, 0, 1, 3, 26, 9, 0, 0, 1, 3, 26}));
    EXPECT_FALSE(p.TaskGridEnabled());
    // Answered, but not with an entry of the log.
    EXPECT_NE(std::find(p.IncompleteReads().begin(), p.IncompleteReads().end(), "task_log"),
              p.IncompleteReads().end());
    const auto reads = std::count_if(rig.Sent.begin(), rig.Sent.end(),
                                     [](const test::TSent& s) { return s.Code == CmdReadTask; });
    EXPECT_EQ(reads, 2);  // no read past the end

    // A reply one byte short is a failed read: nothing of it is kept.
    TPanelRig cut(kKindTovik);
    cut.Relay.Tasks = {Entry(8, 1)};
    cut.Relay.Cut[CmdReadTask] = 14;
    TTovikPanel& q = cut.Open();
    cut.Cycle();
    EXPECT_EQ(q.TaskLog().Count(), 0u);
    EXPECT_FALSE(q.TaskGridEnabled());
    EXPECT_EQ(std::count(q.IncompleteReads().begin(), q.IncompleteReads().end(), "task_log"), 1);
}

TEST(PanelTaskLog, EnterRewritesTheEditedCellAndWritesTheEntry) {
    TPanelRig rig(kKindTovikMModbus);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2)};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const uint32_t endRev = p.TaskCellRevision(2, 2);
    size_t from = rig.Sent.size();
    // Column 0 and keys other than Enter do nothing.
    p.TW_SGKeyPress(kEnterKey, 2, 0, "5.5.2026 14:30", "5.5.2026 15:00");
    p.TW_SGKeyPress('a', 2, 1, "5.5.2026 14:30", "5.5.2026 15:00");
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);

    // Column 1: its text normalised, column 2 left as typed.
    p.TW_SGKeyPress(kEnterKey, 2, 1, "5.5.2026 14:30:00", "5.5.2026 15:00:00");
    EXPECT_EQ(p.TaskGrid()[2][1], "5.05.2026 14:30:00");
    EXPECT_EQ(p.TaskGrid()[2][2], "5.5.2026 15:00:00");
    EXPECT_EQ(p.TaskCellRevision(2, 2), endRev);
    rig.AnswerQueued();
    ASSERT_EQ(rig.Sent.size(), from + 1);
    EXPECT_EQ(rig.Sent[from].Code, CmdWriteTask);
    EXPECT_EQ(rig.Sent[from].Param1, 1);
    EXPECT_EQ(rig.Sent[from].Data, (TBlock{14, 30, 0, 5, 5, 26, 15, 0, 0, 5, 5, 26}));
    EXPECT_EQ(p.TaskLog().Entries()[1], (TTaskEntry{14, 30, 0, 5, 5, 26, 15, 0, 0, 5, 5, 26}));
    rig.Drain();
    EXPECT_TRUE(p.TakeMessages().empty());
    EXPECT_FALSE(p.ReloadTaskLog());  // the copy changed at once; no chain for a write that worked

    // Column 2: only column 2 normalised.
    from = rig.Sent.size();
    p.TW_SGKeyPress(kEnterKey, 1, 2, "1.3.2026 8:00:00", "1.3.2026 9:15:00");
    EXPECT_EQ(p.TaskGrid()[1][1], "1.3.2026 8:00:00");
    EXPECT_EQ(p.TaskGrid()[1][2], "1.03.2026 09:15:00");

    // A write the relay refuses: "Ошибка задания.", and the log is read back
    // so that the grid does not keep a value the relay does not hold.
    rig.Drain();
    rig.Relay.Fail[CmdWriteTask] = 1;
    p.TW_SGKeyPress(kEnterKey, 1, 1, "1.3.2026 7:00:00", "1.3.2026 9:15:00");
    rig.Drain();
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка задания."});
    EXPECT_TRUE(p.ReloadTaskLog());
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(p.TaskGrid()[1][1], "1.03.2026 08:00:00");

    // Text that is not a time stamp is never written as the earliest one.
    from = rig.Sent.size();
    p.TW_SGKeyPress(kEnterKey, 1, 1, "завтра", "1.3.2026 9:15:00");
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    const auto messages = p.TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Text, "Задание 1: \"завтра\" не дата и время; задание не записано.");
    EXPECT_FALSE(messages[0].Error);
    EXPECT_EQ(p.TaskGrid()[1][1], "завтра");  // kept as typed
}

TEST(PanelTaskLog, AddDeleteAndClear) {
    TPanelRig rig(kKindTovik);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2)};
    rig.Relay.TaskCapacity = 3;
    rig.Now = {14, 30, 0, 5, 5, 2026};
    TTovikPanel& p = rig.Open();
    rig.Cycle();

    size_t from = rig.Sent.size();
    p.TWNewBtnClick();
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskAdd));
    rig.Drain();
    ASSERT_EQ(rig.Sent.size(), from + 1);
    EXPECT_EQ(rig.Sent[from].Code, CmdAddTask);
    EXPECT_EQ(rig.Sent[from].Data, (TBlock{2, 14, 30, 0, 5, 5, 26, 14, 30, 0, 5, 5, 26}));
    EXPECT_TRUE(p.ReloadTaskLog());
    rig.Relay.Tasks.push_back(Entry(14, 5));
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(p.TaskLog().Count(), 3u);
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskAdd));  // full: not enabled again

    // Delete: a row is needed.
    from = rig.Sent.size();
    p.TWDelBtnClick(0);
    p.TWDelBtnClick(4);
    EXPECT_EQ(Texts(p.TakeMessages()),
              (std::vector<std::string>{"Выберите ячейку строки удаляемого задания.",
                                        "Выберите ячейку строки удаляемого задания."}));
    p.TWDelBtnClick(2);
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskDelete));
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskClear));
    rig.Relay.Fail[CmdDeleteTask] = 1;
    rig.Drain();
    ASSERT_EQ(rig.Sent.size(), from + 1);
    EXPECT_EQ(rig.Sent[from].Code, CmdDeleteTask);
    EXPECT_EQ(rig.Sent[from].Data, (TBlock{1, 3}));
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка удаления задания."});
    // The log is read back; the chain's end enables the buttons again.
    EXPECT_TRUE(p.ReloadTaskLog());
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_TRUE(p.ButtonEnabled(BtnTaskDelete));

    from = rig.Sent.size();
    p.TWClrBtnClick();
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskClear));
    rig.Relay.Fail[CmdClearTasks] = 1;
    rig.Drain();
    EXPECT_EQ(rig.Codes(from), std::vector<uint8_t>{CmdClearTasks});
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка очистки журнала."});
    rig.Relay.Tasks.clear();
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskClear));
    from = rig.Sent.size();
    p.TWClrBtnClick();  // the log is empty: the button is off
    rig.Relay.Fail[CmdAddTask] = 1;
    p.TWNewBtnClick();
    rig.Drain();
    EXPECT_EQ(rig.Codes(from), std::vector<uint8_t>{CmdAddTask});
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка добавления задания."});
}

TEST(PanelTaskLog, AFullLogRefusesAnAddEvenWithoutAConnection) {
    TPanelRig rig(kKindTovik);
    rig.Relay.TaskCapacity = 2;
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    ASSERT_TRUE(p.ButtonEnabled(BtnTaskAdd));
    // An empty log that has no room any more: the read does not disable
    // "Добавить задание", the click says why nothing happens.
    rig.Relay.TaskCapacity = 0;
    rig.Relay.TaskLogChanged = true;
    rig.Clock.Advance(100);
    rig.Cycle();
    ASSERT_EQ(p.TaskLog().Capacity(), 0);
    ASSERT_TRUE(p.ButtonEnabled(BtnTaskAdd));
    rig.Device.PortId = 0;
    const size_t from = rig.Sent.size();
    p.TWNewBtnClick();
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    const auto messages = p.TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Text, "Больше нет свободного места в журнале заданий.");
    EXPECT_FALSE(messages[0].Error);
}

TEST(PanelTaskLog, ReadOnlyAccessNeitherEditsNorSends) {
    TPanelRig rig(kKindTovik, 2);
    rig.Relay.Tasks = {Entry(8, 1)};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    EXPECT_FALSE(p.TaskGridEditable());
    for (TPanelButton b : {BtnTaskAdd, BtnTaskDelete, BtnTaskClear}) EXPECT_FALSE(p.ButtonEnabled(b));
    const size_t from = rig.Sent.size();
    p.TW_SGKeyPress(kEnterKey, 1, 1, "2.03.2026 08:00:00", "2.03.2026 09:00:00");
    p.TWNewBtnClick();
    p.TWDelBtnClick(1);
    p.TWClrBtnClick();
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    EXPECT_EQ(p.TaskGrid()[1][1], "1.03.2026 08:00:00");
    EXPECT_TRUE(p.TakeMessages().empty());
}

// ---- alarm log ----

TBlock Alarm(uint8_t hour, uint8_t cause, uint32_t a) {
    TBlock b(19, 0);
    b[0] = hour;
    b[3] = 1;
    b[4] = 2;
    b[5] = 26;
    b[6] = cause;
    test::PutU32(b, 7, a);
    return b;
}

size_t RecordReads(const TPanelRig& rig, size_t from = 0) {
    return static_cast<size_t>(std::count_if(rig.Sent.begin() + static_cast<long>(from), rig.Sent.end(),
                                             [](const test::TSent& s) { return s.Code == CmdReadAlarm; }));
}

TEST(PanelAlarms, FetchOnEveryNewHeaderWithoutDuplicates) {
    TPanelRig rig(kKindTovikM);
    rig.Device.AlarmCache.push_back(TAlarmRecord{7});
    // The program saves its configuration when told: once a fetch ends,
    // not at each record.
    int told = 0;
    rig.Device.OnRecordChanged = [&told](TDevice&) { ++told; };
    TTovikPanel& p = rig.Open();
    // N = 0: no record read, and the cache keeps what it had.
    rig.Cycle();
    EXPECT_EQ(RecordReads(rig), 0u);
    EXPECT_EQ(rig.Device.AlarmCache.size(), 1u);
    EXPECT_EQ(p.AlarmGrid().size(), 2u);

    rig.Relay.AlarmHeader = {2, 5};
    rig.Relay.AlarmRecords = {Alarm(10, 1, 12345), Alarm(11, 4, 100000000)};
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(RecordReads(rig), 2u);
    EXPECT_EQ(told, 1);
    ASSERT_EQ(rig.Device.AlarmCache.size(), 3u);
    ASSERT_EQ(p.AlarmGrid().size(), 4u);
    EXPECT_EQ(p.AlarmGrid()[2],
              (TTextRow{"1.02.2026 10:00:00", "Превышение номинального тока", "Ia=12,3 Ib=0,00 Ic=0,00"}));
    EXPECT_EQ(p.AlarmGrid()[3][2], "Ia=^^^^ Ib=0,00 Ic=0,00");

    // The same header again: nothing fetched.
    size_t from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(RecordReads(rig, from), 0u);

    // A new header: every record fetched, only the new time stamp kept,
    // even where a known one's cause or currents differ.
    rig.Relay.AlarmHeader = {3, 6};
    rig.Relay.AlarmRecords[0][6] = 3;
    rig.Relay.AlarmRecords.push_back(Alarm(12, 2, 500));
    from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(RecordReads(rig, from), 3u);
    EXPECT_EQ(told, 2);
    ASSERT_EQ(rig.Device.AlarmCache.size(), 4u);
    EXPECT_EQ(rig.Device.AlarmCache[1][6], 1);
    EXPECT_EQ(rig.Device.AlarmCache[3][0], 12);
}

TEST(PanelAlarms, AFailedOrShortRecordReadEndsTheFetchUntilTheHeaderChanges) {
    for (bool shortReply : {false, true}) {
        SCOPED_TRACE(shortReply);
        TPanelRig rig(kKindTovikModbus);
        rig.Relay.AlarmHeader = {3, 1};
        rig.Relay.AlarmRecords = {Alarm(10, 1, 1), Alarm(11, 1, 1), Alarm(12, 1, 1)};
        TTovikPanel& p = rig.Open();
        if (shortReply)
            rig.Relay.Cut[CmdReadAlarm] = 18;
        else
            rig.Relay.Fail[CmdReadAlarm] = 1;
        rig.Cycle();
        EXPECT_EQ(RecordReads(rig), 1u);
        EXPECT_TRUE(rig.Device.AlarmCache.empty());
        EXPECT_TRUE(p.AlarmFetchFailed());
        // A short reply was answered, with less; either way nothing is kept.
        const auto& noted = shortReply ? p.IncompleteReads() : p.FailedReads();
        EXPECT_NE(std::find(noted.begin(), noted.end(), "alarm_records"), noted.end());
        rig.Relay.Cut.clear();
        size_t from = rig.Sent.size();
        rig.Clock.Advance(100);
        rig.Cycle();
        EXPECT_EQ(RecordReads(rig, from), 0u);  // the same header
        rig.Relay.AlarmHeader = {3, 2};
        from = rig.Sent.size();
        rig.Clock.Advance(100);
        rig.Cycle();
        EXPECT_EQ(RecordReads(rig, from), 3u);
        EXPECT_EQ(rig.Device.AlarmCache.size(), 3u);
    }
}

TEST(PanelAlarms, ClearEmptiesTheCacheWhateverTheRelayAnswered) {
    for (bool answered : {true, false}) {
        TPanelRig rig(kKindTovik);
        rig.Relay.AlarmHeader = {1, 1};
        rig.Relay.AlarmRecords = {Alarm(10, 1, 1)};
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        ASSERT_EQ(rig.Device.AlarmCache.size(), 1u);
        if (!answered) rig.Relay.Fail[CmdClearAlarms] = 1;
        const size_t from = rig.Sent.size();
        int told = 0;
        rig.Device.OnRecordChanged = [&told](TDevice&) { ++told; };
        p.ClearAVbtnClick();
        rig.Drain();
        EXPECT_EQ(rig.Codes(from), std::vector<uint8_t>{CmdClearAlarms});
        EXPECT_TRUE(rig.Device.AlarmCache.empty());
        EXPECT_EQ(told, 1);
        EXPECT_EQ(p.AlarmHeader(), (std::array<uint8_t, 2>{0, 0}));
        EXPECT_EQ(p.LastAlarmHeader(), (std::array<uint8_t, 2>{0, 0}));
        EXPECT_EQ(p.AlarmGrid(), (TTextGrid{{"Дата/время", "причина аварии", "токи"}, {"", "", ""}}));
        // A record still in the relay's journal comes back.
        rig.Clock.Advance(100);
        rig.Cycle();
        EXPECT_EQ(rig.Device.AlarmCache.size(), 1u);
    }
}

TEST(PanelAlarms, TextFileAndWorkbookFromTheGrid) {
    TPanelRig rig(kKindTovik);
    rig.Relay.AlarmHeader = {1, 1};
    rig.Relay.AlarmRecords = {Alarm(10, 1, 12345)};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    ScratchDir dir;
    const std::string text = dir.Path + "/journal.txt";
    ASSERT_TRUE(p.saveAVListBtnClick(text));
    EXPECT_EQ(ReadFile(text), FixedWidthText(p.AlarmGrid(), {21, 32, 25}));
    EXPECT_EQ(ReadFile(text).size(), 2u * 80u);
    const std::string sheet = dir.Path + "/journal.xlsx";
    ASSERT_TRUE(p.sendExcelBtnClick(sheet));
    EXPECT_NE(test::XlsxPart(sheet, "xl/sharedStrings.xml").find("<t>Ia=12,3 Ib=0,00 Ic=0,00</t>"),
              std::string::npos);
    // Nothing but the two files is left in the folder.
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path), std::filesystem::directory_iterator()),
        2);

    // A folder that does not exist: the system's reason, nothing written.
    EXPECT_FALSE(p.saveAVListBtnClick(dir.Path + "/none/journal.txt"));
    EXPECT_FALSE(p.sendExcelBtnClick(dir.Path + "/none/journal.xlsx"));
    const auto texts = Texts(p.TakeMessages());
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0],
              "Не удалось записать файл \"" + dir.Path + "/none/journal.txt\": No such file or directory.");
    EXPECT_EQ(texts[1],
              "Не удалось записать файл \"" + dir.Path + "/none/journal.xlsx\": No such file or directory.");

    p.ExcelNotOpened(sheet);
    const auto opened = p.TakeMessages();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].Text.find(sheet), std::string::npos);
    EXPECT_FALSE(opened[0].Error);

    // Read-only access writes nothing.
    TPanelRig viewer(kKindTovik, 2);
    TTovikPanel& v = viewer.Open();
    viewer.Cycle();
    EXPECT_FALSE(v.saveAVListBtnClick(dir.Path + "/viewer.txt"));
    EXPECT_FALSE(v.sendExcelBtnClick(dir.Path + "/viewer.xlsx"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path + "/viewer.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path + "/viewer.xlsx"));
}

// A file that fills up part way (the process's file size limit stands in
// for a full disk): the existing file stays whole, no other file is left.
TEST(PanelAlarms, AWriteThatFailsPartWayLeavesTheOldFileWhole) {
    TPanelRig rig(kKindTovik);
    rig.Relay.AlarmHeader = {20, 1};
    for (uint8_t i = 0; i < 20; ++i) rig.Relay.AlarmRecords.push_back(Alarm(i, 1, 1000u * i));
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    ASSERT_EQ(rig.Device.AlarmCache.size(), 20u);
    ScratchDir dir;
    const std::string text = dir.Path + "/journal.txt";
    const std::string sheet = dir.Path + "/journal.xlsx";
    {
        std::ofstream(text, std::ios::binary) << "old journal";
        std::ofstream(sheet, std::ios::binary) << "old workbook";
    }
    bool savedText = true;
    bool savedSheet = true;
    {
        test::TFileSizeLimit full(1000);  // the text file is 21 lines of 80 bytes
        savedText = p.saveAVListBtnClick(text);
        savedSheet = p.sendExcelBtnClick(sheet);
    }
    EXPECT_FALSE(savedText);
    EXPECT_FALSE(savedSheet);
    EXPECT_EQ(ReadFile(text), "old journal");
    EXPECT_EQ(ReadFile(sheet), "old workbook");
    const auto texts = Texts(p.TakeMessages());
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Не удалось записать файл \"" + text + "\": File too large.");
    EXPECT_NE(texts[1].find("Не удалось записать файл \"" + sheet + "\": "), std::string::npos) << texts[1];
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path), std::filesystem::directory_iterator()),
        2);
}

// ---- calibration ----

TEST(PanelCalibration, InformationSetsThePointsAndEnablesTheTab) {
    TPanelRig rig(kKindTovik, 0);
    rig.Relay.CalInfo = {4, 0, 0};
    TTovikPanel& p = rig.Open();
    const TCalibration& cal = p.Calibration();
    EXPECT_TRUE(cal.GroupEnabled());
    EXPECT_FALSE(cal.GridEnabled());
    EXPECT_FALSE(p.ButtonEnabled(BtnStartCalibration));
    rig.Cycle();
    EXPECT_TRUE(cal.GroupEnabled());
    EXPECT_TRUE(cal.GridEnabled());
    EXPECT_TRUE(p.ButtonEnabled(BtnStartCalibration));
    EXPECT_EQ(cal.PointsMax(), 4);
    ASSERT_EQ(cal.Columns(), 5u);
    EXPECT_EQ(cal.Grid()[0], (TTextRow{"", "1", "2", "3", "4"}));
    for (size_t r = 1; r <= 3; ++r) {
        EXPECT_EQ(cal.Grid()[r][0], kCalPhaseNames[r - 1]);
        EXPECT_EQ(cal.Grid()[r][1], "0,00");
    }
    // A failed information read disables the group, the grid and the start.
    rig.Relay.Fail[CmdReadCalInfo] = 1;
    rig.Relay.SettingsChanged = true;
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_FALSE(cal.GroupEnabled());
    EXPECT_FALSE(cal.GridEnabled());
    EXPECT_FALSE(p.ButtonEnabled(BtnStartCalibration));
    // "ТовикМ ModBus" relays have no calibration information: the tab stays off.
    TPanelRig modbus(kKindTovikMModbus, 0);
    TTovikPanel& m = modbus.Open();
    modbus.Relay.Fail[CmdReadCalInfo] = -1;
    modbus.Cycle();
    EXPECT_FALSE(m.Calibration().GroupEnabled());
    EXPECT_FALSE(m.ButtonEnabled(BtnStartCalibration));
}

TEST(PanelCalibration, StartChecksEveryPhaseAndShowsThePlanWithoutSendingAnything) {
    TPanelRig rig(kKindTovikM, 0);
    rig.Relay.CalInfo = {4, 0, 0};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const TCalibration& cal = p.Calibration();
    const size_t from = rig.Sent.size();

    p.StartCalButtonClick();
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Выберите калибруемые токи."});

    p.CalPhaseCBClick(0, true);
    p.CalPhaseCBClick(1, true);
    EXPECT_TRUE(cal.PointsEnabled(0));
    EXPECT_FALSE(cal.PointsEnabled(2));
    p.CalPointsChange(0, 3);
    p.CalPointsChange(2, 4);  // disabled: its box is not checked
    EXPECT_EQ(cal.Points(2), 2);
    // A: 0, 5, 5 is not rising.
    p.CalValSGEdited(1, 2, "5");
    p.CalValSGEdited(1, 3, "5");
    p.CalValSGEdited(2, 2, "7");
    p.StartCalButtonClick();
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка ввода калибровочных токов фазы A."});
    EXPECT_EQ(cal.Grid()[1][2], "5,00");  // normalised by the start
    // B: a text that is not a number is not taken for the smallest current.
    p.CalValSGEdited(1, 3, "10");
    p.CalValSGEdited(2, 2, "семь");
    p.StartCalButtonClick();
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка ввода калибровочных токов фазы B."});
    EXPECT_EQ(cal.Grid()[2][2], "семь");
    // C: an empty cell within its points.
    p.CalValSGEdited(2, 2, "7");
    p.CalPhaseCBClick(2, true);
    p.CalPointsChange(2, 3);
    p.CalValSGEdited(3, 2, "2,5");
    p.StartCalButtonClick();
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка ввода калибровочных токов фазы C."});
    EXPECT_EQ(cal.Step(), -1);
    p.CalPhaseCBClick(2, false);

    // A (0, 5, 10) and B (0, 7): the schedule 0, 5, 7, 10.
    p.StartCalButtonClick();
    EXPECT_TRUE(p.TakeMessages().empty());
    EXPECT_EQ(cal.Step(), 0);
    EXPECT_EQ(cal.Point(), -1);
    EXPECT_TRUE(cal.Started());
    EXPECT_EQ(cal.PhaseCurrents()[0], (std::vector<float>{0, 5, 10}));
    EXPECT_EQ(cal.PhaseCurrents()[1], (std::vector<float>{0, 7}));
    EXPECT_TRUE(cal.PhaseCurrents()[2].empty());
    const TCalibrationSchedule expected = {
        {0, {0, 0, -1}}, {5, {1, -1, -1}}, {7, {-1, 1, -1}}, {10, {2, -1, -1}}};
    EXPECT_EQ(cal.Schedule(), expected);
    EXPECT_EQ(cal.StepInfo(), "План калибровки: 4 тока, фазы A, B. Устройству ничего не отправлено.");
    EXPECT_EQ(cal.PlanGrid(), (TTextGrid{{"Ток, A", "Фаза A", "Фаза B", "Фаза C"},
                                         {"0,00", "точка 1", "точка 1", "—"},
                                         {"5,00", "точка 2", "—", "—"},
                                         {"7,00", "—", "точка 2", "—"},
                                         {"10,0", "точка 3", "—", "—"}}));
    // The tab is used up: nothing of it works any more, the start stays off.
    EXPECT_FALSE(cal.GroupEnabled());
    EXPECT_FALSE(cal.GridEnabled());
    EXPECT_FALSE(p.ButtonEnabled(BtnStartCalibration));
    p.CalPhaseCBClick(2, true);
    EXPECT_FALSE(cal.Checked(2));
    rig.Relay.SettingsChanged = true;
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_FALSE(p.ButtonEnabled(BtnStartCalibration));
    // Nothing went to the relay but the polls' reads.
    for (size_t i = from; i < rig.Sent.size(); ++i)
        EXPECT_TRUE(rig.Sent[i].HasHandler) << int(rig.Sent[i].Code);
}

TEST(PanelCalibration, EnterNormalisesTheCellAndTheStartNeedsAConnection) {
    TPanelRig rig(kKindTovik, 0);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const TCalibration& cal = p.Calibration();
    p.CalPhaseCBClick(0, true);
    const uint32_t rev = cal.CellRevision(1, 2);
    p.CalValSGKeyPress(kEnterKey, 1, 2, "12,345");
    EXPECT_EQ(cal.Grid()[1][2], "12,3");
    EXPECT_GT(cal.CellRevision(1, 2), rev);
    p.CalValSGKeyPress(kEnterKey, 1, 2, "0");
    EXPECT_EQ(cal.Grid()[1][2], "0,01");  // the smallest current there is
    p.CalValSGKeyPress(kEnterKey, 1, 2, "много");
    EXPECT_EQ(cal.Grid()[1][2], "много");
    p.CalValSGKeyPress(kEnterKey, 1, 1, "7");  // the fixed 0 A point
    EXPECT_EQ(cal.Grid()[1][1], "0,00");
    p.CalValSGKeyPress(kEnterKey, 1, 2, "5");
    rig.Device.PortId = 0;
    p.StartCalButtonClick();
    EXPECT_FALSE(cal.Started());
    EXPECT_TRUE(p.TakeMessages().empty());
}

TEST(PanelCalibration, BelowTheServiceLevelThereIsNoTab) {
    for (uint8_t access : {1, 2}) {
        TPanelRig rig(kKindTovik, access);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        EXPECT_FALSE(p.HasCalibrationTab());
        EXPECT_EQ(std::count_if(rig.Sent.begin(), rig.Sent.end(),
                                [](const test::TSent& s) { return s.Code == CmdReadCalInfo; }),
                  0);
        p.CalPhaseCBClick(0, true);
        p.StartCalButtonClick();
        EXPECT_FALSE(p.Calibration().Checked(0));
        EXPECT_FALSE(p.Calibration().Started());
        ScratchDir dir;
        EXPECT_FALSE(p.CalSaveButtonClick(dir.Path + "/x.cal"));
        EXPECT_FALSE(std::filesystem::exists(dir.Path + "/x.cal"));
    }
}

TEST(PanelCalibration, FilesSavedAndLoadedThroughTheTab) {
    TPanelRig rig(kKindTovik, 0);
    rig.Relay.CalInfo = {2, 0, 0};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    ScratchDir dir;
    const std::string path = dir.Path + "/points.cal";
    for (int r = 1; r <= 3; ++r) p.CalValSGEdited(r, 2, "0,00");
    ASSERT_TRUE(p.CalSaveButtonClick(path));
    // A grid of 3 columns with all cells "0,00": 7 + 3 x 2 x 5 bytes.
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 37u);
    EXPECT_EQ(bytes.substr(0, 12), std::string("\0\0\0\2\2\2\2\4"
                                               "0,00",
                                               12));

    // Another file's entries, loaded; the tab follows.
    TCalFile file;
    file.Phases = {true, false, true};
    file.Points = {2, 9, 1};
    file.Texts = {std::vector<std::string>{"0,00", "1,5", "9"}, {"0,00", "", ""}, {"0,00", "3", "x"}};
    std::string other;
    std::string error;
    ASSERT_TRUE(EncodeCalFile(file, other, error)) << error;
    std::ofstream(dir.Path + "/other.cal", std::ios::binary) << other;
    ASSERT_TRUE(p.CalLoadButtonClick(dir.Path + "/other.cal"));
    const TCalibration& cal = p.Calibration();
    EXPECT_TRUE(cal.Checked(0));
    EXPECT_FALSE(cal.Checked(1));
    EXPECT_TRUE(cal.Checked(2));
    EXPECT_EQ(cal.Points(1), 2);  // held within the spin box's 2..2
    EXPECT_EQ(cal.Points(2), 2);
    EXPECT_EQ(cal.Grid()[1][2], "1,5");  // as loaded: checked only at the start
    EXPECT_EQ(cal.Grid()[3][2], "3");

    // A damaged file changes nothing and says why.
    ASSERT_EQ(other.size(), 34u);
    const std::string cut = other.substr(0, other.size() - 1);
    std::ofstream(dir.Path + "/cut.cal", std::ios::binary) << cut;
    std::ofstream(dir.Path + "/long.cal", std::ios::binary) << other << "!";
    p.CalPhaseCBClick(0, false);
    EXPECT_FALSE(p.CalLoadButtonClick(dir.Path + "/cut.cal"));
    EXPECT_FALSE(p.CalLoadButtonClick(dir.Path + "/long.cal"));
    EXPECT_FALSE(p.CalLoadButtonClick(dir.Path + "/none.cal"));
    EXPECT_FALSE(cal.Checked(0));
    const auto texts = Texts(p.TakeMessages());
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0],
              "Файл \"" + dir.Path + "/cut.cal\" не загружен: файл короче своих данных (в нём 33 байта).");
    EXPECT_EQ(texts[1],
              "Файл \"" + dir.Path +
                  "/long.cal\" не загружен: файл длиннее своих данных (34 байта данных, в файле 35).");
    EXPECT_EQ(texts[2], "Не удалось открыть файл \"" + dir.Path + "/none.cal\": No such file or directory.");

    // A text the file cannot hold: nothing written, the old file stays.
    p.CalValSGEdited(2, 2, "日");
    EXPECT_FALSE(p.CalSaveButtonClick(path));
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_EQ(Texts(p.TakeMessages()),
              std::vector<std::string>{"Файл \"" + path +
                                       "\" не записан: точка 2 фазы B: символ, которого нет в кодировке "
                                       "Windows-1251."});
}

}  // namespace
}  // namespace tovik
