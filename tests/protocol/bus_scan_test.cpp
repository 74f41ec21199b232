// The bus scan through the whole engine: probes queued on a serial port
// opened on a pseudo-terminal, run by the port's worker, answered by
// tovik-sim relays or by a scripted peer that plays what the simulator
// cannot (two relays with one number, a relay in both wire formats).
//
// The engine's clock is in the test's hand: a probe's window closes only
// when the test moves the clock, after the probe went out and, where an
// answer is due, after the answer has been read. Nothing depends on how
// fast the machine is.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/BusScan.h"
#include "protocol/Frame.h"
#include "protocol/FrameDecoder.h"
#include "protocol/Modbus.h"
#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/ScanDriver.h"
#include "support/TraceRecorder.h"

namespace tovik {
namespace {

using Bytes = std::vector<uint8_t>;
using Records = test::TraceRecorder::Records;

const char* const kSimBinary = TOVIK_BINARY_DIR "/bin/tovik-sim";
constexpr int32_t kTimeout = 40;
constexpr uint8_t kModelTovik = 0x13;   // the simulator's "Товик": 25 A, M3
constexpr uint8_t kModelTovikM = 0x0B;  // its "ТовикМ": 25 A, M2

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tovik-scan-XXXXXX";
        if (::mkdtemp(tmpl)) Path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    std::string Path;
};

// A port on a line, with the frame trace on.
struct Line {
    explicit Line(const std::string& portName) {
        Port = std::make_unique<TProtoUART>(std::make_shared<TRequestStats>());
        Port->SetPortName(portName);
        Port->SetFrameTrace(Trace);
    }
    ~Line() {
        if (Port) Port->StopWorker();
    }
    std::unique_ptr<TProtoUART> Port;
    std::shared_ptr<test::TraceRecorder> Trace = std::make_shared<test::TraceRecorder>();
};

// A simulated line with its port.
struct SimLine {
    SimLine(const TempDir& dir, const std::vector<std::string>& relays) {
        std::vector<std::string> args = {"--baud", "0", "--announce-dir", dir.Path + "/announce",
                                         "--manual-clock"};
        for (const auto& r : relays) args.insert(args.end(), {"--relay", r});
        Sim = std::make_unique<test::TSimProcess>(kSimBinary, args);
        if (!Sim->Port().empty()) Wire = std::make_unique<Line>(Sim->Port());
    }
    std::unique_ptr<test::TSimProcess> Sim;
    std::unique_ptr<Line> Wire;
};

using Answers = std::function<int(uint8_t address, bool modbus)>;
using OnProbe = std::function<void(uint8_t address, bool modbus)>;
using Settle = std::function<void(int k)>;

// Runs the scan to its end (support/ScanDriver.h).
void Drive(TBusScan& scan, test::ManualClock& clock, test::TraceRecorder& trace, const Answers& answers,
           const OnProbe& onProbe = {}, const Settle& settle = {}) {
    ASSERT_TRUE(scan.Start());
    test::ScanDriver driver{clock,
                            trace,
                            kTimeout,
                            answers,
                            [&] { return scan.Running(); },
                            [&] { return scan.Progress().Done; },
                            [&] {
                                scan.WaitForOutcome(1000);
                                scan.Pump();
                            },
                            onProbe,
                            settle};
    ASSERT_TRUE(driver.Run());
}

TScanOptions Range(int from, int to, bool native, bool modbus) {
    TScanOptions o;
    o.From = from;
    o.To = to;
    o.Native = native;
    o.Modbus = modbus;
    o.TimeoutMs = kTimeout;
    return o;
}

std::vector<int> Numbers(const std::vector<TScanFinding>& findings) {
    std::vector<int> out;
    for (const auto& f : findings) out.push_back(f.Address);
    return out;
}

// ---- tovik-sim lines ----

class ScanSim : public ::testing::Test {
protected:
    TempDir Dir;
    test::ManualClock Clock;
};

// Two relays with a gap between them; the ModBus probes go unanswered on a
// native line.
TEST_F(ScanSim, FindsTheRelaysOfANativeLineWithTheirModels) {
    SimLine line(Dir, {"0:2", "2:5"});
    ASSERT_TRUE(line.Wire);
    const std::set<int> relays = {2, 5};
    TBusScan scan(*line.Wire->Port, Range(1, 6, true, true));
    Drive(scan, Clock, *line.Wire->Trace, [&](uint8_t a, bool modbus) { return !modbus && relays.count(a); });
    ASSERT_TRUE(scan.Finished());
    EXPECT_EQ(scan.Progress().Done, 12);
    EXPECT_EQ(scan.Progress().Total, 12);
    EXPECT_EQ(scan.Progress().NotSent, 0);
    const auto found = scan.Findings();
    ASSERT_EQ(Numbers(found), (std::vector<int>{2, 5}));
    EXPECT_EQ(scan.AnsweredCount(), 2);

    const TScanFinding& tovik = found[0];
    EXPECT_TRUE(tovik.Native);
    EXPECT_FALSE(tovik.Modbus);
    EXPECT_EQ(tovik.ModelByte, kModelTovik);
    EXPECT_EQ(tovik.ProposedKind, kKindTovik);
    EXPECT_FALSE(tovik.KindCertain);  // M3 exists in both families
    EXPECT_EQ(tovik.Flags, 0u);
    EXPECT_EQ(FindingModelText(tovik), "Товик-25-M3");
    EXPECT_EQ(FindingFormatText(tovik), "собственный");
    EXPECT_GE(tovik.ReplyMs, 0);

    const TScanFinding& tovikM = found[1];
    EXPECT_TRUE(tovikM.Native);
    EXPECT_EQ(tovikM.ModelByte, kModelTovikM);
    EXPECT_EQ(tovikM.ProposedKind, kKindTovikM);
    EXPECT_TRUE(tovikM.KindCertain);  // M2 answers only as "ТовикМ"
    EXPECT_EQ(FindingModelText(tovikM), "ТовикМ-25-M2");
    EXPECT_EQ(FindingNotesText(tovikM), "");

    // Every probe went out once, and every silent number was traced as such.
    const Records records = line.Wire->Trace->Snapshot();
    int sent = 0, unanswered = 0;
    for (const auto& r : records) {
        sent += r.Direction == TTraceDirection::Sent;
        unanswered += r.Outcome.Status == TReplyStatus::NoAnswer;
    }
    EXPECT_EQ(sent, 12);
    EXPECT_EQ(unanswered, 10);
    const TStatsSnapshot stats = line.Wire->Port->Stats().GetStats();
    EXPECT_EQ(stats.SentCount, 12);
    EXPECT_EQ(stats.OkCount, 2);
    EXPECT_EQ(stats.ErrorCount, 0);
}

// The whole range, ModBus only, with relays at both ends of it.
TEST_F(ScanSim, FindsTheRelaysOfAModbusLineOverTheWholeRange) {
    SimLine line(Dir, {"1:1", "3:4", "1:250"});
    ASSERT_TRUE(line.Wire);
    const std::set<int> relays = {1, 4, 250};
    TBusScan scan(*line.Wire->Port, Range(1, 250, false, true));
    Drive(scan, Clock, *line.Wire->Trace, [&](uint8_t a, bool) { return relays.count(a) ? 1 : 0; });
    ASSERT_TRUE(scan.Finished());
    EXPECT_EQ(scan.Progress().Done, 250);
    const auto found = scan.Findings();
    ASSERT_EQ(Numbers(found), (std::vector<int>{1, 4, 250}));
    for (const auto& f : found) {
        EXPECT_TRUE(f.Modbus) << int(f.Address);
        EXPECT_FALSE(f.Native) << int(f.Address);
        EXPECT_EQ(f.Flags, 0u) << int(f.Address);
    }
    EXPECT_EQ(found[0].ProposedKind, kKindTovikModbus);
    EXPECT_EQ(found[1].ProposedKind, kKindTovikMModbus);
    EXPECT_EQ(found[1].ModelByte, kModelTovikM);
    EXPECT_EQ(FindingModelText(found[1]), "ТовикМ-25-M2");
    EXPECT_EQ(found[2].ModelByte, kModelTovik);
}

// The line falls silent while the scan is under way: the relay asked after
// that is not reported, the one before is.
TEST_F(ScanSim, RelayThatStopsAnsweringMidScanIsNotReported) {
    SimLine line(Dir, {"0:3", "2:7"});
    ASSERT_TRUE(line.Wire);
    bool silent = false;
    TBusScan scan(*line.Wire->Port, Range(1, 8, true, false));
    Drive(
        scan, Clock, *line.Wire->Trace,
        [&](uint8_t a, bool) { return !silent && (a == 3 || a == 7) ? 1 : 0; },
        [&](uint8_t a, bool) {
            if (a == 5) {
                ASSERT_EQ(line.Sim->Command("silent"), "ok");
                silent = true;
            }
        });
    ASSERT_TRUE(scan.Finished());
    EXPECT_EQ(Numbers(scan.Findings()), (std::vector<int>{3}));
    EXPECT_EQ(scan.Progress().Done, 8);
}

// Cancelled while a probe waits for its answer: that probe ends without the
// clock moving, the queued one never reaches the line, and the next request
// of another owner is the next frame on the line.
TEST_F(ScanSim, CancelEndsTheScanAtOnceAndFreesTheLine) {
    SimLine line(Dir, {"0:2"});
    ASSERT_TRUE(line.Wire);
    TBusScan scan(*line.Wire->Port, Range(1, 250, true, false));
    Drive(
        scan, Clock, *line.Wire->Trace, [&](uint8_t a, bool) { return a == 2 ? 1 : 0; },
        [&](uint8_t a, bool) {
            if (a == 4) scan.Cancel();
        });
    EXPECT_TRUE(scan.Cancelled());
    EXPECT_FALSE(scan.Running());
    EXPECT_FALSE(scan.Pump());
    EXPECT_EQ(scan.Progress().Done, 3);
    EXPECT_EQ(Numbers(scan.Findings()), (std::vector<int>{2}));

    TProtoPort& port = *line.Wire->Port;
    auto events = std::make_shared<TResultEventsList>();
    bool stateOk = false;
    ASSERT_TRUE(RequestReadState(port, 2, port.RegisterOwner(), kKindTovik, events,
                                 [&](const TReply& r) { stateOk = r.Ok(); }));
    ASSERT_TRUE(test::WaitForEvent(*events, std::chrono::seconds(20)));
    events->DispatchOne();
    EXPECT_TRUE(stateOk);

    std::vector<std::pair<int, int>> sent;  // bus number, command
    for (const auto& r : line.Wire->Trace->Snapshot())
        if (r.Direction == TTraceDirection::Sent) sent.emplace_back(r.Address, r.Command.Code);
    const std::vector<std::pair<int, int>> expected = {{1, 4}, {2, 4}, {3, 4}, {4, 4}, {2, 23}};
    EXPECT_EQ(sent, expected);
}

// A request of a panel queued while the scan runs goes out between two
// probes, whole, and gets its answer.
TEST_F(ScanSim, OtherRequestsGoBetweenProbesNeverInsideOne) {
    SimLine line(Dir, {"0:2"});
    ASSERT_TRUE(line.Wire);
    TProtoPort& port = *line.Wire->Port;
    auto events = std::make_shared<TResultEventsList>();
    const int32_t panel = port.RegisterOwner();
    bool stateOk = false;
    TBusScan scan(port, Range(1, 4, true, false));
    Drive(
        scan, Clock, *line.Wire->Trace, [&](uint8_t a, bool) { return a == 2 ? 1 : 0; },
        [&](uint8_t a, bool) {
            if (a == 2)
                RequestReadState(port, 2, panel, kKindTovik, events,
                                 [&](const TReply& r) { stateOk = r.Ok(); });
        });
    ASSERT_TRUE(scan.Finished());
    ASSERT_TRUE(test::WaitForEvent(*events, std::chrono::seconds(20)));
    events->DispatchOne();
    EXPECT_TRUE(stateOk);
    EXPECT_EQ(Numbers(scan.Findings()), (std::vector<int>{2}));

    // Each frame sent is followed by the frames received for it, and only
    // then by the next one sent.
    const Records records = line.Wire->Trace->Snapshot();
    std::vector<std::string> order;
    for (const auto& r : records) {
        const std::string who = r.Command.Code == 23 ? "state" : "probe" + std::to_string(r.Address);
        order.push_back((r.Direction == TTraceDirection::Sent ? ">" : "<") + who);
    }
    const std::vector<std::string> expected = {">probe1", "<probe1", ">probe2", "<probe2", ">probe3",
                                               "<probe3", ">state",  "<state",  ">probe4", "<probe4"};
    EXPECT_EQ(order, expected);
}

// Faults of the simulator on the relay's answer: a stray byte before it
// still lets it through (flagged), a reply from the wrong number does not.
TEST_F(ScanSim, DamagedAndMisaddressedAnswersAreFlagged) {
    SimLine line(Dir, {"0:2", "0:5"});
    ASSERT_TRUE(line.Wire);
    TBusScan scan(*line.Wire->Port, Range(1, 5, true, false));
    Drive(
        scan, Clock, *line.Wire->Trace, [&](uint8_t a, bool) { return a == 2   ? 2
                                                                      : a == 5 ? 1
                                                                               : 0; },
        [&](uint8_t a, bool) {
            // Each fault applies to the next reply, so it is set while the
            // probe before that relay's is still waiting.
            if (a == 1) {
                ASSERT_EQ(line.Sim->Command("noise 1"), "ok");
            }
            if (a == 4) {
                ASSERT_EQ(line.Sim->Command("wrong-address 1"), "ok");
            }
        });
    ASSERT_TRUE(scan.Finished());
    const auto found = scan.Findings();
    ASSERT_EQ(Numbers(found), (std::vector<int>{2, 5}));
    EXPECT_TRUE(found[0].Native);
    EXPECT_EQ(found[0].Flags, uint32_t(ScanDamaged));
    EXPECT_FALSE(found[1].Answered());
    EXPECT_EQ(found[1].Flags, uint32_t(ScanForeignAddress));
    EXPECT_EQ(found[1].ForeignAddress, 6);
    EXPECT_EQ(scan.AnsweredCount(), 1);
    EXPECT_NE(FindingNotesText(found[1]).find("ответ с номером 6"), std::string::npos);
}

// ---- a scripted line: what the simulator cannot play ----

// The reply of a native relay to the model poll.
Bytes NativePollReply(uint8_t address, uint8_t model) {
    return BuildNativeFrame(Bytes{address, 4, model, 0, 0, 0});
}
Bytes ModbusModelReply(uint8_t address, uint8_t model) {
    return test::ModbusFrame(address, 3, {2, 0, model});
}

TEST(ScanScripted, TwoRelaysWithOneNumberAndOtherOddAnswersAreFlagged) {
    test::ManualClock clock;
    test::PtyResponder peer([](const Bytes& request) -> Bytes {
        const auto payload = NativeFramePayload(request);
        const bool modbus =
            !payload && request.size() == 8 && Crc16(request.data(), 6) == (request[6] | request[7] << 8);
        if (!payload && !modbus) return {};
        const uint8_t a = payload ? (*payload)[0] : request[0];
        if (!modbus) {
            switch (a) {
                case 3: {  // two relays with one number, one after the other
                    Bytes both = NativePollReply(3, 0x13);
                    const Bytes second = NativePollReply(3, 0x0B);
                    both.insert(both.end(), second.begin(), second.end());
                    return both;
                }
                case 4:  // two relays at once: bytes that make no frame
                    return {0x00, 0x01, 0x02, 0x03, 0x00, 0x02, 0x01};
                case 5:  // a reply from a number not asked yet
                    return NativePollReply(6, 0x13);
                case 7:  // the late reply of number 2, asked before
                    return NativePollReply(2, 0x23);
                case 8:
                    return NativePollReply(8, 0x13);
                default:
                    return {};
            }
        }
        if (a == 8) return ModbusModelReply(8, 0x13);        // the same number in the other format
        if (a == 9) return test::ModbusFrame(9, 0x83, {2});  // a ModBus relay that refuses the read
        return {};
    });
    Line line(peer.PortName());
    TBusScan scan(*line.Port, Range(2, 9, true, true));
    const std::map<std::pair<int, bool>, int> due = {{{3, false}, 2}, {{4, false}, 1}, {{5, false}, 1},
                                                     {{7, false}, 1}, {{8, false}, 1}, {{8, true}, 1},
                                                     {{9, true}, 1}};
    // The peer tells requests apart by the silence between them: each probe
    // is taken before the next one goes out.
    Drive(
        scan, clock, *line.Trace,
        [&](uint8_t a, bool modbus) {
            const auto it = due.find({a, modbus});
            return it == due.end() ? 0 : it->second;
        },
        {}, [&](int k) { ASSERT_TRUE(peer.WaitForRequests(static_cast<size_t>(k) + 1)); });
    ASSERT_TRUE(scan.Finished());
    const auto found = scan.Findings();
    ASSERT_EQ(Numbers(found), (std::vector<int>{2, 3, 4, 5, 8, 9}));

    EXPECT_TRUE(found[0].Native);  // 2: its answer came late
    EXPECT_EQ(found[0].Flags, uint32_t(ScanLate));
    EXPECT_EQ(found[0].ModelByte, 0x23);

    EXPECT_TRUE(found[1].Native);  // 3: two answers that differ
    EXPECT_EQ(found[1].Flags, uint32_t(ScanExtraReply | ScanDisagree));
    EXPECT_NE(FindingNotesText(found[1]).find("возможно, два устройства с одним номером"), std::string::npos);

    EXPECT_FALSE(found[2].Answered());  // 4: only damaged bytes
    EXPECT_EQ(found[2].Flags, uint32_t(ScanDamaged));

    EXPECT_FALSE(found[3].Answered());  // 5: the answer came from 6
    EXPECT_EQ(found[3].Flags, uint32_t(ScanForeignAddress));
    EXPECT_EQ(found[3].ForeignAddress, 6);

    EXPECT_TRUE(found[4].Native && found[4].Modbus);  // 8: both wire formats
    EXPECT_EQ(found[4].Flags, uint32_t(ScanBothFormats));
    EXPECT_EQ(FindingFormatText(found[4]), "собственный и ModBus RTU");

    EXPECT_TRUE(found[5].Modbus);  // 9: an exception still proves a relay
    EXPECT_FALSE(found[5].HasModel);
    EXPECT_EQ(found[5].Flags, uint32_t(ScanException));
    EXPECT_EQ(found[5].ExceptionCode, 2);
    EXPECT_EQ(found[5].ProposedKind, kKindTovikModbus);

    EXPECT_EQ(scan.AnsweredCount(), 4);
}

// The last native probe's answer comes late, while the first ModBus probe
// listens: it is that native probe's answer, found late, and no damage on
// the number the ModBus probe asked.
TEST(ScanScripted, LateNativeAnswerDuringTheModbusPassIsTheNativeProbes) {
    test::ManualClock clock;
    test::PtyResponder peer([](const Bytes& request) -> Bytes {
        const bool modbus = !NativeFramePayload(request) && request.size() == 8 && CrcMatches(request);
        if (modbus && request[0] == 2) return NativePollReply(3, 0x13);  // number 3's, late
        return {};
    });
    Line line(peer.PortName());
    TBusScan scan(*line.Port, Range(2, 3, true, true));
    Drive(
        scan, clock, *line.Trace, [](uint8_t a, bool modbus) { return modbus && a == 2 ? 1 : 0; }, {},
        [&](int k) { ASSERT_TRUE(peer.WaitForRequests(static_cast<size_t>(k) + 1)); });
    ASSERT_TRUE(scan.Finished());
    const auto found = scan.Findings();
    ASSERT_EQ(Numbers(found), (std::vector<int>{3}));
    EXPECT_TRUE(found[0].Native);
    EXPECT_FALSE(found[0].Modbus);
    EXPECT_EQ(found[0].Flags, uint32_t(ScanLate));
    EXPECT_EQ(found[0].ModelByte, 0x13);
}

// A probe asks only the number it is for, in the frame each wire format
// expects: the native model poll and the read of register 58.
TEST(ScanScripted, ProbesAreTheStatePollOfEachWireFormat) {
    test::ManualClock clock;
    test::PtyResponder peer([](const Bytes&) { return Bytes{}; });
    Line line(peer.PortName());
    TBusScan scan(*line.Port, Range(17, 17, true, true));
    Drive(
        scan, clock, *line.Trace, [](uint8_t, bool) { return 0; }, {},
        [&](int k) { ASSERT_TRUE(peer.WaitForRequests(static_cast<size_t>(k) + 1)); });
    ASSERT_TRUE(scan.Finished());
    ASSERT_TRUE(peer.WaitForRequests(2));
    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], BuildNativeFrame(Bytes{17, 4, 49, 1}));
    Bytes read = {17, 3, 0, 58, 0, 1};
    AppendCrc(read);
    EXPECT_EQ(requests[1], read);
    EXPECT_TRUE(scan.Findings().empty());
    EXPECT_EQ(scan.AnsweredCount(), 0);
}

