// The relay model and the line logic of tovik-sim, without a process.
#include <gtest/gtest.h>

#include <cstring>

#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "tools/sim/SimLine.h"
#include "tools/sim/SimRelay.h"

namespace tovik::sim {
namespace {

// 7.03.2026 14:05:09
const int64_t kClock = *DeviceTimeToSeconds({14, 5, 9, 7, 3, 26});
constexpr int64_t kT0 = 1000000;

uint32_t U32(const std::vector<uint8_t>& b, size_t o) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + o, 4);
    return v;
}

TNativeResult Native(TSimRelay& r, std::vector<uint8_t> tail, int64_t now = kT0) {
    std::vector<uint8_t> payload = {r.Address()};
    payload.insert(payload.end(), tail.begin(), tail.end());
    return r.HandleNative(payload, now);
}

// The executor's reshaping of the setpoint registers (the fix-up).
std::vector<uint8_t> FixUp(const std::vector<uint16_t>& words, bool tovikM) {
    std::vector<uint8_t> b;
    for (uint16_t w : words) {
        b.push_back(static_cast<uint8_t>(w));
        b.push_back(static_cast<uint8_t>(w >> 8));
    }
    if (tovikM) {
        b[27] = b[26];
        b[26] = b[62];
    }
    for (size_t pos : {57, 53, 51, 49, 47}) b.erase(b.begin() + static_cast<long>(pos));
    b.resize(57);
    return b;
}

TEST(SimClock, DeviceTimeRoundTripAndRefusals) {
    for (const TDeviceTime t : std::vector<TDeviceTime>{
             {0, 0, 0, 1, 1, 0}, {23, 59, 59, 29, 2, 24}, {12, 30, 0, 31, 12, 99}, {1, 2, 3, 28, 2, 255}}) {
        const auto s = DeviceTimeToSeconds(t);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(SecondsToDeviceTime(*s), t);
    }
    for (const TDeviceTime t : std::vector<TDeviceTime>{{24, 0, 0, 1, 1, 0},
                                                        {0, 60, 0, 1, 1, 0},
                                                        {0, 0, 60, 1, 1, 0},
                                                        {0, 0, 0, 0, 1, 0},
                                                        {0, 0, 0, 29, 2, 25},
                                                        {0, 0, 0, 31, 4, 26},
                                                        {0, 0, 0, 1, 13, 26},
                                                        {0, 0, 0, 1, 0, 26}})
        EXPECT_FALSE(DeviceTimeToSeconds(t).has_value());
}

TEST(SimRelay, FreshSetpointBlockIsWithinTheModelsLimits) {
    for (uint8_t kind = 0; kind < 4; ++kind) {
        TSimRelay r(kind, 7, kT0, kClock);
        const auto res = Native(r, {3});
        ASSERT_TRUE(res.Answered);
        const std::vector<uint8_t>& b = res.Data;
        ASSERT_EQ(b.size(), kSetpointSize);
        const uint8_t m = b[49] & 7;
        EXPECT_GE(m, 1);
        EXPECT_EQ(b[46], 7);
        // m = 3: Iпор >= 200, currents 1600..250000, ratio 1.
        EXPECT_GE(U32(b, 0), 200u);
        for (size_t o : {4, 8, 12, 20}) {
            EXPECT_GE(U32(b, o), 1600u) << o;
            EXPECT_LE(U32(b, o), 250000u) << o;
        }
        EXPECT_EQ(b[24] | b[25] << 8, 1);
        for (size_t o = 28; o <= 38; o += 2) EXPECT_GE(b[o] | b[o + 1] << 8, 5) << o;
        EXPECT_GE(b[40] | b[41] << 8, 15);
        EXPECT_GE(b[42] | b[43] << 8, 50);
        EXPECT_EQ((b[55] | b[56] << 8) != 0, IsTovikM(kind));
        EXPECT_GE(b[50], 1);
        EXPECT_GE(b[51], 1);
    }
}

