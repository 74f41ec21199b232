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
#include "support/TempDir.h"

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

bool Done(const TIntentResult& r) {
    return r.State == TIntentState::Done;
}

TBlock Entry(uint8_t hour, uint8_t day) {
    return TBlock{hour, 0, 0, day, 3, 26, uint8_t(hour + 1), 0, 0, day, 3, 26};
}

using test::ReadFile;
using ScratchDir = test::TempDir;

// ---- task log ----

TEST(PanelTaskLog, EmptyLogGivesOneEmptyRowAndOnlyAdd) {
    TPanelRig rig(kKindTovik);
    rig.Relay.TaskCapacity = 4;
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const TTextGrid& grid = p.TaskLog().Grid();
    ASSERT_EQ(grid.size(), 2u);
    EXPECT_EQ(grid[0], (TTextRow{"№", "Начало", "Окончание"}));
    EXPECT_EQ(grid[1], (TTextRow{"", "", ""}));
    EXPECT_TRUE(p.ButtonEnabled(BtnTaskAdd));
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskDelete));
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskClear));
    EXPECT_TRUE(p.TaskLog().GridEnabled());
    // Nothing to edit in the empty row.
    const size_t from = rig.Sent.size();
    p.TaskLog().EditEntry(0, TTaskField::Start, "1.01.2026 00:00:00", "1.01.2026 00:00:00");
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
    ASSERT_TRUE(RunUntil(rig, [&] { return p.TaskLog().Log().LastReceived() == 0; }));
    const TTextGrid& grid = p.TaskLog().Grid();
    ASSERT_EQ(grid.size(), 4u);
    EXPECT_EQ(grid[1], (TTextRow{"1", "1.03.2026 08:00:00", "1.03.2026 09:00:00"}));
    EXPECT_EQ(grid[2], (TTextRow{"2", "", ""}));
    EXPECT_EQ(grid[3], (TTextRow{"3", "", ""}));
    EXPECT_TRUE(p.Poll().Flags().TaskLogReading);
    for (TPanelButton b : {BtnTaskAdd, BtnTaskDelete, BtnTaskClear}) EXPECT_FALSE(p.ButtonEnabled(b));

    ASSERT_TRUE(RunUntil(rig, [&] { return !p.Poll().Flags().TaskLogReading; }));
    EXPECT_EQ(p.TaskLog().Grid()[3], (TTextRow{"3", "3.03.2026 10:00:00", "3.03.2026 11:00:00"}));
    std::vector<int32_t> entries;
    for (const auto& s : rig.Sent)
        if (s.Code == CmdReadTask) entries.push_back(s.Param1);
    EXPECT_EQ(entries, (std::vector<int32_t>{0, 1, 2}));
    for (TPanelButton b : {BtnTaskAdd, BtnTaskDelete, BtnTaskClear}) EXPECT_TRUE(p.ButtonEnabled(b));
    EXPECT_TRUE(p.TaskLog().GridEnabled());
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
    ASSERT_TRUE(RunUntil(rig, [&] { return p.TaskLog().Log().LastReceived() == 0; }));
    rig.Relay.Fail[CmdReadTask] = 1;  // entry 1 goes unanswered
    ASSERT_TRUE(RunUntil(rig, [&] { return !p.Poll().Flags().TaskLogReading; }));
    rig.Drain();
    EXPECT_EQ(p.TaskLog().Grid()[1][1], "1.03.2026 08:00:00");
    EXPECT_EQ(p.TaskLog().Grid()[2][1], "");
    EXPECT_FALSE(p.TaskLog().GridEnabled());
    EXPECT_NE(std::find(ReadNames(p.Poll().FailedReads()).begin(), ReadNames(p.Poll().FailedReads()).end(),
                        "task_log"),
              ReadNames(p.Poll().FailedReads()).end());
    // An edit of a disabled grid goes nowhere.
    const size_t from = rig.Sent.size();
    p.TaskLog().EditEntry(0, TTaskField::Start, "2.03.2026 08:00:00", "2.03.2026 09:00:00");
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
    EXPECT_TRUE(p.TaskLog().GridEnabled());
}

