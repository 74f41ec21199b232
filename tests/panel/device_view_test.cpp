#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "panel/DeviceView.h"
#include "panel/SettingsView.h"

namespace tovik {
namespace {

const TLocaleFormat kRu{",", ".", ":"};

void PutU16(TBlock& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(TBlock& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutF32(TBlock& b, size_t at, float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    PutU32(b, at, bits);
}

TBlock Setpoints(uint16_t ktr) {
    TBlock b(57, 0);
    PutU16(b, 24, ktr);
    b[49] = 0x13;
    return b;
}

TBlock Currents(float a, float b, float c) {
    TBlock block(12, 0);
    PutF32(block, 0, a);
    PutF32(block, 4, b);
    PutF32(block, 8, c);
    return block;
}

TEST(DeviceViewTest, StartsWithEveryLabelUnavailable) {
    TDeviceView view(3, kRu);
    EXPECT_EQ(view.Label(LabelTokA), "Ia = Н/Д");
    EXPECT_EQ(view.Label(LabelKtr), "Kтр = Н/Д");
    EXPECT_EQ(view.Label(LabelDateTime), "Текущее время: Н/Д");
    EXPECT_EQ(view.Label(LabelMoto), "Tмото (чч:мм:сс): Н/Д");
    EXPECT_EQ(view.Label(LabelAvnRizo), "N Rиз = Н/Д");
    EXPECT_EQ(view.StateStatusText(), "");
    EXPECT_EQ(view.Ktr(), 0);
    for (int i = 0; i < kLabelCount; ++i) {
        const auto id = static_cast<TLabelId>(i);
        EXPECT_EQ(view.Label(id), std::string(LabelInfo(id).Prefix) + "Н/Д") << LabelInfo(id).Name;
    }
}

TEST(DeviceViewTest, StatisticsLabelsOnlyForTovikMModbus) {
    for (uint8_t kind = 0; kind < 4; ++kind) {
        TDeviceView view(kind, kRu);
        const auto ids = view.VisibleLabels();
        EXPECT_EQ(ids.size(), kind == 3 ? 26u : 22u) << int(kind);
        // The panel's order: currents first, the counters last.
        EXPECT_EQ(ids.front(), LabelTokA);
        EXPECT_EQ(ids.back(), LabelAvnRizo);
        EXPECT_EQ(view.LabelVisible(LabelOnCount), kind == 3);
    }
}

TEST(DeviceViewTest, CurrentsScaleWithKtrOnNativeKindsOnly) {
    struct Case {
        uint8_t kind;
        uint16_t ktr;
        std::string a, di;
    };
    const std::vector<Case> cases = {
        {1, 20, "Ia = 12,5 A", "Di = 2,50 A"},  // ModBus: primary side already
        {3, 1, "Ia = 12,5 A", "Di = 2,50 A"},
        {0, 20, "Ia = 250 A", "Di = 50,0 A"},
        {2, 1, "Ia = 12,5 A", "Di = 2,50 A"},
    };
    for (const auto& c : cases) {
        TDeviceView view(c.kind, kRu);
        const TBlock sp = Setpoints(c.ktr);
        view.OnSetpoints(true, &sp);
        const TBlock cur = Currents(12500.0f, 15000.0f, 13000.0f);
        view.OnCurrents(true, &cur);
        EXPECT_EQ(view.Label(LabelTokA), c.a) << int(c.kind);
        EXPECT_EQ(view.Label(LabelDisb), c.di) << int(c.kind);
        EXPECT_EQ(view.Label(LabelKtr), "Kтр = " + std::to_string(c.ktr));
    }
}

TEST(DeviceViewTest, DamagedOrFailedReadingsShowUnavailable) {
    TDeviceView view(0, kRu);
    const TBlock sp = Setpoints(1);
    view.OnSetpoints(true, &sp);
    const TBlock good = Currents(1000, 1000, 1000);
    view.OnCurrents(true, &good);
    ASSERT_EQ(view.Label(LabelTokB), "Ib = 1,00 A");

    const TBlock nan = Currents(1000, std::numeric_limits<float>::quiet_NaN(), 1000);
    view.OnCurrents(true, &nan);
    EXPECT_EQ(view.Label(LabelTokA), "Ia = Н/Д");
    EXPECT_EQ(view.Label(LabelDisb), "Di = Н/Д");

    view.OnCurrents(true, &good);
    const TBlock shortBlock(8, 0);
    view.OnCurrents(true, &shortBlock);
    EXPECT_EQ(view.Label(LabelTokC), "Ic = Н/Д");
    view.OnCurrents(true, &good);
    view.OnCurrents(false, &good);
    EXPECT_EQ(view.Label(LabelTokA), "Ia = Н/Д");
    view.OnMaxCurrent(true, nullptr);
    EXPECT_EQ(view.Label(LabelImax), "Imax = Н/Д");
}

TEST(DeviceViewTest, MaxCurrentScalesWithKtrOnEveryKind) {
    TDeviceView view(3, kRu);
    const TBlock sp = Setpoints(10);
    view.OnSetpoints(true, &sp);
    TBlock imax(4, 0);
    PutU32(imax, 0, 12345);
    view.OnMaxCurrent(true, &imax);
    EXPECT_EQ(view.Label(LabelImax), "Imax = 123 A");
}

TEST(DeviceViewTest, TimersInPanelOrder) {
    TDeviceView view(0, kRu);
    TBlock t(17, 0);
    const uint16_t raw[7] = {50, 100, 25, 5, 1000, 60, 3};
    for (size_t i = 0; i < 7; ++i) PutU16(t, 2 * i, raw[i]);
    PutU16(t, 14, 4);
    view.OnProtectionTimers(true, &t);
    EXPECT_EQ(view.Label(LabelMinLoadT), "Недогрузка по Imin = 1,0 сек");
    EXPECT_EQ(view.Label(LabelNomLoadT), "Превышение Inom = 2,0 сек");
    EXPECT_EQ(view.Label(LabelMaxLoadT), "Перегрузка по Imax = 0,5 сек");
    EXPECT_EQ(view.Label(LabelDisbLoadT), "Превышение по Di = 0,1 сек");
    EXPECT_EQ(view.Label(LabelPhaLoadT), "Пропадание фаз Tфаз = 20,0 сек");
    EXPECT_EQ(view.Label(LabelTpLoadT), "Блокировка защит Tп = 1,2 сек");
    EXPECT_EQ(view.Label(LabelSzLoadT), "Время до самозапуска Tсз = 0,1 сек");
    EXPECT_EQ(view.Label(LabelAvszN), "Автовозвратов защиты Nапв = 4");

    const TBlock clock = {9, 5, 0, 7, 3, 26};
    view.OnDeviceClock(true, &clock);
    EXPECT_EQ(view.Label(LabelDateTime), "Текущее время: 7.03.2026 09:05:00");
    // A failed clock read keeps the time shown; failed timers blank it.
    view.OnDeviceClock(false, nullptr);
    EXPECT_EQ(view.Label(LabelDateTime), "Текущее время: 7.03.2026 09:05:00");
    view.OnProtectionTimers(false, nullptr);
    EXPECT_EQ(view.Label(LabelDateTime), "Текущее время: Н/Д");
    EXPECT_EQ(view.Label(LabelSzLoadT), "Время до самозапуска Tсз = Н/Д");
    EXPECT_EQ(view.Label(LabelAvszN), "Автовозвратов защиты Nапв = Н/Д");
}

TEST(DeviceViewTest, CounterWordsFourAndFiveAreCutOffAndPhase) {
    TDeviceView view(2, kRu);
    TBlock c(14, 0);
    for (size_t i = 0; i < 7; ++i) PutU16(c, 2 * i, static_cast<uint16_t>(10 + i));
    view.OnAlarmCounters(true, &c);
    EXPECT_EQ(view.Label(LabelAvnMin), "Nmin = 10");
    EXPECT_EQ(view.Label(LabelAvnNom), "Nnom = 11");
    EXPECT_EQ(view.Label(LabelAvnMax), "Nmax = 12");
    EXPECT_EQ(view.Label(LabelAvnDis), "Nдисб = 13");
    EXPECT_EQ(view.Label(LabelAvnOts), "Nотс = 14");
    EXPECT_EQ(view.Label(LabelAvnPha), "Nфаз = 15");
    EXPECT_EQ(view.Label(LabelAvnRizo), "N Rиз = 16");
}

TEST(DeviceViewTest, OperatingStatistics) {
    TDeviceView view(3, kRu);
    TBlock s(24, 0);
    const uint8_t reset[8] = {10, 20, 30, 99, 1, 2, 25, 99};  // bytes 3 and 7 are not part of the time
    const uint8_t change[8] = {23, 59, 58, 99, 31, 12, 26, 99};
    std::memcpy(s.data(), reset, 8);
    std::memcpy(s.data() + 8, change, 8);
    PutU32(s, 16, 42);
    PutU32(s, 20, 3725);
    view.OnStatistics(true, &s);
    EXPECT_EQ(view.Label(LabelStartRstDateTime), "Время последнего сброса статистики: 1.02.2025 10:20:30");
    EXPECT_EQ(view.Label(LabelUstEditDateTime), "Время последнего изменения уставок: 31.12.2026 23:59:58");
    EXPECT_EQ(view.Label(LabelOnCount), "Nвкл = 42");
    EXPECT_EQ(view.Label(LabelMoto), "Tмото (чч:мм:сс): 1:2:5");
    view.OnStatistics(false, nullptr);
    EXPECT_EQ(view.Label(LabelMoto), "Tмото (чч:мм:сс): Н/Д");
    EXPECT_EQ(view.Label(LabelOnCount), "Nвкл = Н/Д");
}

TEST(DeviceViewTest, StateTextWithTheLastAlarm) {
    TDeviceView view(0, kRu);
    const TBlock sp = Setpoints(2);
    view.OnSetpoints(true, &sp);
    const TBlock alarm = {0, 0, 0, 18};
    view.OnDeviceState(true, &alarm, std::nullopt);
    EXPECT_EQ(view.StateStatusText(), "АВАРИЯ");

    std::array<uint8_t, 19> rec{14, 30, 5, 7, 3, 26, 0x84};
    const uint32_t currents[3] = {1500, 100000000, 250};
    for (size_t i = 0; i < 3; ++i)
        for (size_t k = 0; k < 4; ++k) rec[7 + 4 * i + k] = static_cast<uint8_t>(currents[i] >> (8 * k));
    view.OnDeviceState(true, &alarm, rec);
    EXPECT_EQ(view.StateStatusText(), "АВАРИЯ 7.03.2026 14:30:05 Короткое замыкание Ia=3,00 Ib=^^^^ Ic=0,5");

    const TBlock running = {0, 0, 0, 1};
    view.OnDeviceState(true, &running, rec);
    EXPECT_EQ(view.StateStatusText(), "РАБОТА");
    const TBlock unknown = {0, 0, 0, 20};
    view.OnDeviceState(true, &unknown, rec);
    EXPECT_EQ(view.StateStatusText(), "Неизвестно");

    view.OnDeviceState(false, nullptr, rec);
    EXPECT_EQ(view.StateStatusText(), "Недоступно");
    EXPECT_EQ(view.Label(LabelKtr), "Kтр = Н/Д");
    EXPECT_EQ(view.Ktr(), 2);  // the ratio itself stays
    // The relay answers again: its ratio shows again without a new setpoint read.
    view.OnDeviceState(true, &running, rec);
    EXPECT_EQ(view.Label(LabelKtr), "Kтр = 2");
}

TEST(DeviceViewTest, FailedPollBlanksEveryReading) {
    TDeviceView view(3, kRu);
    const TBlock sp = Setpoints(1);
    view.OnSetpoints(true, &sp);
    const TBlock cur = Currents(1000, 1000, 1000);
    view.OnCurrents(true, &cur);
    const TBlock state = {0, 0, 0, 0};
    view.OnDeviceState(true, &state, std::nullopt);
    const TBlock clock = {9, 5, 0, 7, 3, 26};
    view.OnDeviceClock(true, &clock);
    view.OnPollFailed();
    for (TLabelId id : view.VisibleLabels())
        EXPECT_EQ(view.Label(id), std::string(LabelInfo(id).Prefix) + "Н/Д") << LabelInfo(id).Name;
    EXPECT_EQ(view.StateStatusText(), "Недоступно");
}

// A reply block holds only the bytes the reply brought: a value whose
// bytes lie past its end did not arrive and shows "Н/Д", never 0.
TEST(DeviceViewTest, ValuesWhoseBytesDidNotArriveShowUnavailable) {
    TDeviceView view(0, kRu);
    const TBlock cur = Currents(1000, 2000, 4000);
    // A native relay reports secondary currents: no Kтр, no value.
    view.OnCurrents(true, &cur);
    EXPECT_EQ(view.Label(LabelTokA), "Ia = Н/Д");
    TBlock imax(4, 0);
    PutU32(imax, 0, 12345);
    view.OnMaxCurrent(true, &imax);
    EXPECT_EQ(view.Label(LabelImax), "Imax = Н/Д");

    // A setpoint block cut short before Kтр: no ratio either.
    TBlock sp = Setpoints(2);
    const TBlock shortSp(sp.begin(), sp.begin() + 25);
    view.OnSetpoints(true, &shortSp);
    EXPECT_FALSE(view.HasSetpoints());
    EXPECT_EQ(view.SetpointBytes(), 25u);
    EXPECT_FALSE(view.KtrKnown());
    EXPECT_EQ(view.Ktr(), 0);
    EXPECT_EQ(view.Label(LabelKtr), "Kтр = Н/Д");
    view.OnCurrents(true, &cur);
    EXPECT_EQ(view.Label(LabelTokA), "Ia = Н/Д");

    // Kтр arrived, the block did not whole.
    const TBlock withKtr(sp.begin(), sp.begin() + 26);
    view.OnSetpoints(true, &withKtr);
    EXPECT_FALSE(view.HasSetpoints());
    EXPECT_EQ(view.Label(LabelKtr), "Kтр = 2");
    view.OnMaxCurrent(true, &imax);
    EXPECT_EQ(view.Label(LabelImax), "Imax = 24,7 A");

    // Two of three currents.
    const TBlock twoCurrents(cur.begin(), cur.begin() + 8);
    view.OnCurrents(true, &twoCurrents);
    EXPECT_EQ(view.Label(LabelTokA), "Ia = 2,00 A");
    EXPECT_EQ(view.Label(LabelTokB), "Ib = 4,00 A");
    EXPECT_EQ(view.Label(LabelTokC), "Ic = Н/Д");
    EXPECT_EQ(view.Label(LabelDisb), "Di = Н/Д");
    view.OnCurrents(true, &cur);
    EXPECT_EQ(view.Label(LabelTokC), "Ic = 8,00 A");
    EXPECT_EQ(view.Label(LabelDisb), "Di = 6,00 A");
    const TBlock noCurrents;
    view.OnCurrents(true, &noCurrents);
    EXPECT_EQ(view.Label(LabelTokA), "Ia = Н/Д");

    // Five of seven timers; a byte of the sixth is not a value.
    TBlock timers(17, 0);
    for (size_t i = 0; i < 8; ++i) PutU16(timers, 2 * i, static_cast<uint16_t>(50 * (i + 1)));
    view.OnProtectionTimers(true, &timers);
    EXPECT_EQ(view.Label(LabelSzLoadT), "Время до самозапуска Tсз = 7,0 сек");
    EXPECT_EQ(view.Label(LabelAvszN), "Автовозвратов защиты Nапв = 400");
    const TBlock fiveTimers(timers.begin(), timers.begin() + 11);
    view.OnProtectionTimers(true, &fiveTimers);
    EXPECT_EQ(view.Label(LabelMinLoadT), "Недогрузка по Imin = 1,0 сек");
    EXPECT_EQ(view.Label(LabelPhaLoadT), "Пропадание фаз Tфаз = 5,0 сек");
    EXPECT_EQ(view.Label(LabelTpLoadT), "Блокировка защит Tп = Н/Д");
    EXPECT_EQ(view.Label(LabelSzLoadT), "Время до самозапуска Tсз = Н/Д");
    EXPECT_EQ(view.Label(LabelAvszN), "Автовозвратов защиты Nапв = Н/Д");

    // Two counters and a half.
    TBlock counters(14, 0);
    for (size_t i = 0; i < 7; ++i) PutU16(counters, 2 * i, static_cast<uint16_t>(i + 1));
    const TBlock someCounters(counters.begin(), counters.begin() + 5);
    view.OnAlarmCounters(true, &someCounters);
    EXPECT_EQ(view.Label(LabelAvnMin), "Nmin = 1");
    EXPECT_EQ(view.Label(LabelAvnNom), "Nnom = 2");
    EXPECT_EQ(view.Label(LabelAvnMax), "Nmax = Н/Д");
    EXPECT_EQ(view.Label(LabelAvnRizo), "N Rиз = Н/Д");

    // A clock reply without its whole time stamp has no time; a failed read
    // leaves the last one.
    const TBlock clock = {9, 5, 0, 7, 3, 26};
    view.OnDeviceClock(true, &clock);
    EXPECT_EQ(view.Label(LabelDateTime), "Текущее время: 7.03.2026 09:05:00");
    view.OnDeviceClock(false, nullptr);
    EXPECT_EQ(view.Label(LabelDateTime), "Текущее время: 7.03.2026 09:05:00");
    const TBlock shortClock(clock.begin(), clock.begin() + 5);
    view.OnDeviceClock(true, &shortClock);
    EXPECT_EQ(view.Label(LabelDateTime), "Текущее время: Н/Д");

    // The alarm beside "АВАРИЯ" shows currents only with a known Kтр.
    std::array<uint8_t, 19> rec{14, 30, 5, 7, 3, 26, 0x84};
    rec[7] = 0x10;
    const TBlock alarm = {0, 0, 0, 18};
    view.OnSetpoints(true, &shortSp);
    view.OnDeviceState(true, &alarm, rec);
    EXPECT_EQ(view.StateStatusText(), "АВАРИЯ 7.03.2026 14:30:05 Короткое замыкание Ia=Н/Д Ib=Н/Д Ic=Н/Д");
    const TBlock shortState = {0, 0, 0};
    view.OnDeviceState(true, &shortState, rec);
    EXPECT_EQ(view.StateStatusText(), "Недоступно");
}

TEST(DeviceViewTest, StatisticsWhoseBytesDidNotArrive) {
    TDeviceView view(3, kRu);
    TBlock stats(24, 0);
    const uint8_t stamp[8] = {10, 20, 30, 0, 7, 3, 26, 0};
    std::copy(stamp, stamp + 8, stats.begin());
    std::copy(stamp, stamp + 8, stats.begin() + 8);
    PutU32(stats, 16, 42);
    PutU32(stats, 20, 3661);
    const TBlock part(stats.begin(), stats.begin() + 18);
    view.OnStatistics(true, &part);
    EXPECT_EQ(view.Label(LabelStartRstDateTime), "Время последнего сброса статистики: 7.03.2026 10:20:30");
    EXPECT_EQ(view.Label(LabelUstEditDateTime), "Время последнего изменения уставок: 7.03.2026 10:20:30");
    EXPECT_EQ(view.Label(LabelOnCount), "Nвкл = Н/Д");
    EXPECT_EQ(view.Label(LabelMoto), "Tмото (чч:мм:сс): Н/Д");
    view.OnStatistics(true, &stats);
    EXPECT_EQ(view.Label(LabelOnCount), "Nвкл = 42");
    EXPECT_EQ(view.Label(LabelMoto), "Tмото (чч:мм:сс): 1:1:1");
    const TBlock oneStamp(stats.begin(), stats.begin() + 7);
    view.OnStatistics(true, &oneStamp);
    EXPECT_EQ(view.Label(LabelUstEditDateTime), "Время последнего изменения уставок: Н/Д");
    EXPECT_EQ(view.Label(LabelStartRstDateTime), "Время последнего сброса статистики: 7.03.2026 10:20:30");
}

TEST(DeviceViewTest, StatePollDecoding) {
    const TBlock reply = {0x13, 1, 0, 7, 0, 0, 0, 0};
    const auto poll = DecodeStatePoll(true, &reply);
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->ModelByte, 0x13);
    EXPECT_TRUE(poll->SettingsChanged);
    EXPECT_FALSE(poll->TaskLogChanged);
    EXPECT_EQ(poll->VariantByte, 7);
    EXPECT_FALSE(DecodeStatePoll(false, &reply));
    const TBlock shortReply = {0x13, 1};
    EXPECT_FALSE(DecodeStatePoll(true, &shortReply));
    EXPECT_FALSE(DecodeStatePoll(true, nullptr));

    TDeviceView view(0, kRu);
    view.OnStatePoll(*poll);
    EXPECT_EQ(view.ModelText().rfind("Товик-25-M3\r\n", 0), 0u);
}

TEST(AlarmCurrentTest, Formatting) {
    EXPECT_EQ(FormatAlarmCurrent(100000000, 1, kRu), "^^^^");
    EXPECT_EQ(FormatAlarmCurrent(12345, 1, kRu), "12,3");
    EXPECT_EQ(FormatAlarmCurrent(12345, 100, kRu), "1230");
    EXPECT_EQ(FormatAlarmCurrent(0, 1, kRu), "0,00");
    // A product beyond 32 bits is not wrapped around.
    EXPECT_EQ(FormatAlarmCurrent(5000000, 1000, kRu), "5000000");
}

TEST(SettingsViewTest, ItemCountsAndWriteAccess) {
    EXPECT_EQ(SetpointItemCount(0), 22);
    EXPECT_EQ(SetpointItemCount(1), 22);
    EXPECT_EQ(SetpointItemCount(2), 23);
    EXPECT_EQ(SetpointItemCount(3), 25);
    EXPECT_EQ(SetpointItemCount(4), 0);
    for (int item = 0; item < 25; ++item) {
        EXPECT_TRUE(SetpointWriteAllowed(0, item));
        EXPECT_EQ(SetpointWriteAllowed(1, item), item < 19 || item > 21) << item;
        EXPECT_FALSE(SetpointWriteAllowed(2, item));
    }
}

TEST(SettingsViewTest, NowColumn) {
    std::array<uint8_t, 57> block{};
    block[24] = 10;   // Kтр
    block[26] = 3;    // item 24 on "ТовикМ ModBus"
    block[27] = 5;    // item 23
    block[8] = 0x88;  // Inom 5000 mA
    block[9] = 0x13;
    block[49] = 0x0B;
    block[50] = 15;
    block[51] = 6;
    block[52] = 24;
    EXPECT_EQ(SetpointNowText(block, 2, 3, kRu), "50,0");  // scaled by Kтр
    EXPECT_EQ(SetpointNowText(block, 6, 3, kRu), "10");    // the ratio without items 23 and 24
    EXPECT_EQ(SetpointNowText(block, 23, 3, kRu), "100");
    EXPECT_EQ(SetpointNowText(block, 24, 3, kRu), "3");
    EXPECT_EQ(SetpointNowText(block, 19, 3, kRu), "ТовикМ-25-M2");
    EXPECT_EQ(SetpointNowText(block, 20, 3, kRu), "15.06.2024");

    const TSetpointRow none = SetpointRow(2, 3, 0x0B, 0, nullptr, kRu);
    EXPECT_EQ(none.Name, "номинальный ток нагрузки Inom, A");
    EXPECT_EQ(none.Min, "Н/Д");
    EXPECT_EQ(none.Now, "Н/Д");
    const TSetpointRow row = SetpointRow(2, 3, 0x0B, 0, &block, kRu);
    EXPECT_EQ(row.Now, "50,0");
    EXPECT_EQ(row.Min.rfind("0;", 0), 0u);
    EXPECT_EQ(SetpointMultiplier(2, 10), 10u);
    EXPECT_EQ(SetpointMultiplier(7, 10), 0u);
}

// A setpoint block cut short: the rows of items whose bytes (or, for the
// currents, Kтр's bytes) did not arrive show "Н/Д", never 0.
TEST(SettingsViewTest, RowsOfItemsThatDidNotArrive) {
    std::array<uint8_t, 57> block{};
    block[24] = 10;   // Kтр
    block[8] = 0x88;  // Inom 5000 mA
    block[9] = 0x13;
    block[28] = 100;  // Tmin 2 s
    auto now = [&](int item, size_t received) {
        return SetpointRow(item, 0, 0x13, 0, &block, received, kRu).Now;
    };
    const TSetpointRow cut = SetpointRow(2, 0, 0x13, 0, &block, 12, kRu);  // Inom came, Kтр did not
    EXPECT_EQ(cut.Now, "Н/Д");
    EXPECT_EQ(cut.Min, "Н/Д");
    EXPECT_EQ(cut.Max, "Н/Д");
    EXPECT_EQ(now(2, 26), "50,0");
    EXPECT_EQ(now(6, 25), "Н/Д");  // half of Kтр
    EXPECT_EQ(now(6, 26), "10");
    EXPECT_EQ(now(7, 29), "Н/Д");  // half of Tmin
    EXPECT_EQ(now(7, 30), "2,0");
    EXPECT_EQ(now(22, 56), "Н/Д");  // the last item, one byte short
    EXPECT_NE(now(22, 57), "Н/Д");
    EXPECT_EQ(SetpointRow(2, 0, 0x13, 0, &block, kRu).Now, now(2, 57));  // a whole block
    for (int item = 0; item < 25; ++item) {
        EXPECT_FALSE(SetpointItemArrived(item, 0)) << item;
        EXPECT_TRUE(SetpointItemArrived(item, 57)) << item;
    }
    // The TovikM items inside the ratio's field.
    EXPECT_FALSE(SetpointItemArrived(23, 27));
    EXPECT_TRUE(SetpointItemArrived(23, 28));
    EXPECT_FALSE(SetpointItemArrived(24, 26));
    EXPECT_TRUE(SetpointItemArrived(24, 27));
}

}  // namespace
}  // namespace tovik
