// The panel model without a window: what it sends, when, and what it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "PanelTestRig.h"
#include "base/Files.h"
#include "panel/SettingsView.h"
#include "protocol/UstTable.h"

namespace tovik {
namespace {

using test::kRu;
using test::PutF32;
using test::PutU16;
using test::PutU32;
using test::TPanelRig;
using test::TQueuePort;

std::vector<uint8_t> BatchCodes(uint8_t kind, bool settings, bool tasks, bool service) {
    std::vector<uint8_t> v;
    if (settings) v.push_back(CmdReadUst);
    if (settings && service) v.push_back(CmdReadCalInfo);
    if (tasks) v.push_back(CmdReadTask);
    for (uint8_t c : {CmdReadCurrents, CmdReadImax, CmdReadTimers, CmdReadAlarmCounters, CmdReadState,
                      CmdReadAlarmCount, CmdReadClock})
        v.push_back(c);
    if (kind == kKindTovikMModbus) v.push_back(CmdReadStatistics);
    return v;
}

// ---- polling decisions ----

TEST(PanelPolling, FirstCycleReadsEverythingInOrderThenOnlyTheBatch) {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind) {
        for (uint8_t access : {0, 1, 2}) {
            TPanelRig rig(kind, access);
            TTovikPanel& p = rig.Open();
            rig.Cycle();
            std::vector<uint8_t> expected = {CmdReadCell};
            for (uint8_t c : BatchCodes(kind, true, true, access == 0)) expected.push_back(c);
            EXPECT_EQ(rig.Codes(), expected) << int(kind) << "/" << int(access);
            EXPECT_TRUE(p.Poll().LastPollOk());
            EXPECT_EQ(p.Poll().CompletedCycles(), 1u);
            EXPECT_TRUE(p.Poll().FailedReads().empty());
            for (const auto& s : rig.Sent) {
                EXPECT_EQ(s.Address, 1);
                EXPECT_EQ(s.Owner, p.Link().OwnerId());
            }
            // The next cycle: the setpoints and the task log are read again
            // only when the relay says they changed.
            const size_t from = rig.Sent.size();
            rig.Clock.Advance(100);
            rig.Cycle();
            expected = {CmdReadCell};
            for (uint8_t c : BatchCodes(kind, false, false, false)) expected.push_back(c);
            EXPECT_EQ(rig.Codes(from), expected);
        }
    }
}

TEST(PanelPolling, IntervalCountsFromThePreviousPollAcrossTheClockWrap) {
    TPanelRig rig(kKindTovik, 1, 250);
    rig.Clock.Advance(0xFFFFFFFFu - rig.Clock.Value() - 100);  // 100 ms before the wrap
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const uint32_t polled = p.Poll().LastPollTime();
    rig.Clock.Advance(249);  // across 0
    ASSERT_LT(rig.Clock.Value(), polled);
    p.Tick();
    EXPECT_EQ(rig.Port->QueueLength(), 0u) << "polled before the interval";
    rig.Clock.Advance(1);
    p.Tick();
    EXPECT_EQ(rig.Port->QueueLength(), 1u);
    EXPECT_EQ(p.Poll().LastPollTime(), rig.Clock.Value());
}

TEST(PanelPolling, IntervalZeroPollsAsSoonAsTheBatchIsDrained) {
    TPanelRig rig(kKindTovikModbus, 1, 0);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    p.Tick();
    EXPECT_EQ(rig.Port->QueueLength(), 1u);
}

TEST(PanelPolling, NoPollWhileAJobWaitsACompletionWaitsOrThePollIsUnanswered) {
    TPanelRig rig(kKindTovik);
    TTovikPanel& p = rig.Open();
    p.Tick();
    ASSERT_EQ(rig.Port->QueueLength(), 1u);
    // The poll still waits in the queue: the owner is not idle.
    rig.Clock.Advance(1000);
    p.Tick();
    EXPECT_EQ(rig.Port->QueueLength(), 1u);
    // Taken by the worker, not answered: the poll is outstanding.
    auto poll = rig.Next();
    ASSERT_TRUE(poll);
    rig.Clock.Advance(1000);
    for (int i = 0; i < 5; ++i) p.Tick();
    EXPECT_EQ(rig.Port->QueueLength(), 0u);
    EXPECT_TRUE(p.Poll().Flags().PollOutstanding);
    // Answered: the completion runs on the next tick and queues the batch.
    TPanelRig::Answer(*poll, true, rig.ReplyTo(*poll));
    p.Tick();
    EXPECT_FALSE(p.Poll().Flags().PollOutstanding);
    const size_t batch = rig.Port->QueueLength();
    EXPECT_EQ(batch, BatchCodes(kKindTovik, true, true, false).size());
    // Two completions waiting: one per tick, and no poll in between.
    auto a = rig.Next();
    auto b = rig.Next();
    TPanelRig::Answer(*a, true, rig.ReplyTo(*a));
    TPanelRig::Answer(*b, true, rig.ReplyTo(*b));
    rig.Clock.Advance(1000);
    p.Tick();
    EXPECT_EQ(p.Link().Results()->Count(), 1u);
    p.Tick();
    EXPECT_EQ(p.Link().Results()->Count(), 0u);
    EXPECT_EQ(rig.Port->QueueLength(), batch - 2);
}

// A front end sleeps until the tick has something to do: the next poll's
// deadline, a completion waiting, the end of the 1500 ms after a start, or
// at the latest the idle limit; while the panel's queued jobs hold the poll
// back, the result list is asked to wake it as the last of them is taken.
TEST(PanelPolling, TheNextTickComesWhenTheTickHasSomethingToDo) {
    TPanelRig rig(kKindTovik, 1, 100);
    TTovikPanel& p = rig.Open();
    const TResultEventsList& results = *p.Link().Results();
    const int32_t owner = p.Link().OwnerId();
    rig.Cycle();
    EXPECT_EQ(p.NextTickInMs(), 100u);
    rig.Clock.Advance(60);
    EXPECT_EQ(p.NextTickInMs(), 40u);
    rig.Clock.Advance(40);
    p.Tick();
    // The poll queued, then running: only its completion gives work.
    EXPECT_EQ(p.NextTickInMs(), kIdleTickMs);
    auto poll = rig.Next();
    EXPECT_EQ(p.NextTickInMs(), kIdleTickMs);
    EXPECT_FALSE(results.WaitsForIdle(owner));
    TPanelRig::Answer(*poll, true, rig.ReplyTo(*poll));
    EXPECT_EQ(p.NextTickInMs(), 0u);
    p.Tick();
    // The batch queued: the wake comes with its last job taken.
    EXPECT_EQ(p.NextTickInMs(), kIdleTickMs);
    EXPECT_TRUE(results.WaitsForIdle(owner));
    std::vector<TProtoJob> running;
    while (auto job = rig.Next()) running.push_back(std::move(*job));
    rig.Clock.Advance(30);
    EXPECT_EQ(p.NextTickInMs(), 70u);
    for (TProtoJob& job : running) TPanelRig::Answer(job, true, rig.ReplyTo(job));
    rig.Drain();

    // The 1500 ms after a start, when they end first.
    rig.Port->RequestInterval = 5000;
    p.Data().Start();
    rig.Drain();
    rig.Clock.Advance(1000);
    EXPECT_EQ(p.NextTickInMs(), kIdleTickMs);
    rig.Clock.Advance(400);
    EXPECT_EQ(p.NextTickInMs(), 100u);
}

TEST(PanelPolling, APollBehindTheLastJobOfTheBatchKeepsTheCyclesApart) {
    TPanelRig rig(kKindTovik, 1, 100);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    ASSERT_EQ(p.Poll().CompletedCycles(), 1u);
    // The next batch: every job answered but the last, which the worker
    // is still running (it fails after its tries).
    rig.Clock.Advance(100);
    p.Tick();
    auto poll = rig.Next();
    ASSERT_TRUE(poll);
    TPanelRig::Answer(*poll, true, rig.ReplyTo(*poll));
    p.Tick();  // the batch
    std::optional<TProtoJob> last;
    while (auto job = rig.Next()) {
        if (rig.Port->QueueLength() == 0) {
            last = std::move(job);
            break;
        }
        TPanelRig::Answer(*job, true, rig.ReplyTo(*job));
    }
    ASSERT_TRUE(last);
    EXPECT_EQ(last->Request->Command.Code, CmdReadClock);
    rig.Drain();
    // Nothing waits in the queue or the list: the next poll goes out
    // behind the running job.
    rig.Clock.Advance(100);
    p.Tick();
    ASSERT_EQ(rig.Port->QueueLength(), 1u);
    EXPECT_EQ(p.Poll().CompletedCycles(), 1u);
    TPanelRig::Answer(*last, false, std::nullopt);
    p.Tick();
    EXPECT_EQ(p.Poll().CompletedCycles(), 2u);  // the second cycle ends with its own last read
    EXPECT_EQ(ReadNames(p.Poll().FailedReads()), std::vector<std::string>{"clock"});
    rig.Drain();
    EXPECT_EQ(p.Poll().CompletedCycles(), 3u);
    EXPECT_TRUE(ReadNames(p.Poll().FailedReads()).empty());
    EXPECT_EQ(p.Link().Outstanding(), 0);
}

TEST(PanelPolling, StatePollReplyDecidesWhatIsReadAgain) {
    TPanelRig rig(kKindTovikM);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    EXPECT_EQ(rig.Device.VariantByte, 0);

    // The relay's change marks.
    rig.Relay.SettingsChanged = true;
    rig.Relay.Variant = 5;
    size_t from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(rig.Codes(from)[1], CmdReadUst);
    EXPECT_EQ(rig.Device.VariantByte, 5);
    rig.Relay.SettingsChanged = false;
    rig.Relay.TaskLogChanged = true;
    from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(rig.Codes(from)[1], CmdReadTask);

    // A model byte that differs from item 19 of the last block re-reads both.
    rig.Relay.TaskLogChanged = false;
    rig.Relay.Model = 0x14;
    from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    const auto codes = rig.Codes(from);
    EXPECT_EQ(codes[1], CmdReadUst);
    EXPECT_EQ(codes[2], CmdReadTask);
    EXPECT_TRUE(p.Poll().Flags().RefreshAll == false);
}

TEST(PanelPolling, FailedPollBlanksEveryDisplayAndDisablesTheCommands) {
    TPanelRig rig(kKindTovikMModbus);
    TTovikPanel& p = rig.Open();
    PutF32(rig.Relay.Currents, 0, 12500.0f);
    rig.Cycle();
    ASSERT_EQ(p.Data().View().Label(LabelTokA), "Ia = 12,5 A");
    ASSERT_TRUE(p.ButtonEnabled(BtnPusk));
    ASSERT_EQ(p.Settings().Grid()[1][3].find("Н/Д"), std::string::npos);

    rig.Relay.Fail[CmdReadCell] = -1;
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_FALSE(p.Poll().LastPollOk());
    EXPECT_EQ(ReadNames(p.Poll().FailedReads()), std::vector<std::string>{"state_poll"});
    EXPECT_EQ(rig.Codes(rig.Sent.size() - 1), std::vector<uint8_t>{CmdReadCell});  // nothing else
    for (int i = 0; i < kLabelCount; ++i) {
        const auto id = static_cast<TLabelId>(i);
        if (id == LabelDateTime) continue;  // blanked by the timers' handler
        EXPECT_TRUE(p.Data().View().Label(id).ends_with("Н/Д")) << p.Data().View().Label(id);
    }
    EXPECT_EQ(p.Data().View().Label(LabelDateTime), "Текущее время: Н/Д");
    EXPECT_EQ(p.Data().StatusText(), "Недоступно: нет ответа");
    for (size_t r = 1; r < p.Settings().Grid().size(); ++r)
        for (size_t c = 1; c <= 3; ++c) EXPECT_EQ(p.Settings().Grid()[r][c], "Н/Д");
    for (int b = 0; b < kButtonCount; ++b) EXPECT_FALSE(p.ButtonEnabled(static_cast<TPanelButton>(b)));
    EXPECT_TRUE(p.Poll().Flags().RefreshAll);

    // The relay answers again: the setpoints come first, the commands back.
    rig.Relay.Fail.clear();
    const size_t from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(rig.Codes(from)[1], CmdReadUst);
    EXPECT_TRUE(p.ButtonEnabled(BtnPusk));
    EXPECT_EQ(p.Data().View().Label(LabelTokA), "Ia = 12,5 A");
}

// "Недоступно" in the status bar says why: how the state poll ended, a
// reply with less than it takes, or the line gone with the system's reason.
TEST(PanelPolling, AnUnavailableStateSaysWhy) {
    struct Case {
        TOutcome Outcome;
        std::optional<TBlock> Data;
        std::string Status;
    };
    // The system's own words for the error code (Windows has other texts).
    const std::string gone =
        "Недоступно: порт ttyT0 недоступен: устройство отключено (" + SystemErrorText(EIO) + ")";
    const Case cases[] = {
        {TOutcome{}, std::nullopt, "Недоступно: нет ответа"},
        {TOutcome{TReplyStatus::Damaged}, std::nullopt, "Недоступно: ответ повреждён (контрольная сумма)"},
        {TOutcome{TReplyStatus::Exception, 2}, std::nullopt,
         "Недоступно: исключение ModBus 2: недопустимый адрес данных"},
        {kAnswered, TBlock{0x13, 0}, "Недоступно: ответ короче ожидаемого"},
        {TOutcome{TReplyStatus::NoLine, 0, {TOpenError::Gone, EIO}}, std::nullopt, gone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Status);
        TPanelRig rig(kKindTovik);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        rig.Clock.Advance(100);
        p.Tick();
        auto poll = rig.Next();
        ASSERT_TRUE(poll);
        TPanelRig::Answer(*poll, c.Outcome, c.Data);
        p.Tick();
        EXPECT_EQ(p.Data().StatusText(), c.Status);
        EXPECT_EQ(p.Data().View().Label(LabelTokA), "Ia = Н/Д");
    }
}

TEST(PanelPolling, DeviceWithoutPortShowsNoConnectionAndSendsNothing) {
    TPanelRig rig(kKindTovikMModbus);
    rig.Device.PortId = 12345;  // no such port
    TTovikPanel& p = rig.Open();
    for (int i = 0; i < 5; ++i) p.Tick();
    EXPECT_EQ(rig.Port->QueueLength(), 0u);
    EXPECT_EQ(p.Data().StatusText(), "Не настроено подключение.");
    EXPECT_EQ(rig.Device.PortId, 0);  // detached from the port
    EXPECT_EQ(p.Settings().PortIndex(), 0);
    EXPECT_EQ(p.Settings().PortItems()[0].Text, "Нет");
    for (int i = 0; i < kLabelCount; ++i)
        EXPECT_TRUE(p.Data().View().Label(static_cast<TLabelId>(i)).ends_with("Н/Д"));
    p.Data().Start();
    p.Data().SyncClock();
    p.Settings().WriteSetpoint(0, "5");
    EXPECT_EQ(rig.Port->QueueLength(), 0u);
}

TEST(PanelPolling, UnknownKindOrBusNumberOutsideTheRangeSendsNothing) {
    {
        TPanelRig rig(kKindTovik);
        rig.Device.SetDeviceKind(9);
        TTovikPanel& p = rig.Open();
        for (int i = 0; i < 3; ++i) p.Tick();
        EXPECT_EQ(rig.Port->QueueLength(), 0u);
        EXPECT_EQ(p.Data().StatusText(), "Неизвестный тип устройства (9).");
        EXPECT_EQ(p.Settings().Grid().size(), 1u);  // the header only
    }
    for (uint8_t bus : {0, 251, 255}) {
        TPanelRig rig(kKindTovikModbus);
        rig.Device.BusAddress = bus;
        TTovikPanel& p = rig.Open();
        EXPECT_EQ(p.Settings().BusValue(), bus == 0 ? 1 : 250);  // the box holds 1..250
        for (int i = 0; i < 3; ++i) p.Tick();
        EXPECT_EQ(rig.Port->QueueLength(), 0u) << int(bus);
        EXPECT_NE(p.Data().StatusText().find("Недопустимый номер в магистрали (" + std::to_string(bus) + ")"),
                  std::string::npos);
        // The operator picks a number: polling starts with it.
        p.Settings().ChooseBus(7);
        p.Tick();
        auto job = rig.Next();
        ASSERT_TRUE(job);
        EXPECT_EQ(job->Request->Address, 7);
        EXPECT_EQ(rig.Device.BusAddress, 7);
    }
}

// ---- what the handlers show ----

TEST(PanelDisplay, ValuesOfAWholeCycle) {
    TPanelRig rig(kKindTovikMModbus);
    TTovikPanel& p = rig.Open();
    auto& r = rig.Relay;
    PutF32(r.Currents, 0, 12500.0f);
    PutF32(r.Currents, 4, 15000.0f);
    PutF32(r.Currents, 8, 13000.0f);
    PutU32(r.Imax, 0, 20000);
    PutU16(r.Timers, 0, 50);   // 1 s
    PutU16(r.Timers, 10, 75);  // Tп 1.5 s
    PutU16(r.Timers, 14, 3);   // Nапв
    for (uint16_t w = 0; w < 7; ++w) PutU16(r.Counters, 2 * w, static_cast<uint16_t>(10 + w));
    r.State[3] = 18;  // "АВАРИЯ" with an empty cache
    PutU32(r.Statistics, 16, 42);
    PutU32(r.Statistics, 20, 3725);
    const uint8_t stamp[8] = {10, 20, 30, 0, 1, 2, 25, 0};
    std::copy(stamp, stamp + 8, r.Statistics.begin());
    rig.Cycle();
    const TDeviceView& v = p.Data().View();
    EXPECT_EQ(v.Label(LabelTokA), "Ia = 12,5 A");
    EXPECT_EQ(v.Label(LabelDisb), "Di = 2,50 A");
    EXPECT_EQ(v.Label(LabelImax), "Imax = 20,0 A");
    EXPECT_EQ(v.Label(LabelKtr), "Kтр = 1");
    EXPECT_TRUE(v.Label(LabelMinLoadT).starts_with("Недогрузка по Imin = 1,"));
    EXPECT_TRUE(v.Label(LabelTpLoadT).starts_with("Блокировка защит Tп = 1,5"));
    EXPECT_EQ(v.Label(LabelAvszN), "Автовозвратов защиты Nапв = 3");
    EXPECT_EQ(v.Label(LabelAvnOts), "Nотс = 14");  // word 4
    EXPECT_EQ(v.Label(LabelAvnPha), "Nфаз = 15");  // word 5
    EXPECT_EQ(v.Label(LabelMoto), "Tмото (чч:мм:сс): 1:2:5");
    EXPECT_EQ(v.Label(LabelOnCount), "Nвкл = 42");
    EXPECT_EQ(v.Label(LabelStartRstDateTime), "Время последнего сброса статистики: 1.02.2025 10:20:30");
    EXPECT_EQ(v.Label(LabelDateTime), "Текущее время: 7.03.2026 12:00:00");
    EXPECT_EQ(p.Data().StatusText(), "АВАРИЯ");
    EXPECT_EQ(p.Data().Caption(), "Данные ТовикМ ModBus");
    EXPECT_TRUE(p.Data().View().LabelVisible(LabelMoto));
    EXPECT_EQ(p.Data().ModelMemo(), ModelDescription(0x13, kKindTovikMModbus));
}

TEST(PanelDisplay, NativeCurrentsScaleWithKtrAndTheStatusNamesTheLastAlarm) {
    TPanelRig rig(kKindTovik);
    TTovikPanel& p = rig.Open();
    EXPECT_EQ(p.Data().Caption(), "Данные Товик");
    EXPECT_FALSE(p.Data().View().LabelVisible(LabelMoto));
    PutU16(rig.Relay.Setpoints, 24, 20);
    PutF32(rig.Relay.Currents, 0, 12500.0f);
    rig.Relay.State[3] = 18;
    // One record in the relay's journal: fetched in the same cycle, and the
    // status bar names it at once.
    rig.Relay.AlarmHeader = {1, 7};
    TBlock record(19, 0);
    const uint8_t head[7] = {14, 30, 0, 5, 5, 26, 2};
    std::copy(head, head + 7, record.begin());
    PutU32(record, 7, 1000);
    PutU32(record, 11, 1000);
    PutU32(record, 15, 100000000);
    rig.Relay.AlarmRecords = {record};
    rig.Cycle();
    EXPECT_EQ(p.Data().View().Label(LabelTokA), "Ia = 250 A");
    ASSERT_EQ(rig.Device.AlarmCache.size(), 1u);
    EXPECT_EQ(p.Data().StatusText(),
              "АВАРИЯ 5.05.2026 14:30:00 " + EventText(2) + " Ia=20,0 Ib=20,0 Ic=^^^^");
    EXPECT_EQ(p.Alarms().Grid().size(), 2u);
    // The same header again: no second fetch.
    const size_t from = rig.Sent.size();
    rig.Clock.Advance(100);
    rig.Cycle();
    const auto codes = rig.Codes(from);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), CmdReadAlarm), 0);
}