TEST(PanelTaskLog, AnIndexPastTheCountOrAShortReplyEndsTheChainAndIsNotStored) {
    TPanelRig rig(kKindTovik);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2), Entry(10, 3)};
    TTovikPanel& p = rig.Open();
    ASSERT_TRUE(RunUntil(rig, [&] { return p.TaskLog().Log().LastReceived() == 0; }));
    // The relay's log shrinks under the chain: entry 1 of a log of 1.
    rig.Relay.Tasks.resize(1);
    ASSERT_TRUE(RunUntil(rig, [&] { return !p.Poll().Flags().TaskLogReading; }));
    rig.Drain();
    EXPECT_EQ(p.TaskLog().Log().Count(), 1u);
    EXPECT_EQ(p.TaskLog().Log().Entries()[0], (TTaskEntry{8, 0, 0, 1, 3, 26, 9, 0, 0, 1, 3, 26}));
    EXPECT_FALSE(p.TaskLog().GridEnabled());
    // Answered, but not with an entry of the log.
    EXPECT_NE(std::find(p.Poll().IncompleteReads().begin(), p.Poll().IncompleteReads().end(), "task_log"),
              p.Poll().IncompleteReads().end());
    const auto reads = std::count_if(rig.Sent.begin(), rig.Sent.end(),
                                     [](const test::TSent& s) { return s.Code == CmdReadTask; });
    EXPECT_EQ(reads, 2);  // no read past the end

    // A reply one byte short is a failed read: nothing of it is kept.
    TPanelRig cut(kKindTovik);
    cut.Relay.Tasks = {Entry(8, 1)};
    cut.Relay.Cut[CmdReadTask] = 14;
    TTovikPanel& q = cut.Open();
    cut.Cycle();
    EXPECT_EQ(q.TaskLog().Log().Count(), 0u);
    EXPECT_FALSE(q.TaskLog().GridEnabled());
    EXPECT_EQ(std::count(q.Poll().IncompleteReads().begin(), q.Poll().IncompleteReads().end(), "task_log"),
              1);
}

TEST(PanelTaskLog, EnterRewritesTheEditedCellAndWritesTheEntry) {
    TPanelRig rig(kKindTovikMModbus);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2)};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const uint32_t endRev = p.TaskLog().CellRevision(2, 2);
    const size_t first = rig.Sent.size();
    // Column 1: its text normalised, column 2 left as typed.
    p.TaskLog().EditEntry(1, TTaskField::Start, "5.5.2026 14:30:00", "5.5.2026 15:00:00");
    EXPECT_EQ(p.TaskLog().Grid()[2][1], "5.05.2026 14:30:00");
    EXPECT_EQ(p.TaskLog().Grid()[2][2], "5.5.2026 15:00:00");
    EXPECT_EQ(p.TaskLog().CellRevision(2, 2), endRev);
    rig.AnswerQueued();
    ASSERT_EQ(rig.Sent.size(), first + 1);
    EXPECT_EQ(rig.Sent[first].Code, CmdWriteTask);
    EXPECT_EQ(rig.Sent[first].Param1, 1);
    EXPECT_EQ(rig.Sent[first].Data, (TBlock{14, 30, 0, 5, 5, 26, 15, 0, 0, 5, 5, 26}));
    EXPECT_EQ(p.TaskLog().Log().Entries()[1], (TTaskEntry{14, 30, 0, 5, 5, 26, 15, 0, 0, 5, 5, 26}));
    rig.Drain();
    EXPECT_TRUE(p.TakeMessages().empty());
    EXPECT_FALSE(
        p.Poll().Flags().ReloadTaskLog);  // the copy changed at once; no chain for a write that worked
    size_t from = rig.Sent.size();

    // Column 2: only column 2 normalised.
    p.TaskLog().EditEntry(0, TTaskField::End, "1.3.2026 8:00:00", "1.3.2026 9:15:00");
    EXPECT_EQ(p.TaskLog().Grid()[1][1], "1.3.2026 8:00:00");
    EXPECT_EQ(p.TaskLog().Grid()[1][2], "1.03.2026 09:15:00");

    // A write the relay refuses: "Ошибка задания.", and the log is read back
    // so that the grid does not keep a value the relay does not hold.
    rig.Drain();
    rig.Relay.Fail[CmdWriteTask] = 1;
    p.TaskLog().EditEntry(0, TTaskField::Start, "1.3.2026 7:00:00", "1.3.2026 9:15:00");
    rig.Drain();
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка задания."});
    EXPECT_TRUE(p.Poll().Flags().ReloadTaskLog);
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(p.TaskLog().Grid()[1][1], "1.03.2026 08:00:00");

    // Text that is not a time stamp is never written as the earliest one.
    from = rig.Sent.size();
    const TIntentResult wrong = p.TaskLog().EditEntry(0, TTaskField::Start, "завтра", "1.3.2026 9:15:00");
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    EXPECT_EQ(wrong.Text, "Задание 1: \"завтра\" не дата и время; задание не записано.");
    EXPECT_TRUE(wrong.Plain);
    EXPECT_EQ(p.TaskLog().Grid()[1][1], "завтра");  // kept as typed
}