TEST(SimRelay, SetpointRegistersAreTheInverseOfTheFixUp) {
    for (uint8_t kind : {1, 3}) {
        TSimRelay r(kind, 1, kT0, kClock);
        // Give items 23 and 24 distinct values on "ТовикМ ModBus".
        if (kind == 3) {
            ASSERT_EQ(r.WriteRegisters(45, {7}, kT0).Exception, 0);
            ASSERT_EQ(r.WriteRegisters(63, {2}, kT0).Exception, 0);
        }
        const auto res = r.ReadRegisters(32, kind == 3 ? 32 : 31, kT0);
        ASSERT_EQ(res.Exception, 0) << res.Note;
        const auto block = FixUp(res.Values, kind == 3);
        const auto& held = r.SetpointBlock();
        EXPECT_EQ(block, std::vector<uint8_t>(held.begin(), held.end())) << int(kind);
        if (kind == 3) {
            EXPECT_EQ(block[26], 2);  // item 24
            EXPECT_EQ(block[27], 7);  // item 23
        }
        // The model register alone, as the state poll reads it.
        EXPECT_EQ(r.ReadRegisters(58, 1, kT0).Values.at(0), held[49]);
    }
}

TEST(SimRelay, StartRunsThroughDelayedStartAndBlockingToRunning) {
    TSimRelay r(0, 1, kT0, kClock);
    EXPECT_EQ(r.State(), StateStop);
    ASSERT_TRUE(Native(r, {1}).Answered);
    EXPECT_EQ(r.State(), StateDelayedStart);  // Tсз 0.3 s
    r.Update(kT0 + 400);
    EXPECT_EQ(r.State(), StateRunBlocked);  // Tп 0.5 s
    r.Update(kT0 + 1000);
    EXPECT_EQ(r.State(), StateRun);
    const auto c = r.Currents();
    for (float f : c) {
        EXPECT_GT(f, 20000 * 0.95f);
        EXPECT_LT(f, 20000 * 1.05f);
    }
    r.Update(kT0 + 4000);
    EXPECT_NE(r.Currents(), c) << "currents drift";
    EXPECT_EQ(Native(r, {23}, kT0 + 4000).Data, (std::vector<uint8_t>{0, 0, 0, StateRun}));
    ASSERT_TRUE(Native(r, {2}, kT0 + 5000).Answered);
    EXPECT_EQ(r.State(), StateStop);
    EXPECT_EQ(r.Currents(), (std::array<float, 3>{0, 0, 0}));
}

TEST(SimRelay, CurrentAboveImaxTripsAfterTmaxWithAnAlarmRecord) {
    TSimRelay r(2, 1, kT0, kClock);
    r.Start(kT0);
    r.Update(kT0 + 1000);
    const auto header = Native(r, {11}, kT0 + 1000).Data;
    ASSERT_EQ(header.size(), 2u);
    EXPECT_EQ(header[0], 0);
    r.SetLoad(40000, 40000, 40000, kT0 + 1000);  // above Imax 30 A, below the cut-off
    r.Update(kT0 + 3000);
    EXPECT_EQ(r.State(), StateProblemMax);
    r.Update(kT0 + 6100);  // Tmax 5 s
    EXPECT_EQ(r.State(), StateAlarm);
    ASSERT_EQ(r.AlarmCount(), 1u);
    const auto h2 = Native(r, {11}, kT0 + 6100).Data;
    EXPECT_EQ(h2[0], 1);
    EXPECT_NE(h2[1], header[1]);
    const auto rec = Native(r, {12, 0}, kT0 + 6100);
    ASSERT_TRUE(rec.Answered);
    ASSERT_EQ(rec.Data.size(), kAlarmRecordSize);
    EXPECT_EQ(rec.Data[6], CauseMaximum);
    EXPECT_EQ(rec.Data[3], 7);  // day of the relay clock
    EXPECT_GT(U32(rec.Data, 7), 38000u);
    EXPECT_EQ(r.AlarmCounter(CountMax), 1);
    EXPECT_FALSE(Native(r, {12, 1}, kT0 + 6100).Answered);
    // Counters: word 2 is Nmax.
    const auto counters = Native(r, {21}, kT0 + 6100).Data;
    EXPECT_EQ(counters.at(4), 1);
}

TEST(SimRelay, CutOffTripsAtOnceEvenWhileProtectionsAreBlocked) {
    TSimRelay r(0, 1, kT0, kClock);
    r.Start(kT0);
    r.Update(kT0 + 400);
    ASSERT_EQ(r.State(), StateRunBlocked);
    r.SetLoad(90000, 20000, 20000, kT0 + 400);
    EXPECT_EQ(r.State(), StateAlarm);
    EXPECT_EQ(r.Alarm(0)[6], CauseShortCircuit);
    EXPECT_EQ(r.AlarmCounter(CountCutoff), 1);
}