TEST(PanelDisplay, ShortRepliesShowWhatArrived) {
    TPanelRig rig(kKindTovikM);
    TTovikPanel& p = rig.Open();
    PutF32(rig.Relay.Currents, 0, 1000.0f);
    PutF32(rig.Relay.Currents, 4, 1000.0f);
    rig.Relay.Cut[CmdReadCurrents] = 8;
    rig.Relay.Cut[CmdReadTimers] = 10;
    rig.Relay.Cut[CmdReadUst] = 30;
    rig.Cycle();
    EXPECT_EQ(p.Data().View().Label(LabelTokA), "Ia = 1,00 A");
    EXPECT_EQ(p.Data().View().Label(LabelTokC), "Ic = Н/Д");
    EXPECT_EQ(p.Data().View().Label(LabelTpLoadT), "Блокировка защит Tп = Н/Д");
    // Answered with less: failed reads, though what arrived is shown.
    EXPECT_EQ(ReadNames(p.Poll().FailedReads()),
              (std::vector<std::string>{"setpoints", "currents", "timers"}));
    for (const TFailedRead& r : p.Poll().FailedReads()) EXPECT_EQ(r.Outcome.Status, TReplyStatus::Short);
    // Rows whose bytes arrived are shown, the rest are not; commands stay off.
    EXPECT_NE(p.Settings().Grid()[1][3], "Н/Д");
    EXPECT_EQ(p.Settings().Grid()[20][3], "Н/Д");
    EXPECT_FALSE(p.ButtonEnabled(BtnPusk));
    EXPECT_TRUE(p.Poll().Flags().RefreshAll);
}