TEST(PanelTaskLog, AddDeleteAndClear) {
    TPanelRig rig(kKindTovik);
    rig.Relay.Tasks = {Entry(8, 1), Entry(9, 2)};
    rig.Relay.TaskCapacity = 3;
    rig.Now = {14, 30, 0, 5, 5, 2026};
    TTovikPanel& p = rig.Open();
    rig.Cycle();

    size_t from = rig.Sent.size();
    p.TaskLog().Add();
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskAdd));
    rig.Drain();
    ASSERT_EQ(rig.Sent.size(), from + 1);
    EXPECT_EQ(rig.Sent[from].Code, CmdAddTask);
    EXPECT_EQ(rig.Sent[from].Data, (TBlock{2, 14, 30, 0, 5, 5, 26, 14, 30, 0, 5, 5, 26}));
    EXPECT_TRUE(p.Poll().Flags().ReloadTaskLog);
    rig.Relay.Tasks.push_back(Entry(14, 5));
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(p.TaskLog().Log().Count(), 3u);
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskAdd));  // full: not enabled again

    // Delete: a row is needed.
    from = rig.Sent.size();
    for (std::optional<size_t> none : {std::optional<size_t>(), std::optional<size_t>(3)}) {
        const TIntentResult r = p.TaskLog().Delete(none);
        EXPECT_EQ(r.Text, "Выберите ячейку строки удаляемого задания.");
        EXPECT_TRUE(r.Plain);
    }
    p.TaskLog().Delete(1);
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskDelete));
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskClear));
    rig.Relay.Fail[CmdDeleteTask] = 1;
    rig.Drain();
    ASSERT_EQ(rig.Sent.size(), from + 1);
    EXPECT_EQ(rig.Sent[from].Code, CmdDeleteTask);
    EXPECT_EQ(rig.Sent[from].Data, (TBlock{1, 3}));
    EXPECT_EQ(Texts(p.TakeMessages()), std::vector<std::string>{"Ошибка удаления задания."});
    // The log is read back; the chain's end enables the buttons again.
    EXPECT_TRUE(p.Poll().Flags().ReloadTaskLog);
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_TRUE(p.ButtonEnabled(BtnTaskDelete));

    from = rig.Sent.size();
    p.TaskLog().Clear();
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
    EXPECT_EQ(p.TaskLog().Clear().Reason,
              TRefusalReason::NothingToDo);  // the log is empty: the button is off
    rig.Relay.Fail[CmdAddTask] = 1;
    p.TaskLog().Add();
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
    ASSERT_EQ(p.TaskLog().Log().Capacity(), 0);
    ASSERT_TRUE(p.ButtonEnabled(BtnTaskAdd));
    rig.Device.PortId = 0;
    const size_t from = rig.Sent.size();
    const TIntentResult r = p.TaskLog().Add();
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    EXPECT_EQ(r.Text, "Больше нет свободного места в журнале заданий.");
    EXPECT_TRUE(r.Plain);
}