// Several protections due on the same update: the one the state shows
// trips, in the order cut-off, maximum, nominal, lost phase, imbalance,
// underload; only its record and its counter are written.
TEST(SimRelay, OfProtectionsDueTogetherTheStrongestTrips) {
    struct Case {
        const char* Name;
        uint8_t Kind;
        std::vector<std::vector<uint8_t>> Writes;  // native item writes: offset, size, value
        uint32_t A, B, C;                          // load in mA
        int64_t DueMs;                             // the common protection time
        uint8_t Shown;                             // the state while they run
        uint8_t Cause;
        int Counter;
    };
    const std::vector<Case> cases = {
        // 40 A: beyond Imax 30 A and Inom 25 A; Tnom made as short as Tmax (5 s).
        {"maximum over nominal",
         0,
         {{30, 2, 250, 0}},
         40000,
         40000,
         40000,
         5000,
         StateProblemMax,
         CauseMaximum,
         CountMax},
        // 100 A: beyond the cut-off 75 A (Tотс 0.1 s on "ТовикМ ModBus"), Imax and Inom, all at 0.1 s.
        {"cut-off over maximum and nominal",
         3,
         {{32, 2, 5, 0}, {30, 2, 5, 0}},
         100000,
         100000,
         100000,
         100,
         StateProblemMax,
         CauseShortCircuit,
         CountCutoff},
        // 26 A on two phases and 19 A on the third: beyond Inom and an imbalance of 7 A.
        {"nominal over imbalance",
         2,
         {{30, 2, 0xF4, 1}, {34, 2, 0xF4, 1}},
         26000,
         26000,
         19000,
         10000,
         StateProblemNom,
         CauseNominal,
         CountNom},
        // A phase below Iпор 0.4 A with 20 A on the others: a lost phase and an imbalance.
        {"lost phase over imbalance",
         0,
         {{34, 2, 100, 0}},
         100,
         20000,
         20000,
         2000,
         StateProblemPhase,
         CausePhaseLoss,
         CountPhase},
        // 1 A on two phases: a lost phase and underload (below Imin 2 A).
        {"lost phase over underload",
         2,
         {{28, 2, 100, 0}},
         100,
         1000,
         1000,
         2000,
         StateProblemPhase,
         CausePhaseLoss,
         CountPhase},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TSimRelay r(c.Kind, 1, kT0, kClock);
        for (const auto& w : c.Writes) {
            std::vector<uint8_t> request = {6};
            request.insert(request.end(), w.begin(), w.end());
            const auto written = Native(r, request);
            ASSERT_TRUE(written.Answered) << testing::PrintToString(w) << " " << written.Note;
            EXPECT_EQ(Native(r, {4, w[0], w[1]}).Data, std::vector<uint8_t>(w.begin() + 2, w.end()));
        }
        r.Start(kT0);
        const int64_t t1 = kT0 + 1000;  // past the delayed start and the blocking
        r.Update(t1);
        ASSERT_EQ(r.State(), StateRun);
        r.SetLoad(c.A, c.B, c.C, t1);
        r.Update(t1 + c.DueMs - 40);
        EXPECT_EQ(r.State(), c.Shown);
        EXPECT_EQ(r.AlarmCount(), 0u);
        r.Update(t1 + c.DueMs + 40);  // every one of them is due now
        EXPECT_EQ(r.State(), StateAlarm);
        ASSERT_EQ(r.AlarmCount(), 1u);
        EXPECT_EQ(r.Alarm(0)[6], c.Cause);
        for (int counter = CountMin; counter <= CountInsulation; ++counter)
            EXPECT_EQ(r.AlarmCounter(counter), counter == c.Counter ? 1 : 0) << "counter " << counter;
    }
}

TEST(SimRelay, JournalKeepsTheNewestRecordsAndClearChangesTheMarker) {
    TSimRelay r(0, 1, kT0, kClock);
    for (int i = 0; i < static_cast<int>(kAlarmCapacity) + 3; ++i)
        r.Trip(static_cast<uint8_t>(i % 7), kT0 + i * 1000);
    EXPECT_EQ(r.AlarmCount(), kAlarmCapacity);
    EXPECT_EQ(r.Alarm(0)[6], 3);  // the three oldest went
    const uint8_t marker = r.AlarmMarker();
    ASSERT_TRUE(Native(r, {13}).Answered);
    EXPECT_EQ(Native(r, {11}).Data, (std::vector<uint8_t>{0, static_cast<uint8_t>(marker + 1)}));
}