TEST(PanelDisplay, SetpointGridRowsByKindAndItem24AsAnInteger) {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind) {
        TPanelRig rig(kind);
        rig.Relay.Setpoints[26] = 3;
        TTovikPanel& p = rig.Open();
        const size_t rows = kind == 3 ? 26u : kind == 2 ? 24u : 23u;
        ASSERT_EQ(p.Settings().Grid().size(), rows);
        EXPECT_EQ(p.Settings().Grid()[0],
                  (TTextRow{"Функция/наименование", "мин", "макс", "сейчас", "новое"}));
        EXPECT_EQ(p.Settings().Grid()[1][0], "пороговый ток нагрузки Iпор, A");
        EXPECT_EQ(p.Settings().Grid()[1][3], "Н/Д");
        rig.Cycle();
        if (kind == 3) {
            EXPECT_EQ(p.Settings().Grid()[25][3], "3");
        }
        EXPECT_EQ(p.Settings().Grid()[20][1], "");  // the model row has no limits
    }
}

// ---- access levels and commands ----

TEST(PanelCommands, EnablingByAccessLevel) {
    for (uint8_t access : {0, 1, 2, 7}) {
        TPanelRig rig(kKindTovikM, access);
        TTovikPanel& p = rig.Open();
        for (int b = 0; b < kButtonCount; ++b) EXPECT_FALSE(p.ButtonEnabled(static_cast<TPanelButton>(b)));
        rig.Relay.Setpoints[48] = 1;
        rig.Cycle();
        const bool full = access != 2;
        for (TPanelButton b : {BtnPusk, BtnStop, BtnResetCounters, BtnSyncTime, BtnAutomation, BtnAlarmClear,
                               BtnAlarmExcel, BtnAlarmSave})
            EXPECT_EQ(p.ButtonEnabled(b), full) << ButtonInfo(b).Name << " level " << int(access);
        EXPECT_EQ(p.ButtonEnabled(BtnStartCalibration), access == 0);
        EXPECT_EQ(p.ButtonEnabled(BtnTaskAdd), full);  // an empty log with room
        EXPECT_FALSE(p.ButtonEnabled(BtnTaskDelete));
        EXPECT_EQ(p.Access() == TPanelAccess::Service, access == 0);
        EXPECT_EQ(p.Settings().Editable(), full);
        EXPECT_EQ(p.Settings().Editable(), full);
        EXPECT_EQ(p.Data().NameBox().Editable, full);
        EXPECT_EQ(p.Settings().Editable(), full);
        if (full) {
            EXPECT_EQ(p.ButtonCaption(BtnAutomation), "Отключить");
        }
    }
}