TEST(PanelTaskLog, ReadOnlyAccessNeitherEditsNorSends) {
    TPanelRig rig(kKindTovik, 2);
    rig.Relay.Tasks = {Entry(8, 1)};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    EXPECT_FALSE(p.TaskLog().Editable());
    for (TPanelButton b : {BtnTaskAdd, BtnTaskDelete, BtnTaskClear}) EXPECT_FALSE(p.ButtonEnabled(b));
    const size_t from = rig.Sent.size();
    for (const TIntentResult& r :
         {p.TaskLog().EditEntry(0, TTaskField::Start, "2.03.2026 08:00:00", "2.03.2026 09:00:00"),
          p.TaskLog().Add(), p.TaskLog().Delete(0), p.TaskLog().Clear()})
        EXPECT_EQ(r.Reason, TRefusalReason::ReadOnly);
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    EXPECT_EQ(p.TaskLog().Grid()[1][1], "1.03.2026 08:00:00");
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
    EXPECT_EQ(p.Alarms().Grid().size(), 2u);

    rig.Relay.AlarmHeader = {2, 5};
    rig.Relay.AlarmRecords = {Alarm(10, 1, 12345), Alarm(11, 4, 100000000)};
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(RecordReads(rig), 2u);
    EXPECT_EQ(told, 1);
    ASSERT_EQ(rig.Device.AlarmCache.size(), 3u);
    ASSERT_EQ(p.Alarms().Grid().size(), 4u);
    EXPECT_EQ(p.Alarms().Grid()[2],
              (TTextRow{"1.02.2026 10:00:00", "Превышение номинального тока", "Ia=12,3 Ib=0,00 Ic=0,00"}));
    EXPECT_EQ(p.Alarms().Grid()[3][2], "Ia=^^^^ Ib=0,00 Ic=0,00");

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
        EXPECT_TRUE(p.Alarms().FetchFailed());
        // A short reply was answered, with less; either way nothing is kept.
        const auto& noted = shortReply ? p.Poll().IncompleteReads() : ReadNames(p.Poll().FailedReads());
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
        p.Alarms().Clear();
        rig.Drain();
        EXPECT_EQ(rig.Codes(from), std::vector<uint8_t>{CmdClearAlarms});
        EXPECT_TRUE(rig.Device.AlarmCache.empty());
        EXPECT_EQ(told, 1);
        EXPECT_EQ(p.Alarms().AlarmHeader(), (std::array<uint8_t, 2>{0, 0}));
        EXPECT_EQ(p.Alarms().LastAlarmHeader(), (std::array<uint8_t, 2>{0, 0}));
        EXPECT_EQ(p.Alarms().Grid(), (TTextGrid{{"Дата/время", "причина аварии", "токи"}, {"", "", ""}}));
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
    ASSERT_TRUE(Done(p.Alarms().SaveText(text)));
    EXPECT_EQ(ReadFile(text), FixedWidthText(p.Alarms().Grid(), {21, 32, 25}));
    EXPECT_EQ(ReadFile(text).size(), 2u * 80u);
    const std::string sheet = dir.Path + "/journal.xlsx";
    ASSERT_TRUE(Done(p.Alarms().ExportWorkbook(sheet)));
    EXPECT_NE(test::XlsxPart(sheet, "xl/sharedStrings.xml").find("<t>Ia=12,3 Ib=0,00 Ic=0,00</t>"),
              std::string::npos);
    // Nothing but the two files is left in the folder.
    EXPECT_EQ(dir.Count(), 2u);

    // A folder that does not exist: the system's reason, nothing written.
    const TIntentResult text2 = p.Alarms().SaveText(dir.Path + "/none/journal.txt");
    const TIntentResult sheet2 = p.Alarms().ExportWorkbook(dir.Path + "/none/journal.xlsx");
    EXPECT_EQ(text2.State, TIntentState::Failed);
    EXPECT_EQ(text2.Text,
              "Не удалось записать файл \"" + dir.Path + "/none/journal.txt\": No such file or directory.");
    EXPECT_EQ(sheet2.Text,
              "Не удалось записать файл \"" + dir.Path + "/none/journal.xlsx\": No such file or directory.");

    // Read-only access writes nothing.
    TPanelRig viewer(kKindTovik, 2);
    TTovikPanel& v = viewer.Open();
    viewer.Cycle();
    EXPECT_EQ(v.Alarms().SaveText(dir.Path + "/viewer.txt").Reason, TRefusalReason::ReadOnly);
    EXPECT_EQ(v.Alarms().ExportWorkbook(dir.Path + "/viewer.xlsx").Reason, TRefusalReason::ReadOnly);
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
    TIntentResult savedText;
    TIntentResult savedSheet;
    {
        test::TFileSizeLimit full(1000);  // the text file is 21 lines of 80 bytes
        savedText = p.Alarms().SaveText(text);
        savedSheet = p.Alarms().ExportWorkbook(sheet);
    }
    EXPECT_FALSE(Done(savedText));
    EXPECT_FALSE(Done(savedSheet));
    EXPECT_EQ(ReadFile(text), "old journal");
    EXPECT_EQ(ReadFile(sheet), "old workbook");
    const std::vector<std::string> texts = {savedText.Text, savedSheet.Text};
    EXPECT_EQ(texts[0], "Не удалось записать файл \"" + text + "\": File too large.");
    EXPECT_NE(texts[1].find("Не удалось записать файл \"" + sheet + "\": "), std::string::npos) << texts[1];
    EXPECT_EQ(dir.Count(), 2u);
}