TEST(SimRelay, ModbusAlarmRecordIsSelectedThenRead) {
    TSimRelay r(3, 1, kT0, kClock);
    r.SetLoad(12345, 23456, 100000000, kT0);
    r.Trip(CausePhaseLoss, kT0);
    r.Trip(CauseImbalance, kT0 + 2000);
    EXPECT_EQ(r.ReadRegisters(7, 1, kT0).Values.at(0) & 0xFF, 2);
    EXPECT_EQ(r.WriteRegisters(128, {2}, kT0).Exception, 3);
    ASSERT_EQ(r.WriteRegisters(128, {0}, kT0).Exception, 0);
    const auto res = r.ReadRegisters(129, 10, kT0);
    ASSERT_EQ(res.Exception, 0);
    std::vector<uint8_t> bytes;
    for (uint16_t w : res.Values) {
        bytes.push_back(static_cast<uint8_t>(w));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
    }
    EXPECT_EQ(bytes[6], CausePhaseLoss);
    EXPECT_EQ(U32(bytes, 7), 12345u);
    EXPECT_EQ(U32(bytes, 11), 23456u);
    EXPECT_EQ(U32(bytes, 15), kOverflowCurrent);
}

TEST(SimRelay, SetpointWritesAreCheckedAndRaiseTheMarkUntilTheStatePoll) {
    TSimRelay r(0, 1, kT0, kClock);
    struct Case {
        std::vector<uint8_t> Request;  // command, offset, size, data
        bool Accepted;
    };
    const std::vector<Case> cases = {
        {{6, 8, 4, 0x10, 0x27, 0, 0}, true},   // Inom 10 A
        {{6, 8, 4, 0, 0, 0, 0}, true},         // 0: protection off
        {{6, 8, 4, 0x3F, 0x06, 0, 0}, false},  // 1.599 A: below the minimum 1.6 A
        {{6, 8, 4, 0x40, 0x06, 0, 0}, true},
        {{6, 0, 4, 0, 0, 0, 0}, false},  // Iпор has no zero
        {{6, 28, 2, 4, 0}, false},       // Tmin below 5
        {{6, 28, 2, 5, 0}, true},
        {{6, 24, 4, 2, 0, 0, 0}, false},  // ratio 1 only on model 3
        {{6, 48, 1, 1}, true},            // АВТОМАТ on
        {{6, 48, 1, 2}, false},
        {{6, 50, 3, 31, 12, 99}, true},
        {{6, 50, 3, 32, 12, 99}, false},
        {{6, 55, 2, 100, 0}, false},     // no Tпс on "Товик"
        {{6, 9, 4, 1, 1, 1, 1}, false},  // no item at offset 9
        {{6, 8, 2, 1, 1}, false},        // wrong size
        {{6, 8, 4, 1, 1}, false},        // missing data
        {{6, 49, 1, 0x10}, false},       // model code 0
    };
    for (const auto& c : cases) {
        const auto res = Native(r, c.Request);
        EXPECT_EQ(res.Answered, c.Accepted) << testing::PrintToString(c.Request) << " " << res.Note;
        if (!c.Accepted) {
            EXPECT_FALSE(res.Note.empty());
        }
    }
    EXPECT_TRUE(r.SettingsChangedMark());
    EXPECT_EQ(Native(r, {4, 49, 1}).Data, (std::vector<uint8_t>{r.Model(), 1, 0, 0}));
    EXPECT_EQ(Native(r, {4, 49, 1}).Data, (std::vector<uint8_t>{r.Model(), 0, 0, 0}));
    EXPECT_EQ(Native(r, {4, 28, 2}).Data, (std::vector<uint8_t>{5, 0}));
}

TEST(SimRelay, ModbusMarksClearOnlyWithTheStatePollSequence) {
    TSimRelay r(3, 1, kT0, kClock);
    ASSERT_EQ(r.WriteRegisters(46, {100}, kT0).Exception, 0);  // Tmin
    EXPECT_EQ(r.WriteRegisters(46, {4}, kT0).Exception, 3);
    EXPECT_EQ(r.WriteRegisters(46, {100, 100}, kT0).Exception, 2);
    EXPECT_EQ(r.WriteRegisters(55, {0x0101}, kT0).Exception, 3);  // a one-byte item with a high byte
    // A plain state read keeps the mark.
    EXPECT_EQ(r.ReadRegisters(6, 1, kT0).Values.at(0) >> 8, 1);
    EXPECT_TRUE(r.SettingsChangedMark());
    // Model, then register 6, then the variant: delivered and cleared.
    r.ReadRegisters(58, 1, kT0);
    EXPECT_EQ(r.ReadRegisters(6, 1, kT0).Values.at(0) >> 8, 1);
    EXPECT_FALSE(r.SettingsChangedMark());
    EXPECT_EQ(r.ReadRegisters(6, 1, kT0).Values.at(0) >> 8, 0);
}