TEST(PanelCommands, ReadOnlySendsNothingButPollingReadsWhateverIsForwarded) {
    TPanelRig rig(kKindTovikMModbus, 2);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const size_t from = rig.Sent.size();
    const TIntentResult results[] = {p.Data().Start(),
                                     p.Data().Stop(),
                                     p.Data().ResetCounters(),
                                     p.Data().SyncClock(),
                                     p.Data().SwitchAutomation(),
                                     p.Alarms().Clear(),
                                     p.Settings().WriteSetpoint(2, "12"),
                                     p.Settings().ChooseBus(9),
                                     p.Settings().ListPorts(),
                                     p.Settings().ChoosePort(0),
                                     p.Data().NameDoubleClicked("Насос"),
                                     p.Data().NameEntered("Насос")};
    for (const TIntentResult& r : results) {
        EXPECT_EQ(r.Reason, TRefusalReason::ReadOnly);
        EXPECT_TRUE(r.Text.empty());  // the controls are off: nothing to tell
    }
    EXPECT_EQ(rig.Port->QueueLength(), 0u);
    EXPECT_EQ(rig.Device.BusAddress, 1);
    EXPECT_EQ(rig.Device.PortId, rig.Port->Id);
    EXPECT_TRUE(p.Data().NameBox().ReadOnly);
    EXPECT_TRUE(rig.Renamed.empty());
    // Enter still normalises the cell and re-reads the setpoints.
    EXPECT_TRUE(p.Poll().Flags().ReloadSettings);
    EXPECT_EQ(p.Settings().Grid()[3][4], "12,0");
    rig.Clock.Advance(100);
    rig.Cycle();
    for (size_t i = from; i < rig.Sent.size(); ++i) EXPECT_TRUE(test::IsReadCode(rig.Sent[i].Code));
}