// ---- options and the kind proposal ----

TEST(ScanOptions, OnlyValidRangesFormatsAndTimeOutsStart) {
    EXPECT_EQ(CheckScanOptions(TScanOptions{}), "");
    auto bad = [](auto change) {
        TScanOptions o;
        change(o);
        return CheckScanOptions(o);
    };
    EXPECT_NE(bad([](TScanOptions& o) { o.From = 0; }), "");
    EXPECT_NE(bad([](TScanOptions& o) { o.To = 251; }), "");
    EXPECT_EQ(bad([](TScanOptions& o) { o.From = 9, o.To = 3; }), "начальный номер больше конечного");
    EXPECT_EQ(bad([](TScanOptions& o) { o.Native = o.Modbus = false; }), "не выбран ни один протокол обмена");
    EXPECT_NE(bad([](TScanOptions& o) { o.TimeoutMs = kScanMinTimeoutMs - 1; }), "");
    EXPECT_NE(bad([](TScanOptions& o) { o.TimeoutMs = kScanMaxTimeoutMs + 1; }), "");

    test::PtyResponder peer;
    Line line(peer.PortName());
    TScanOptions reversed;
    reversed.From = 5;
    reversed.To = 4;
    TBusScan scan(*line.Port, reversed);
    EXPECT_FALSE(scan.Start());
    EXPECT_FALSE(scan.Running());
    EXPECT_EQ(peer.RequestCount(), 0u);
}

TEST(ScanKind, TheModificationTellsTheFamilyWhereItCan) {
    struct Case {
        uint8_t Model;
        bool Modbus;
        uint8_t Kind;
        bool Certain;
    };
    const Case cases[] = {
        {0x03 | 0 << 3, false, kKindTovikM, true},  // M1: no PC interface on "Товик"
        {0x03 | 1 << 3, true, kKindTovikMModbus, true},
        {0x03 | 2 << 3, false, kKindTovik, false},  // M3, M4: both families
        {0x03 | 3 << 3, true, kKindTovikModbus, false},
        {0x03 | 4 << 3, false, kKindTovik, true},  // M5 to M8: "Товик" only
        {0x03 | 7 << 3, true, kKindTovikModbus, true},
    };
    for (const Case& c : cases) {
        bool certain = !c.Certain;
        EXPECT_EQ(ProposeKind(c.Modbus, c.Model, &certain), c.Kind) << int(c.Model);
        EXPECT_EQ(certain, c.Certain) << int(c.Model);
    }
}

}  // namespace
}  // namespace tovik