TEST(SimRelay, ModelChangeClampsSetpointsToTheNewLimits) {
    TSimRelay r(1, 1, kT0, kClock);
    // Model 1 (5 A): the ratio may now be raised, and Iотс 75 A is beyond 50 A.
    ASSERT_EQ(r.WriteRegisters(58, {0x11}, kT0).Exception, 0);
    EXPECT_EQ(U32({r.SetpointBlock().begin(), r.SetpointBlock().end()}, 20), 50000u);
    ASSERT_EQ(r.WriteRegisters(44, {100, 0}, kT0).Exception, 0);
    EXPECT_EQ(r.WriteRegisters(44, {1999, 0}, kT0).Exception, 3);
    EXPECT_EQ(r.WriteRegisters(58, {0x10}, kT0).Exception, 3);
}

TEST(SimRelay, TaskLogNativeCommands) {
    TSimRelay r(0, 1, kT0, kClock);
    const std::vector<uint8_t> entry = {8, 0, 0, 7, 3, 26, 9, 30, 0, 7, 3, 26};
    auto reply = Native(r, {19, 0}).Data;
    ASSERT_EQ(reply.size(), 15u);
    const uint8_t count = reply[13];
    EXPECT_EQ(reply[12], 0);
    EXPECT_EQ(reply[14], kTaskCapacity);
    // Add with the right index, then with a stale one.
    std::vector<uint8_t> add = {31, count};
    add.insert(add.end(), entry.begin(), entry.end());
    ASSERT_TRUE(Native(r, add).Answered);
    EXPECT_TRUE(r.TaskLogChangedMark());
    EXPECT_FALSE(Native(r, add).Answered);
    reply = Native(r, {19, count}).Data;
    EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.begin() + 12), entry);
    EXPECT_EQ(reply[13], count + 1);
    // An impossible time is refused; so is an edit of a missing entry.
    std::vector<uint8_t> bad = {20, 0, 25, 0, 0, 7, 3, 26, 9, 30, 0, 7, 3, 26};
    EXPECT_FALSE(Native(r, bad).Answered);
    bad[2] = 10;
    bad[1] = 40;
    EXPECT_FALSE(Native(r, bad).Answered);
    // Delete needs the count the sender saw.
    EXPECT_FALSE(Native(r, {30, 0, count}).Answered);
    ASSERT_TRUE(Native(r, {30, 0, static_cast<uint8_t>(count + 1)}).Answered);
    EXPECT_EQ(r.TaskCount(), count);
    ASSERT_TRUE(Native(r, {32}).Answered);
    EXPECT_EQ(r.TaskCount(), 0u);
    // Full log.
    for (size_t i = 0; i < kTaskCapacity; ++i) {
        add[1] = static_cast<uint8_t>(i);
        ASSERT_TRUE(Native(r, add).Answered) << i;
    }
    add[1] = kTaskCapacity;
    EXPECT_FALSE(Native(r, add).Answered);
}

TEST(SimRelay, TaskLogModbusSequences) {
    TSimRelay r(1, 1, kT0, kClock);
    const std::vector<uint16_t> entry = {0x0008, 0x0700 | 0, 0x1A03, 0x1E09, 0x0700, 0x1A03};
    // Command 31: entry registers, then 311 = 1.
    ASSERT_EQ(r.WriteRegisters(305, entry, kT0).Exception, 0);
    ASSERT_EQ(r.WriteRegisters(311, {1}, kT0).Exception, 0);
    ASSERT_EQ(r.TaskCount(), 3u);  // two at power-on and this one
    // Command 19: read 304, select, read the entry.
    EXPECT_EQ(r.ReadRegisters(304, 1, kT0).Values.at(0), 3 | kTaskCapacity << 8);
    ASSERT_EQ(r.WriteRegisters(304, {2}, kT0).Exception, 0);
    EXPECT_EQ(r.ReadRegisters(305, 6, kT0).Values, entry);
    // Command 30: select, 311 = 2; command 32: 311 = 3.
    ASSERT_EQ(r.WriteRegisters(311, {2}, kT0).Exception, 0);
    EXPECT_EQ(r.TaskCount(), 2u);
    EXPECT_EQ(r.WriteRegisters(311, {9}, kT0).Exception, 3);
    ASSERT_EQ(r.WriteRegisters(311, {3}, kT0).Exception, 0);
    EXPECT_EQ(r.TaskCount(), 0u);
    // Reading an empty log still answers, with the count 0.
    ASSERT_EQ(r.WriteRegisters(304, {0}, kT0).Exception, 0);
    EXPECT_EQ(r.ReadRegisters(305, 6, kT0).Values, std::vector<uint16_t>(6, 0));
    EXPECT_EQ(r.WriteRegisters(311, {0}, kT0).Exception, 3);  // no entry 0 to store into
}