TEST(PanelCommands, StartStopResetClockAndAutomation) {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind) {
        TPanelRig rig(kind);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        size_t from = rig.Sent.size();

        const TIntentResult start = p.Data().Start();
        EXPECT_EQ(start.State, TIntentState::Sent);
        EXPECT_FALSE(p.ButtonEnabled(BtnPusk));
        EXPECT_TRUE(p.ButtonEnabled(BtnStop));
        EXPECT_EQ(p.Data().Start().Reason, TRefusalReason::NotNow);  // disabled: no second start
        p.Data().Stop();
        p.Data().SyncClock();
        rig.AnswerQueued();
        EXPECT_EQ(rig.Codes(from), (std::vector<uint8_t>{CmdStart, CmdStop, CmdSetClock}));
        EXPECT_EQ(rig.Sent.back().Data, (TBlock{9, 5, 3, 7, 3, 26}));

        // "Пуск" comes back 1500 ms after the click, by the engine's clock.
        rig.Clock.Advance(1499);
        p.Tick();
        EXPECT_FALSE(p.ButtonEnabled(BtnPusk));
        rig.Clock.Advance(1);
        p.Data().EnPuskTimerTimer();
        EXPECT_TRUE(p.ButtonEnabled(BtnPusk));
        EXPECT_FALSE(p.Data().EnPuskTimerRunning());
        rig.Drain();

        // "Сбросить": 14 zero bytes with command 22; the journal clear on "ТовикМ ModBus".
        rig.Device.AlarmCache.push_back(TAlarmRecord{});
        from = rig.Sent.size();
        p.Data().ResetCounters();
        rig.Drain();
        if (kind == kKindTovikMModbus) {
            EXPECT_EQ(rig.Codes(from), std::vector<uint8_t>{CmdClearAlarms});
            EXPECT_TRUE(rig.Device.AlarmCache.empty());
            EXPECT_EQ(p.Alarms().AlarmHeader(), (std::array<uint8_t, 2>{0, 0}));
        } else {
            EXPECT_EQ(rig.Codes(from), std::vector<uint8_t>{CmdResetAlarmCounters});
            EXPECT_EQ(rig.Sent.back().Data, TBlock(14, 0));
            EXPECT_EQ(rig.Device.AlarmCache.size(), 1u);
        }

        // The automation switch: the opposite of item 18, then a setpoint read.
        for (uint8_t mode : {0, 1, 5}) {
            rig.Relay.Setpoints[48] = mode;
            rig.Relay.SettingsChanged = true;
            rig.Clock.Advance(100);
            rig.Cycle();
            rig.Relay.SettingsChanged = false;
            EXPECT_EQ(p.ButtonCaption(BtnAutomation), mode ? "Отключить" : "Включить");
            from = rig.Sent.size();
            p.Data().SwitchAutomation();
            EXPECT_FALSE(p.ButtonEnabled(BtnAutomation));
            EXPECT_TRUE(p.Poll().Flags().ReloadSettings);
            rig.AnswerQueued();
            ASSERT_EQ(rig.Sent.size(), from + 1);
            EXPECT_EQ(rig.Sent[from].Code, CmdWriteCell);
            EXPECT_EQ(rig.Sent[from].Param1, 48);
            EXPECT_EQ(rig.Sent[from].Data, TBlock{uint8_t(mode ? 0 : 1)});
            rig.Clock.Advance(100);
            rig.Cycle();
            EXPECT_TRUE(p.ButtonEnabled(BtnAutomation));
        }
    }
}

TEST(PanelCommands, PuskStaysOffAfterAFailedPoll) {
    TPanelRig rig(kKindTovik);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    p.Data().Start();
    rig.AnswerQueued();
    rig.Relay.Fail[CmdReadCell] = -1;
    rig.Clock.Advance(100);
    rig.Cycle();
    rig.Clock.Advance(1500);
    p.Tick();
    EXPECT_FALSE(p.Data().EnPuskTimerRunning());
    EXPECT_FALSE(p.ButtonEnabled(BtnPusk));
}