// ---- calibration ----

TEST(PanelCalibration, InformationSetsThePointsAndEnablesTheTab) {
    TPanelRig rig(kKindTovik, 0);
    rig.Relay.CalInfo = {4, 0, 0};
    TTovikPanel& p = rig.Open();
    const TCalibration& cal = p.Calibration().State();
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
    EXPECT_FALSE(m.Calibration().State().GroupEnabled());
    EXPECT_FALSE(m.ButtonEnabled(BtnStartCalibration));
}

TEST(PanelCalibration, StartChecksEveryPhaseAndShowsThePlanWithoutSendingAnything) {
    TPanelRig rig(kKindTovikM, 0);
    rig.Relay.CalInfo = {4, 0, 0};
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const TCalibration& cal = p.Calibration().State();
    const size_t from = rig.Sent.size();

    EXPECT_EQ(p.Calibration().Start().Text, "Выберите калибруемые токи.");

    p.Calibration().CheckPhase(0, true);
    p.Calibration().CheckPhase(1, true);
    EXPECT_TRUE(cal.PointsEnabled(0));
    EXPECT_FALSE(cal.PointsEnabled(2));
    p.Calibration().SetPointCount(0, 3);
    p.Calibration().SetPointCount(2, 4);  // disabled: its box is not checked
    EXPECT_EQ(cal.Points(2), 2);
    // A: 0, 5, 5 is not rising.
    p.Calibration().EditCell(0, 2, "5");
    p.Calibration().EditCell(0, 3, "5");
    p.Calibration().EditCell(1, 2, "7");
    EXPECT_EQ(p.Calibration().Start().Text, "Ошибка ввода калибровочных токов фазы A.");
    EXPECT_EQ(cal.Grid()[1][2], "5,00");  // normalised by the start
    // B: a text that is not a number is not taken for the smallest current.
    p.Calibration().EditCell(0, 3, "10");
    p.Calibration().EditCell(1, 2, "семь");
    EXPECT_EQ(p.Calibration().Start().Text, "Ошибка ввода калибровочных токов фазы B.");
    EXPECT_EQ(cal.Grid()[2][2], "семь");
    // C: an empty cell within its points.
    p.Calibration().EditCell(1, 2, "7");
    p.Calibration().CheckPhase(2, true);
    p.Calibration().SetPointCount(2, 3);
    p.Calibration().EditCell(2, 2, "2,5");
    EXPECT_EQ(p.Calibration().Start().Text, "Ошибка ввода калибровочных токов фазы C.");
    EXPECT_EQ(cal.Step(), -1);
    p.Calibration().CheckPhase(2, false);

    // A (0, 5, 10) and B (0, 7): the schedule 0, 5, 7, 10.
    EXPECT_TRUE(Done(p.Calibration().Start()));
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
    p.Calibration().CheckPhase(2, true);
    EXPECT_FALSE(cal.Checked(2));
    rig.Relay.SettingsChanged = true;
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_FALSE(p.ButtonEnabled(BtnStartCalibration));
    // Nothing went to the relay but the polls' reads.
    for (size_t i = from; i < rig.Sent.size(); ++i)
        EXPECT_TRUE(test::IsReadCode(rig.Sent[i].Code)) << int(rig.Sent[i].Code);
}