TEST(SimRelay, ClockTicksAndIsSet) {
    TSimRelay r(0, 1, kT0, kClock);
    EXPECT_EQ(Native(r, {24}).Data, (std::vector<uint8_t>{14, 5, 9, 7, 3, 26}));
    EXPECT_EQ(Native(r, {24}, kT0 + 61000).Data, (std::vector<uint8_t>{14, 6, 10, 7, 3, 26}));
    ASSERT_TRUE(Native(r, {25, 23, 59, 58, 31, 12, 26}, kT0 + 61000).Answered);
    EXPECT_EQ(Native(r, {24}, kT0 + 64000).Data, (std::vector<uint8_t>{0, 0, 1, 1, 1, 27}));
    EXPECT_FALSE(Native(r, {25, 23, 59, 58, 30, 2, 26}).Answered);

    TSimRelay m(3, 1, kT0, kClock);
    ASSERT_EQ(m.WriteRegisters(112, {9 | 5 << 8, 3, 7 | 3 << 8, 26}, kT0).Exception, 0);
    const auto regs = m.ReadRegisters(112, 4, kT0).Values;
    EXPECT_EQ(regs, (std::vector<uint16_t>{9 | 5 << 8, 3, 7 | 3 << 8, 26}));
    EXPECT_EQ(m.WriteRegisters(112, {25, 0, 7 | 3 << 8, 26}, kT0).Exception, 3);
}

TEST(SimRelay, StatisticsOnlyOnTovikMModbus) {
    TSimRelay r(3, 1, kT0, kClock);
    r.Start(kT0);
    r.Update(kT0 + 10500);
    auto res = r.ReadRegisters(400, 12, kT0 + 10500);
    ASSERT_EQ(res.Exception, 0);
    EXPECT_EQ(res.Values[8], 1);    // switch-ons, low word
    EXPECT_EQ(res.Values[10], 10);  // seconds running (after the 0.3 s delayed start)
    EXPECT_EQ(res.Values[0], 14 | 5 << 8);
    ASSERT_EQ(r.WriteRegisters(256, {2}, kT0 + 10500).Exception, 0);
    res = r.ReadRegisters(400, 12, kT0 + 10500);
    EXPECT_EQ(res.Values[8], 0);
    EXPECT_EQ(res.Values[0], 14 | 5 << 8);
    EXPECT_EQ(res.Values[1], 19);  // reset at 14:05:19
    TSimRelay plain(1, 1, kT0, kClock);
    EXPECT_EQ(plain.ReadRegisters(400, 12, kT0).Exception, 2);
    TSimRelay native(2, 1, kT0, kClock);
    EXPECT_FALSE(Native(native, {33}).Answered);
}

TEST(SimRelay, RefusesMalformedRequests) {
    TSimRelay r(0, 1, kT0, kClock);
    for (const auto& tail : std::vector<std::vector<uint8_t>>{
             {3, 0}, {4, 49}, {4, 49, 2}, {4, 50, 8}, {12}, {22, 0}, {26, 1}, {34, 27, 2}, {99}, {5}}) {
        const auto res = Native(r, tail);
        EXPECT_FALSE(res.Answered) << testing::PrintToString(tail);
        EXPECT_FALSE(res.Note.empty());
    }
    TSimRelay m(1, 1, kT0, kClock);
    EXPECT_EQ(m.ReadRegisters(18, 1, kT0).Exception, 2);
    EXPECT_EQ(m.ReadRegisters(0, 0, kT0).Exception, 3);
    EXPECT_EQ(m.ReadRegisters(0, 200, kT0).Exception, 3);
    EXPECT_EQ(m.ReadRegisters(63, 1, kT0).Exception, 2);  // item 24 only on "ТовикМ ModBus"
    EXPECT_EQ(m.WriteRegisters(16, {2}, kT0).Exception, 3);
    EXPECT_EQ(m.WriteRegisters(999, {1}, kT0).Exception, 2);
    EXPECT_EQ(m.WriteRegisters(256, {7}, kT0).Exception, 3);
}

// ---- The line ----