TEST(PanelCommands, InstallationName) {
    TPanelRig rig(kKindTovikM);
    rig.Device.InstallationName = "Насосная 1";
    TTovikPanel& p = rig.Open();
    EXPECT_EQ(p.Data().NameBox().Text, "Насосная 1");
    EXPECT_TRUE(p.Data().NameBox().ReadOnly);
    EXPECT_EQ(p.Data().NameBox().Caption, "Имя электроустановки");

    // Enter in the read-only box with a text makes it editable.
    p.Data().NameEntered("Насосная 1");
    EXPECT_FALSE(p.Data().NameBox().ReadOnly);
    EXPECT_EQ(p.Data().NameBox().Caption, "Введите имя электроустановки:");
    // A setpoint read puts the stored name back only into a box not being edited.
    rig.Cycle();
    EXPECT_FALSE(p.Data().NameBox().ReadOnly);
    // Empty on Enter: refused, still editable.
    const TIntentResult empty = p.Data().NameEntered("");
    EXPECT_EQ(empty.Text, "Необходима не пустая строка.");
    EXPECT_TRUE(empty.Plain);
    EXPECT_FALSE(p.Data().NameBox().ReadOnly);
    // Texts the record cannot hold stay in the box with a message.
    EXPECT_NE(p.Data().NameEntered(std::string(41, 'x')).Text.find("длиннее 40"), std::string::npos);
    // The euro sign is in 1251; a CJK one is not.
    EXPECT_EQ(p.Data().NameEntered("Насос \u20ac").State, TIntentState::Done);
    p.Data().NameDoubleClicked("Насос");
    EXPECT_NE(p.Data().NameDoubleClicked("Насос \u4e2d").Text.find("Windows-1251"), std::string::npos);
    EXPECT_FALSE(p.Data().NameBox().ReadOnly);
    p.Data().NameEntered("Насосная 2");
    EXPECT_TRUE(p.Data().NameBox().ReadOnly);
    EXPECT_EQ(rig.Device.InstallationName, "Насосная 2");
    EXPECT_EQ(rig.Renamed, (std::vector<std::string>{"Насос \u20ac", "Насосная 2"}));
    EXPECT_EQ(rig.Port->QueueLength(), 0u);  // nothing for the relay
}

// ---- settings tab ----

TEST(PanelSettings, EnterInTheNewColumnByAccessLevel) {
    struct Case {
        uint8_t access;
        int row;
        const char* text;
        bool written;
    };
    const Case cases[] = {
        {1, 3, "12", true},                                // Inom
        {1, 21, "1.02.2024", false},                       // item 20: not at full access
        {0, 21, "1.02.2024", true},  {1, 20, "3", false},  // item 19
        {1, 22, "77", false},                              // item 21
        {1, 23, "3", true},                                // item 22 on "ТовикМ"
        {2, 3, "12", false},
    };
    for (const auto& c : cases) {
        TPanelRig rig(kKindTovikM, c.access);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        const size_t from = rig.Sent.size();
        const TIntentResult written = p.Settings().WriteSetpoint(c.row - 1, c.text);
        EXPECT_TRUE(p.Poll().Flags().ReloadSettings);
        EXPECT_TRUE(written.Text.empty());  // a refusal by access level says nothing
        EXPECT_EQ(written.State == TIntentState::Sent, c.written);
        rig.AnswerQueued();
        EXPECT_EQ(rig.Sent.size() - from, c.written ? 1u : 0u) << c.row << " level " << int(c.access);
        if (c.written) {
            const int item = c.row - 1;
            EXPECT_EQ(rig.Sent[from].Code, UstCells[static_cast<size_t>(item)].WriteCommand.Code);
            EXPECT_EQ(rig.Sent[from].Param1, UstCells[static_cast<size_t>(item)].WriteCommand.Param1);
        }
        // The next poll re-reads the setpoints.
        const size_t next = rig.Sent.size();
        rig.Clock.Advance(100);
        rig.Cycle();
        EXPECT_EQ(rig.Codes(next)[1], CmdReadUst);
        if (c.written) {
            EXPECT_EQ(p.Link().Result(written.Id)->State, TIntentState::Done);
        }
    }
}

// The items a kind's grid does not show are no setpoints of its relay:
// Enter past the end of a shorter grid writes nothing and reads nothing.
TEST(PanelSettings, AnItemPastTheEndOfTheKindsGridIsNoEdit) {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind) {
        TPanelRig rig(kind, 0);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        const TTextGrid before = p.Settings().Grid();
        const size_t from = rig.Sent.size();
        for (int item : {-1, SetpointItemCount(kind), kUstCellCount}) {
            const TIntentResult r = p.Settings().WriteSetpoint(item, "5");
            EXPECT_EQ(r.Reason, TRefusalReason::NoSelection) << int(kind) << "/" << item;
        }
        rig.AnswerQueued();
        EXPECT_EQ(rig.Sent.size(), from) << int(kind);
        EXPECT_FALSE(p.Poll().Flags().ReloadSettings);
        EXPECT_EQ(p.Settings().Grid(), before);
    }
}

TEST(PanelSettings, ValuesAreHeldWithinTheLimitsAndShownAsWritten) {
    TPanelRig rig(kKindTovik);
    TTovikPanel& p = rig.Open();
    PutU16(rig.Relay.Setpoints, 24, 10);  // Kтр 10
    rig.Cycle();
    // Inom typed as 150 A with Kтр 10: 15 A at the relay.
    p.Settings().WriteSetpoint(2, "150");
    EXPECT_EQ(p.Settings().Grid()[3][4], "150");
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.back().Data, (TBlock{0x98, 0x3A, 0, 0}));  // 15000 mA
    // Tmin above its maximum: held at 65000 (1300 s), shown before it goes out.
    p.Settings().WriteSetpoint(7, "99999");
    EXPECT_EQ(p.Settings().Grid()[8][4], FormatUstValue(MakeUstRaw(65000), 7, 0, kKindTovik, kRu));
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.back().Data, (TBlock{0xE8, 0xFD}));
}