TEST(PanelCalibration, EnterNormalisesTheCellAndTheStartNeedsAConnection) {
    TPanelRig rig(kKindTovik, 0);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const TCalibration& cal = p.Calibration().State();
    p.Calibration().CheckPhase(0, true);
    const uint32_t rev = cal.CellRevision(1, 2);
    p.Calibration().EnterCell(0, 2, "12,345");
    EXPECT_EQ(cal.Grid()[1][2], "12,3");
    EXPECT_GT(cal.CellRevision(1, 2), rev);
    p.Calibration().EnterCell(0, 2, "0");
    EXPECT_EQ(cal.Grid()[1][2], "0,01");  // the smallest current there is
    p.Calibration().EnterCell(0, 2, "много");
    EXPECT_EQ(cal.Grid()[1][2], "много");
    p.Calibration().EnterCell(0, 1, "7");  // the fixed 0 A point
    EXPECT_EQ(cal.Grid()[1][1], "0,00");
    p.Calibration().EnterCell(0, 2, "5");
    rig.Device.PortId = 0;
    const TIntentResult start = p.Calibration().Start();
    EXPECT_FALSE(cal.Started());
    EXPECT_EQ(start.Reason, TRefusalReason::NoConnection);
    EXPECT_TRUE(start.Text.empty());
}

TEST(PanelCalibration, BelowTheServiceLevelThereIsNoTab) {
    for (uint8_t access : {1, 2}) {
        TPanelRig rig(kKindTovik, access);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        EXPECT_FALSE(p.Access() == TPanelAccess::Service);
        EXPECT_EQ(std::count_if(rig.Sent.begin(), rig.Sent.end(),
                                [](const test::TSent& s) { return s.Code == CmdReadCalInfo; }),
                  0);
        p.Calibration().CheckPhase(0, true);
        p.Calibration().Start();
        EXPECT_FALSE(p.Calibration().State().Checked(0));
        EXPECT_FALSE(p.Calibration().State().Started());
        ScratchDir dir;
        EXPECT_TRUE(p.Calibration().SaveFile(dir.Path + "/x.cal").Refused());
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
    for (int r = 1; r <= 3; ++r) p.Calibration().EditCell(r - 1, 2, "0,00");
    ASSERT_TRUE(Done(p.Calibration().SaveFile(path)));
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
    ASSERT_TRUE(Done(p.Calibration().LoadFile(dir.Path + "/other.cal")));
    const TCalibration& cal = p.Calibration().State();
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
    p.Calibration().CheckPhase(0, false);
    std::vector<std::string> texts;
    for (const char* name : {"/cut.cal", "/long.cal", "/none.cal"}) {
        const TIntentResult r = p.Calibration().LoadFile(dir.Path + name);
        EXPECT_EQ(r.State, TIntentState::Failed) << name;
        texts.push_back(r.Text);
    }
    EXPECT_FALSE(cal.Checked(0));
    EXPECT_EQ(texts[0],
              "Файл \"" + dir.Path + "/cut.cal\" не загружен: файл короче своих данных (в нём 33 байта).");
    EXPECT_EQ(texts[1],
              "Файл \"" + dir.Path +
                  "/long.cal\" не загружен: файл длиннее своих данных (34 байта данных, в файле 35).");
    EXPECT_EQ(texts[2], "Не удалось открыть файл \"" + dir.Path + "/none.cal\": No such file or directory.");

    // A text the file cannot hold: nothing written, the old file stays.
    p.Calibration().EditCell(1, 2, "日");
    EXPECT_EQ(
        p.Calibration().SaveFile(path).Text,
        "Файл \"" + path + "\" не записан: точка 2 фазы B: символ, которого нет в кодировке Windows-1251.");
    EXPECT_EQ(ReadFile(path), bytes);
}

}  // namespace
}  // namespace tovik