TEST(SimFrames, AssemblerSplitsFramesByTheirOwnLength) {
    TFrameAssembler native(false);
    auto a = BuildNativeFrame({1, 3});
    auto b = BuildNativeFrame({1, 4, 49, 1});
    std::vector<uint8_t> both = a;
    both.insert(both.end(), b.begin(), b.end());
    native.Add(both.data(), 5, 0);
    EXPECT_FALSE(native.Next().has_value());
    native.Add(both.data() + 5, both.size() - 5, 1);
    EXPECT_EQ(native.Next(), a);
    EXPECT_EQ(native.Next(), b);
    EXPECT_FALSE(native.Pending());

    TFrameAssembler modbus(true);
    std::vector<uint8_t> write = {1, 16, 0, 112, 0, 4, 4, 0, 1, 0, 2, 0, 3, 0, 4};
    AppendCrc(write);
    std::vector<uint8_t> odd = {1, 7};
    AppendCrc(odd);
    modbus.Add(write.data(), write.size(), 0);
    modbus.Add(odd.data(), odd.size(), 0);
    EXPECT_EQ(modbus.Next(), write);
    EXPECT_FALSE(modbus.Next().has_value());  // unknown layout: only a silence ends it
    EXPECT_EQ(modbus.TakePending(), odd);
}

std::vector<uint8_t> Modbus(std::vector<uint8_t> f) {
    AppendCrc(f);
    return f;
}

TEST(SimLine, AnswersOnlyItsOwnAddressesAndAppliesFaults) {
    TSimLine line(true);
    ASSERT_TRUE(line.AddRelay(1, 5, kT0, kClock));
    EXPECT_FALSE(line.AddRelay(0, 6, kT0, kClock));  // native on a ModBus line
    EXPECT_FALSE(line.AddRelay(3, 5, kT0, kClock));  // address taken
    const auto read = Modbus({5, 3, 0, 58, 0, 1});
    auto out = line.HandleFrame(read, kT0);
    EXPECT_EQ(out.Reply, Modbus({5, 3, 2, 0, 0x13}));
    EXPECT_NE(out.Log.find("\"register\":58"), std::string::npos) << out.Log;
    EXPECT_NE(out.Log.find("\"answered\":true"), std::string::npos);

    out = line.HandleFrame(Modbus({6, 3, 0, 58, 0, 1}), kT0);
    EXPECT_TRUE(out.Reply.empty());
    EXPECT_NE(out.Log.find("no relay at this address"), std::string::npos);

    auto bad = read;
    bad.back() ^= 1;
    EXPECT_TRUE(line.HandleFrame(bad, kT0).Reply.empty());

    // The count byte carries the number of registers.
    EXPECT_EQ(line.HandleFrame(Modbus({5, 16, 0, 57, 0, 1, 1, 0, 1}), kT0).Reply,
              Modbus({5, 16, 0, 57, 0, 1}));
    EXPECT_EQ(line.HandleFrame(Modbus({5, 16, 0, 57, 0, 1, 2, 0, 1}), kT0).Reply, Modbus({5, 0x90, 3}));
    EXPECT_EQ(line.HandleFrame(Modbus({5, 4, 0, 0, 0, 1}), kT0).Reply, Modbus({5, 0x84, 1}));

    EXPECT_EQ(line.Command("ignore 1", kT0), "ok");
    EXPECT_TRUE(line.HandleFrame(read, kT0).Reply.empty());
    EXPECT_FALSE(line.HandleFrame(read, kT0).Reply.empty());
    EXPECT_EQ(line.Command("wrong-address 1", kT0), "ok");
    EXPECT_EQ(line.HandleFrame(read, kT0).Reply, Modbus({6, 3, 2, 0, 0x13}));
    EXPECT_EQ(line.Command("corrupt 1", kT0), "ok");
    out = line.HandleFrame(read, kT0);
    EXPECT_NE(out.Reply, Modbus({5, 3, 2, 0, 0x13}));
    EXPECT_NE(Crc16(out.Reply.data(), out.Reply.size() - 2),
              out.Reply[out.Reply.size() - 2] | out.Reply.back() << 8);
    EXPECT_EQ(line.Command("noise 1", kT0), "ok");
    out = line.HandleFrame(read, kT0);
    EXPECT_EQ(out.Reply.front(), kNoiseByte);
    EXPECT_EQ(std::vector<uint8_t>(out.Reply.begin() + 1, out.Reply.end()), Modbus({5, 3, 2, 0, 0x13}));
    EXPECT_EQ(line.Command("silent", kT0), "ok");
    EXPECT_TRUE(line.HandleFrame(read, kT0).Reply.empty());
    EXPECT_EQ(line.Command("speak", kT0), "ok");
    EXPECT_FALSE(line.HandleFrame(read, kT0).Reply.empty());
}