TEST(PanelSettings, TextThatIsNotANumberIsNeverWritten) {
    for (const char* text : {"", "abc", "1,2,3"}) {
        TPanelRig rig(kKindTovikMModbus);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        const size_t from = rig.Sent.size();
        const TIntentResult r = p.Settings().WriteSetpoint(1, text);  // Imin: 0 would switch it off
        rig.AnswerQueued();
        EXPECT_EQ(rig.Sent.size(), from) << text;
        EXPECT_EQ(p.Settings().Grid()[2][4], text);  // kept as typed
        EXPECT_EQ(r.Reason, TRefusalReason::BadInput);
        EXPECT_EQ(r.Text,
                  "Уставка \"минимальный ток нагрузки Imin, A\": ожидается число. Ничего не записано.");
        EXPECT_TRUE(p.Poll().Flags().ReloadSettings);
    }
    // Before a whole setpoint block arrived nothing is written either.
    TPanelRig rig(kKindTovik);
    TTovikPanel& p = rig.Open();
    rig.Relay.Fail[CmdReadUst] = -1;
    rig.Cycle();
    const size_t from = rig.Sent.size();
    const TIntentResult r = p.Settings().WriteSetpoint(2, "12");
    rig.AnswerQueued();
    EXPECT_EQ(rig.Sent.size(), from);
    EXPECT_EQ(r.Reason, TRefusalReason::NotReadYet);
    EXPECT_NE(r.Text.find("ещё не прочитаны"), std::string::npos);
}

TEST(PanelSettings, PortBoxAndBusNumber) {
    TPanelRig rig(kKindTovikModbus);
    auto second = std::make_unique<TQueuePort>("ttyT1");
    TQueuePort* other = second.get();
    rig.Ports.Add(std::move(second));
    TTovikPanel& p = rig.Open();
    ASSERT_EQ(p.Settings().PortItems().size(), 2u);  // "Нет" and the device's port
    EXPECT_EQ(p.Settings().PortItems()[1].Text, "ttyT0");
    EXPECT_EQ(p.Settings().PortIndex(), 1);

    p.Settings().ListPorts();
    ASSERT_EQ(p.Settings().PortItems().size(), 3u);
    EXPECT_EQ(p.Settings().PortItems()[0].PortId, -1);
    // Nothing chosen: the device's port is selected again.
    p.Settings().ChoosePort(-1);
    EXPECT_EQ(p.Settings().PortIndex(), 1);

    // A poll waits on the old port when the other one is chosen.
    p.Tick();
    auto poll = rig.Next();
    ASSERT_TRUE(poll);
    const int32_t before = p.Link().OwnerId();
    p.Settings().ListPorts();
    p.Settings().ChoosePort(2);
    EXPECT_EQ(rig.Device.PortId, other->Id);
    EXPECT_TRUE(other->IsOwnerRegistered(p.Link().OwnerId()));
    EXPECT_TRUE(rig.Port->IsOwnerRegistered(before));  // still held: the old jobs complete
    TPanelRig::Answer(*poll, true, rig.ReplyTo(*poll));
    p.Tick();  // handled normally: the batch goes to the new port
    EXPECT_FALSE(p.Poll().Flags().PollOutstanding);
    EXPECT_GT(other->QueueLength(), 0u);

    // The bus number applies from the next request on.
    p.Settings().ChooseBus(5);
    EXPECT_EQ(rig.Device.BusAddress, 5);
    p.Settings().ChooseBus(300);
    EXPECT_EQ(p.Settings().BusValue(), 250);

    // "Нет": the status says so within one tick, and the device has no port.
    p.Settings().ListPorts();
    p.Settings().ChoosePort(0);
    EXPECT_EQ(rig.Device.PortId, -1);
    p.Tick();
    EXPECT_EQ(p.Data().StatusText(), "Не настроено подключение.");
    EXPECT_EQ(rig.Device.PortId, 0);
}

TEST(PanelSettings, PortThatDisappearsAndComesBackIsPolledAgain) {
    TPanelRig rig(kKindTovik);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    // The port goes while the box is dropped down (the device keeps its Id),
    // with a poll of the panel still unanswered on it.
    p.Settings().ListPorts();
    rig.Clock.Advance(100);
    p.Tick();
    ASSERT_TRUE(rig.Next());
    const int32_t id = rig.Port->Id;
    rig.Ports.Delete(0);
    rig.Port = nullptr;
    p.Tick();
    EXPECT_EQ(p.Link().OwnerId(), kNoOwner);
    EXPECT_EQ(p.Data().StatusText(), "Не настроено подключение.");
    EXPECT_EQ(rig.Device.PortId, id);
    // Back under the same Id: a fresh registration, and polling resumes.
    auto again = std::make_unique<TQueuePort>("ttyT0");
    rig.Port = again.get();
    rig.Ports.Add(std::move(again));
    p.Settings().ChoosePort(-1);
    rig.Clock.Advance(100);
    p.Tick();
    EXPECT_TRUE(rig.Port->IsOwnerRegistered(p.Link().OwnerId()));
    EXPECT_EQ(rig.Port->QueueLength(), 1u);
    rig.Drain();
    EXPECT_TRUE(p.Poll().LastPollOk());
    // Released cleanly: the registration goes with the panel.
    const int32_t owner = p.Link().OwnerId();
    rig.Panel.reset();
    EXPECT_FALSE(rig.Port->IsOwnerRegistered(owner));
}

TEST(PanelSettings, LayoutRestoredAndStored) {
    TPanelRig rig(kKindTovik);
    TTovikPanel& p = rig.Open();
    TPanelLayout applied{};
    int applies = 0;
    TPanelLayout current{111, 222, 700, 3};
    p.SetLayoutView([&] { return current; },
                    [&](const TPanelLayout& l) {
                        applied = l;
                        ++applies;
                    });
    TMemoryStream block;
    p.PanelLayoutHandler(block, true);  // empty: nothing applied
    EXPECT_EQ(applies, 0);
    block.Bytes() = {1, 2, 3};
    p.PanelLayoutHandler(block, true);  // too short to hold a layout
    EXPECT_EQ(applies, 0);
    WritePanelLayout(block, {150, 160, 600, -2});
    p.PanelLayoutHandler(block, true);
    EXPECT_EQ(applies, 1);
    EXPECT_EQ(applied.ModelGroupWidth, 150);
    EXPECT_EQ(applied.ActivePage, -2);
    p.PanelLayoutHandler(block, false);
    const auto stored = ReadPanelLayout(block);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->ModelGroupWidth, 111);
    EXPECT_EQ(stored->PuskStopWidth, 222);
    EXPECT_EQ(stored->StatsWidth, 700);
    EXPECT_EQ(stored->ActivePage, 3);
    EXPECT_EQ(block.Size(), 16u);
}

TEST(PanelSettings, RevisionsMoveOnlyWithChanges) {
    TPanelRig rig(kKindTovikMModbus);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const auto revisions = [&p] {
        return std::vector<uint32_t>{p.Data().Revision(),         p.Settings().Revision(),
                                     p.Settings().GridRevision(), p.TaskLog().Revision(),
                                     p.Alarms().Revision(),       p.Calibration().Revision(),
                                     p.Files().Revision(),        p.MessagesRevision()};
    };
    const std::vector<uint32_t> seen = revisions();
    const uint32_t labels = p.Data().View().Revision();
    // The same values again: nothing to redraw.
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(p.Data().View().Revision(), labels);
    EXPECT_EQ(revisions(), seen);
    // One current changes: only its label (and Di) move.
    const uint32_t a = p.Data().View().LabelRevision(LabelTokA), b = p.Data().View().LabelRevision(LabelTokB);
    PutF32(rig.Relay.Currents, 0, 2000.0f);
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_EQ(p.Data().View().LabelRevision(LabelTokB), b);
    EXPECT_GT(p.Data().View().LabelRevision(LabelTokA), a);
    EXPECT_EQ(revisions(), seen);
}

TEST(PanelTaskLog, ReadChainThroughTheModel) {
    TPanelRig rig(kKindTovikM);
    rig.Relay.Tasks = {TBlock{1, 2, 3, 4, 5, 26, 6, 7, 8, 9, 10, 26}, TBlock(12, 1),
                       TBlock{30, 0, 0, 0, 1, 150, 0, 0, 0, 1, 1, 0}};
    rig.Relay.TaskCapacity = 3;
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    const auto codes = rig.Codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), CmdReadTask), 3);
    EXPECT_FALSE(p.Poll().Flags().TaskLogReading);
    ASSERT_EQ(p.TaskLog().Log().Count(), 3u);
    const TTextGrid grid = p.TaskLog().Grid();
    EXPECT_EQ(grid[1][1], "4.05.2026 01:02:03");
    EXPECT_EQ(grid[3][1], "1.01.2099 23:00:00");  // hour 30, day 0, year byte 150
    EXPECT_TRUE(p.TaskLog().GridEnabled());
    EXPECT_FALSE(p.ButtonEnabled(BtnTaskAdd));  // the log is full
    EXPECT_TRUE(p.ButtonEnabled(BtnTaskDelete));
}

TEST(PanelAlarms, AFetchCountsWhatItAddedAndSaysWhenItFailed) {
    TPanelRig rig(kKindTovikMModbus);
    TBlock a(19, 0), b(19, 0);
    a[0] = 1;
    b[0] = 2;
    rig.Relay.AlarmHeader = {2, 0};
    rig.Relay.AlarmRecords = {a, b};
    rig.Device.AlarmCache.push_back(TAlarmRecord{1});  // a is known already
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    EXPECT_EQ(p.Alarms().AddedAlarms(), 1);
    EXPECT_FALSE(p.Alarms().FetchFailed());
    EXPECT_EQ(rig.Device.AlarmCache.size(), 2u);
    EXPECT_EQ(p.Link().Outstanding(), 0);
    // A record cut short is not taken.
    rig.Relay.AlarmHeader = {2, 1};
    rig.Relay.AlarmRecords[1][0] = 3;
    rig.Relay.Cut[CmdReadAlarm] = 18;
    rig.Clock.Advance(100);
    rig.Cycle();
    EXPECT_TRUE(p.Alarms().FetchFailed());
    EXPECT_EQ(p.Alarms().AddedAlarms(), 0);
    EXPECT_EQ(rig.Device.AlarmCache.size(), 2u);
}

// Every intent that sends a request says what came of it: done when the
// relay answered, failed with the request's outcome when it did not.
TEST(PanelCommands, ASentIntentSaysHowItsRequestEnded) {
    using TAct = TIntentResult (*)(TTovikPanel&);
    const std::pair<uint8_t, TAct> intents[] = {
        {CmdStart, [](TTovikPanel& p) { return p.Data().Start(); }},
        {CmdStop, [](TTovikPanel& p) { return p.Data().Stop(); }},
        {CmdResetAlarmCounters, [](TTovikPanel& p) { return p.Data().ResetCounters(); }},
        {CmdSetClock, [](TTovikPanel& p) { return p.Data().SyncClock(); }},
        {CmdWriteCell, [](TTovikPanel& p) { return p.Data().SetAutomation(true); }},
        {CmdWriteCell, [](TTovikPanel& p) { return p.Settings().WriteSetpoint(2, "12"); }},
        {CmdClearAlarms, [](TTovikPanel& p) { return p.Alarms().Clear(); }},
        {CmdAddTask, [](TTovikPanel& p) { return p.TaskLog().Add(); }},
        {CmdReadCalInfo, [](TTovikPanel& p) { return p.Calibration().ReadInformation(); }},
    };
    for (bool answered : {true, false}) {
        for (const auto& [code, act] : intents) {
            TPanelRig rig(kKindTovik);
            TTovikPanel& p = rig.Open();
            rig.Cycle();
            if (!answered) rig.Relay.Fail[code] = 1;
            const TIntentResult sent = act(p);
            ASSERT_EQ(sent.State, TIntentState::Sent) << int(code);
            EXPECT_EQ(p.Link().Result(sent.Id)->State, TIntentState::Sent);
            rig.Drain();
            const TIntentResult* done = p.Link().Result(sent.Id);
            ASSERT_NE(done, nullptr);
            EXPECT_EQ(done->State, answered ? TIntentState::Done : TIntentState::Failed) << int(code);
            EXPECT_EQ(done->Outcome.Status, answered ? TReplyStatus::Answered : TReplyStatus::NoAnswer);
        }
    }
}

}  // namespace
}  // namespace tovik