TEST(SimLine, NativeRepliesAndTheirFaults) {
    TSimLine line(false);
    ASSERT_TRUE(line.AddRelay(0, 1, kT0, kClock));
    ASSERT_TRUE(line.AddRelay(2, 9, kT0, kClock));
    const auto req = BuildNativeFrame({9, 4, 49, 1});
    auto out = line.HandleFrame(req, kT0);
    EXPECT_EQ(out.Reply, BuildNativeFrame({9, 4, 0x0B, 0, 0, 0}));
    EXPECT_NE(out.Log.find("\"params\":[49,1]"), std::string::npos) << out.Log;
    EXPECT_TRUE(line.HandleFrame(BuildNativeFrame({2, 4, 49, 1}), kT0).Reply.empty());
    line.Command("corrupt 1", kT0);
    out = line.HandleFrame(req, kT0);
    std::string why;
    EXPECT_FALSE(ParseNativeFrame(out.Reply, why).has_value());
    EXPECT_NE(why.find("check byte"), std::string::npos);
    auto broken = req;
    broken[3] ^= 0x10;
    out = line.HandleFrame(broken, kT0);
    EXPECT_TRUE(out.Reply.empty());
    EXPECT_NE(out.Log.find("damaged frame"), std::string::npos);
}

TEST(SimLine, CommandInput) {
    TSimLine line(false);
    ASSERT_TRUE(line.AddRelay(0, 1, kT0, kClock));
    ASSERT_TRUE(line.AddRelay(0, 2, kT0, kClock));
    for (const char* bad : {"ignore", "ignore x", "ignore -1", "load", "load 3 100", "load 1", "load 1 1 2",
                            "trip 1 500", "clock 1 25:00:00 1.01.2026", "clock 1 12:00:00 30.02.2026",
                            "variant * 256", "baud fast", "frobnicate", "start"}) {
        EXPECT_EQ(line.Command(bad, kT0).rfind("error: ", 0), 0u) << bad;
    }
    EXPECT_EQ(line.Command("", kT0), "");
    EXPECT_EQ(line.Command("start *", kT0), "ok");
    EXPECT_EQ(line.Command("trip 2 4", kT0), "ok");
    EXPECT_EQ(line.Find(2)->State(), StateAlarm);
    EXPECT_EQ(line.Find(1)->State(), StateDelayedStart);
    EXPECT_EQ(line.Command("clock * 09:05:03 07.03.2026", kT0), "ok");
    EXPECT_EQ(line.Find(1)->Clock(kT0), (TDeviceTime{9, 5, 3, 7, 3, 26}));
    EXPECT_EQ(line.Command("load 1 100 20000 20000", kT0), "ok");
    line.Update(kT0 + 1500);
    EXPECT_EQ(line.Find(1)->State(), StateProblemPhase);  // phase A below Iпор 0.4 A
    EXPECT_EQ(line.Command("load 1 300", kT0 + 1500), "ok");
    line.Update(kT0 + 2000);
    EXPECT_EQ(line.Find(1)->State(), StateProblemMin);  // all below Imin 2 A
    const std::string status = line.Command("status", kT0 + 2000);
    EXPECT_NE(status.find("relay 2 kind 0 state 18 АВАРИЯ"), std::string::npos) << status;
    EXPECT_NE(line.Command("help", kT0).find("wrong-address N"), std::string::npos);
}

TEST(SimLine, BusIdentifierMovesTheRelayUnlessTheAddressIsTaken) {
    TSimLine line(false);
    ASSERT_TRUE(line.AddRelay(0, 1, kT0, kClock));
    ASSERT_TRUE(line.AddRelay(0, 2, kT0, kClock));
    EXPECT_TRUE(line.HandleFrame(BuildNativeFrame({1, 6, 46, 1, 2}), kT0).Reply.empty());
    EXPECT_EQ(line.HandleFrame(BuildNativeFrame({1, 6, 46, 1, 7}), kT0).Reply, BuildNativeFrame({1, 6}));
    EXPECT_EQ(line.Find(1), nullptr);
    ASSERT_NE(line.Find(7), nullptr);
    EXPECT_EQ(line.Describe(), (std::vector<std::string>{"0:7", "0:2"}));
}

}  // namespace
}  // namespace tovik::sim
