// The ModBus reply path over a scripted line: every request written gets
// the next scripted reply from the input (well-formed, damaged, late, split
// into bursts, or raw bytes), delivered through the engine's exchange, and
// the decoded data is placed into a reply block exactly as large as the
// caller's. The clock moves only with the reads, so time-outs end at once
// and every run is the same.
//
// Checked: an accepted reply is a frame on the line with a good CRC, the
// request's address (on a bus) and function, and its data words turned
// little-endian; a read step's data lands where the register map puts it
// and nowhere else; the translation of every command matches the register
// map; the request statistics add up and agree with the outcome: one
// count per frame sent, none for a request that went out unanswered, an
// error for every rejected reply.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "FuzzCheck.h"
#include "base/Clock.h"
#include "base/DeviceTypes.h"
#include "ports/ProtoPort.h"
#include "protocol/Commands.h"
#include "protocol/Executor.h"
#include "protocol/Frame.h"

using namespace tovik;

namespace {

uint32_t g_now = 0;
uint32_t FakeClock() {
    return g_now;
}

// The ModBus CRC written out bit by bit, apart from the engine's.
uint16_t ReferenceCrc(const uint8_t* p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

void AddCrc(std::vector<uint8_t>& f) {
    const uint16_t crc = ReferenceCrc(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
}

// A line whose far end answers each request with the next scripted reply.
class TScriptedPort : public TProtoPort {
public:
    TScriptedPort() : TProtoPort(std::make_shared<TRequestStats>()) {}
    ~TScriptedPort() override { StopWorker(); }

    void Start(FuzzedDataProvider& script, bool nativeReplies) {
        Script = &script;
        Native = nativeReplies;
        Pending.clear();
        Delivered.clear();
        Writes = 0;
        Stats().ResetStats();
    }
    // Gives back every block the run took, so that libFuzzer does not take
    // the next input's buffers for a leak and check for one after each run.
    void Finish() {
        Script = nullptr;
        std::deque<TChunk>().swap(Pending);
        std::vector<uint8_t>().swap(Delivered);
        std::vector<uint8_t>().swap(LastRequest);
    }

    // Bytes handed to the reader since the last request went out.
    std::vector<uint8_t> Delivered;
    std::vector<uint8_t> LastRequest;
    int Writes = 0;

    int32_t Read(void* buffer, int32_t count) override {
        CHECK(buffer != nullptr && count > 0);
        if (!Pending.empty() && Pending.front().At <= g_now) {
            TChunk& c = Pending.front();
            const size_t n = std::min(static_cast<size_t>(count), c.Bytes.size() - c.Pos);
            auto* out = static_cast<uint8_t*>(buffer);
            std::copy_n(c.Bytes.begin() + static_cast<std::ptrdiff_t>(c.Pos), n, out);
            Delivered.insert(Delivered.end(), out, out + n);
            c.Pos += n;
            if (c.Pos == c.Bytes.size()) Pending.pop_front();
            g_now += 1;
            return static_cast<int32_t>(n);
        }
        // Nothing there: the read waits at most 10 ms, less when a burst
        // arrives sooner.
        uint32_t wait = 10;
        if (!Pending.empty()) wait = std::clamp<uint32_t>(Pending.front().At - g_now, 1, 10);
        g_now += wait;
        return 0;
    }

    int32_t Write(const void* buffer, int32_t count) override {
        CHECK(buffer != nullptr && count > 0);
        const auto* p = static_cast<const uint8_t*>(buffer);
        LastRequest.assign(p, p + count);
        Delivered.clear();
        // A line that takes only part of a frame.
        if (Script && Script->remaining_bytes() > 0 && Script->ConsumeIntegralInRange<int>(0, 63) == 0)
            return count - 1;
        ++Writes;
        g_now += 1;
        ScheduleReply();
        return count;
    }

    void Open() override {}
    void Close() override {}
    bool IsOpen() const override { return true; }
    // Drops what has already arrived; bursts still on their way come later.
    void DiscardInput() override {
        while (!Pending.empty() && Pending.front().At <= g_now) Pending.pop_front();
    }
    bool LoadSettings(TStream&) override { return false; }
    bool SaveSettings(TStream&) override { return false; }

private:
    struct TChunk {
        uint32_t At = 0;
        std::vector<uint8_t> Bytes;
        size_t Pos = 0;
    };

    std::vector<uint8_t> ModbusReply(uint8_t mode) {
        FuzzedDataProvider& s = *Script;
        const std::vector<uint8_t>& q = LastRequest;
        std::vector<uint8_t> r;
        if (q.size() < 6) return s.ConsumeBytes<uint8_t>(s.ConsumeIntegralInRange<size_t>(0, 300));
        const uint8_t address = (mode & 0x08) ? s.ConsumeIntegral<uint8_t>() : q[0];
        switch (mode & 7) {
            case 0:  // silence
                break;
            case 1:  // raw bytes
                r = s.ConsumeBytes<uint8_t>(s.ConsumeIntegralInRange<size_t>(0, 300));
                break;
            case 5:  // exception
                r = {address, static_cast<uint8_t>(q[1] | 0x80), s.ConsumeIntegral<uint8_t>()};
                AddCrc(r);
                break;
            default: {  // a reply of the request's shape
                const uint8_t function = (mode & 7) == 6 ? s.ConsumeIntegral<uint8_t>() : q[1];
                r = {address, function};
                if (q[1] == kModbusRead) {
                    size_t bytes = 2 * static_cast<size_t>(q[4] << 8 | q[5]);
                    if (mode & 0x10) bytes = s.ConsumeIntegral<uint8_t>();
                    r.push_back(static_cast<uint8_t>(bytes));
                    std::vector<uint8_t> data = s.ConsumeBytes<uint8_t>(bytes);
                    data.resize(bytes);
                    r.insert(r.end(), data.begin(), data.end());
                } else {
                    r.insert(r.end(), q.begin() + 2, q.begin() + 6);
                }
                AddCrc(r);
                if ((mode & 7) == 4 && !r.empty()) {  // damaged or cut short
                    const size_t at = s.ConsumeIntegralInRange<size_t>(0, r.size() - 1);
                    if (s.ConsumeBool())
                        r[at] ^= static_cast<uint8_t>(s.ConsumeIntegralInRange<int>(1, 255));
                    else
                        r.resize(at);
                }
                if ((mode & 7) == 7) {  // trailing noise
                    std::vector<uint8_t> tail =
                        s.ConsumeBytes<uint8_t>(s.ConsumeIntegralInRange<size_t>(1, 8));
                    r.insert(r.end(), tail.begin(), tail.end());
                }
                break;
            }
        }
        return r;
    }

    std::vector<uint8_t> NativeReply(uint8_t mode) {
        FuzzedDataProvider& s = *Script;
        const std::vector<uint8_t>& q = LastRequest;
        if ((mode & 3) == 0) return {};
        if ((mode & 3) == 1 || q.size() < 6)
            return s.ConsumeBytes<uint8_t>(s.ConsumeIntegralInRange<size_t>(0, 300));
        // The request's address and command come back at positions 3 and 5.
        std::vector<uint8_t> payload{(mode & 0x08) ? s.ConsumeIntegral<uint8_t>() : q[2],
                                     (mode & 0x10) ? s.ConsumeIntegral<uint8_t>() : q[4]};
        std::vector<uint8_t> data = s.ConsumeBytes<uint8_t>(s.ConsumeIntegralInRange<size_t>(0, 70));
        payload.insert(payload.end(), data.begin(), data.end());
        std::vector<uint8_t> frame = BuildNativeFrame(payload);
        if ((mode & 3) == 3 && !frame.empty()) {
            const size_t at = s.ConsumeIntegralInRange<size_t>(0, frame.size() - 1);
            frame[at] ^= static_cast<uint8_t>(s.ConsumeIntegralInRange<int>(1, 255));
        }
        return frame;
    }

    void ScheduleReply() {
        if (!Script || Script->remaining_bytes() == 0) return;  // the relay says nothing more
        FuzzedDataProvider& s = *Script;
        const uint8_t mode = s.ConsumeIntegral<uint8_t>();
        std::vector<uint8_t> reply = Native ? NativeReply(mode) : ModbusReply(mode);
        // In bursts, each after a pause; a long first pause makes the reply
        // late for this try.
        uint32_t at = g_now + ((mode & 0x40) ? s.ConsumeIntegralInRange<uint32_t>(0, 400) : 0);
        size_t pos = 0;
        while (pos < reply.size()) {
            size_t n = reply.size() - pos;
            if (mode & 0x80) n = std::min(n, s.ConsumeIntegralInRange<size_t>(1, 16));
            TChunk c;
            c.At = at;
            c.Bytes.assign(reply.begin() + static_cast<std::ptrdiff_t>(pos),
                           reply.begin() + static_cast<std::ptrdiff_t>(pos + n));
            Pending.push_back(std::move(c));
            pos += n;
            at += s.ConsumeIntegralInRange<uint32_t>(0, 30);
        }
    }

    FuzzedDataProvider* Script = nullptr;
    bool Native = false;
    std::deque<TChunk> Pending;
};

TScriptedPort& Port() {
    static TScriptedPort port;
    return port;
}

// An accepted reply is some frame among the bytes read since the request:
// good CRC, matching function (and address on a bus), data words swapped.
void CheckAccepted(const TScriptedPort& port, const std::vector<uint8_t>& request, const TBuff& reply,
                   bool bus) {
    const std::vector<uint8_t>& line = port.Delivered;
    const size_t length = reply.size() + 5;
    bool found = false;
    for (size_t o = 0; !found && o + length <= line.size(); ++o) {
        const uint8_t* f = line.data() + o;
        const uint16_t crc = static_cast<uint16_t>(f[length - 2] | f[length - 1] << 8);
        if (ReferenceCrc(f, length - 2) != crc) continue;
        if (f[1] != request[1] || (bus && f[0] != request[0])) continue;
        bool same = true;
        for (size_t i = 0; same && i < reply.size(); ++i) {
            const size_t from = (i % 2 == 0 && i + 1 < reply.size()) ? i + 1 : (i % 2 == 1 ? i - 1 : i);
            same = reply[i] == f[3 + from];
        }
        found = same;
    }
    CHECK(found);
}

// Registers of each setpoint offset: (offset, register, count); offset 24
// depends on the kind.
struct TRegRow {
    int Offset;
    uint16_t Register;
    uint16_t Count;
};
constexpr TRegRow kRegisterMap[] = {
    {0, 32, 2},  {4, 34, 2},  {8, 36, 2},  {12, 38, 2}, {16, 40, 2}, {20, 42, 2}, {28, 46, 1}, {30, 47, 1},
    {32, 48, 1}, {34, 49, 1}, {36, 50, 1}, {38, 51, 1}, {40, 52, 1}, {42, 53, 1}, {44, 54, 1}, {46, 55, 1},
    {47, 56, 1}, {48, 57, 1}, {49, 58, 1}, {50, 59, 2}, {53, 61, 1}, {55, 62, 1},
};

std::optional<TRegRow> MapRow(uint8_t kind, int offset) {
    if (offset == 24) return TRegRow{24, 44, static_cast<uint16_t>(kind == kKindTovikModbus ? 2 : 1)};
    for (const TRegRow& r : kRegisterMap)
        if (r.Offset == offset) return r;
    return std::nullopt;
}

// Commands that no ModBus exchange stands for.
bool Untranslated(uint8_t code) {
    constexpr uint8_t kNone[] = {5, 8, 9, 10, 15, 16, 18, 26, 27, 28, 29, 34, 36};
    return code > 37 || std::find(std::begin(kNone), std::end(kNone), code) != std::end(kNone);
}

void CheckTranslation(uint8_t kind, const TCommandDescriptor& command, size_t dataLength,
                      const std::optional<std::vector<TModbusStep>>& steps) {
    if (!IsModbusKind(kind) || Untranslated(command.Code)) {
        CHECK(!steps);
        return;
    }
    if (command.Code == CmdReadCell || command.Code == CmdWriteCell) {
        const auto row = MapRow(kind, command.Param1);
        if (!row) {
            CHECK(!steps);
            return;
        }
        if (command.Code == CmdWriteCell) {
            // Two registers carry four bytes (three for the date), one
            // register two, the one-byte items one.
            size_t needed = row->Count == 2 ? 4 : 2;
            if (command.Param1 == 50) needed = 3;
            if (command.Param1 >= 46 && command.Param1 <= 49) needed = 1;
            CHECK(steps.has_value() == (dataLength >= needed));
            if (!steps) return;
        }
        CHECK(steps && !steps->empty());
        const TModbusStep& first = steps->front();
        CHECK(first.Register == row->Register);
        CHECK(first.Function == (command.Code == CmdReadCell ? kModbusRead : kModbusWrite));
        CHECK(command.Param1 == 49 ? first.Count == 1 : first.Count == row->Count);
        CHECK(steps->size() == (command.Code == CmdReadCell && command.Param1 == 49 ? 3u : 1u));
    }
    // Only a missing index or too little data keeps a command off the line.
    struct TNeed {
        uint8_t Code;
        size_t Bytes;
    };
    constexpr TNeed kNeeds[] = {{CmdWriteTask, 12}, {CmdSetClock, 6},  {CmdDeleteTask, 1},
                                {CmdAddTask, 13},   {CmdWriteTots, 1}, {CmdWriteDinProtocol, 2}};
    size_t needed = 0;
    for (const TNeed& n : kNeeds)
        if (n.Code == command.Code) needed = n.Bytes;
    const bool needsIndex =
        command.Code == CmdReadAlarm || command.Code == CmdReadTask || command.Code == CmdWriteTask;
    if (command.Code != CmdReadCell && command.Code != CmdWriteCell)
        CHECK(steps.has_value() == (!(needsIndex && command.Param1 == -1) && dataLength >= needed));
    if (!steps) return;
    for (const TModbusStep& step : *steps) {
        CHECK(step.Count >= 1);
        if (step.Function == kModbusWrite) {
            CHECK(step.Values.size() == step.Count);
            CHECK(step.Count == 1 || step.Count == 2 || step.Count == 4 || step.Count == 6);
        } else {
            CHECK(step.Function == kModbusRead && step.Values.empty() && step.Count <= 125);
        }
    }
}

// Where a read step's data must land, written out from the register map:
// block byte -> word byte of the setpoint registers read from 32.
size_t SetpointSource(uint8_t kind, size_t i) {
    if (kind == kKindTovikMModbus && i == 26) return 62;  // item 24, register 63
    if (kind == kKindTovikMModbus && i == 27) return 26;  // item 23, register 45
    if (i < 47) return i;
    static constexpr size_t kTail[] = {48, 50, 52, 54, 55, 56, 58, 59, 60, 61};
    return kTail[i - 47];
}

void CheckPlacement(uint8_t kind, const TModbusStep& step, const TBuff& data,
                    const std::vector<uint8_t>& before, const std::vector<uint8_t>& after, bool placed) {
    const size_t cap = after.size();
    if (step.Function != kModbusRead) {
        CHECK(placed && before == after);
        return;
    }
    if (data.size() < 2 * size_t{step.Count}) {
        CHECK(!placed);
        return;
    }
    if (!placed) {
        CHECK(step.Place == TStepPlace::SetpointBlock);
        return;
    }
    std::vector<uint8_t> expect = before;
    auto put = [&](size_t at, uint8_t v) {
        if (at < cap) expect[at] = v;
    };
    switch (step.Place) {
        case TStepPlace::None:
            break;
        case TStepPlace::Copy:
            for (size_t i = 0; i < data.size(); ++i) put(step.Dest + i, data[i]);
            break;
        case TStepPlace::LowByte:
            put(step.Dest, data[0]);
            break;
        case TStepPlace::ModelFlags:
            put(1, data[1] & 1);
            put(2, (data[1] >> 1) & 1);
            break;
        case TStepPlace::DropFourth:
            for (size_t i = 0, o = 0; i < data.size(); ++i)
                if (i != 3) put(o++, data[i]);
            break;
        case TStepPlace::SetpointBlock:
            for (size_t i = 0; i < kSetpointBlockSize; ++i) put(i, data[SetpointSource(kind, i)]);
            break;
    }
    CHECK(after == expect);
}

constexpr uint8_t kCodes[] = {0,  1,  2,  3,  4,  6,  7,  11, 12, 13, 14, 17, 19, 20, 21,
                              22, 23, 24, 25, 26, 30, 31, 32, 33, 34, 35, 36, 37, 5,  255};
constexpr int kOffsets[] = {0,  4,  8,  12, 16, 20, 24, 26, 27, 28, 30, 32, 34,
                            36, 38, 40, 42, 44, 46, 47, 48, 49, 50, 53, 55, 57};

TCommandDescriptor PickCommand(FuzzedDataProvider& in) {
    TCommandDescriptor c;
    c.Code = in.PickValueInArray(kCodes);
    const uint8_t params = in.ConsumeIntegralInRange<uint8_t>(0, 3);
    if (c.Code == CmdReadCell || c.Code == CmdWriteCell) {
        c.Param1 = in.ConsumeBool() ? in.PickValueInArray(kOffsets) : in.ConsumeIntegral<uint8_t>();
        c.Param2 = in.ConsumeIntegralInRange<int32_t>(1, 4);
    } else if (params >= 1) {
        c.Param1 = in.ConsumeIntegral<uint8_t>();
        if (params >= 2) c.Param2 = in.ConsumeIntegral<uint8_t>();
    }
    return c;
}

// The outcome of an exchange of `sent` frames and the errors it counted
// agree: only silence is NoAnswer, with no error; a rejected reply counts
// one; the accepted one none. (NotSent: a frame the line did not take,
// after any number of tries.)
void CheckCounted(const TOutcome& outcome, int sent, int errors) {
    CHECK(errors >= 0 && errors <= sent);
    switch (outcome.Status) {
        case TReplyStatus::NotSent:
            break;
        case TReplyStatus::NoAnswer:
            CHECK(sent > 0 && errors == 0);
            break;
        case TReplyStatus::Answered:
            CHECK(sent > 0 && errors < sent);
            break;
        case TReplyStatus::Damaged:
        case TReplyStatus::Short:
        case TReplyStatus::Foreign:
        case TReplyStatus::Late:
        case TReplyStatus::Exception:
            CHECK(errors >= 1);
            break;
        case TReplyStatus::NoLine:
        case TReplyStatus::Stopped:
            CHECK(false);  // the scripted line is always open, and never stopped
    }
}

// The steps of one command run one after another, as the executor runs them.
void RunModbusSteps(FuzzedDataProvider& in, TScriptedPort& port) {
    const uint8_t kind = in.ConsumeBool() ? kKindTovikModbus : kKindTovikMModbus;
    const uint8_t address = in.ConsumeIntegral<uint8_t>();
    port.Bus = in.ConsumeBool();
    const TCommandDescriptor command = PickCommand(in);
    const std::vector<uint8_t> tx = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 16));
    const size_t rxLength = in.ConsumeIntegralInRange<size_t>(0, 64);
    const int32_t timeout = in.ConsumeIntegralInRange<int32_t>(0, 300);
    const int32_t tries = in.ConsumeIntegralInRange<int32_t>(0, 3);

    const auto steps = TranslateCommand(kind, command, tx.empty() ? nullptr : tx.data(), tx.size());
    CheckTranslation(kind, command, tx.size(), steps);
    // The other kinds have no translation at all.
    CHECK(!TranslateCommand(kKindTovik, command, tx.data(), tx.size()));
    CHECK(!TranslateCommand(kKindTovikM, command, tx.data(), tx.size()));
    if (!steps) return;

    // Exactly as large as the caller's block, so a write past it is caught.
    std::unique_ptr<uint8_t[]> rx(rxLength ? new uint8_t[rxLength] : nullptr);
    for (size_t i = 0; i < rxLength; ++i) rx[i] = static_cast<uint8_t>(0xA5 ^ i);
    port.Start(in, false);
    for (const TModbusStep& step : *steps) {
        const TBuff frame = BuildModbusRequest(address, step);
        CHECK(frame.size() == (step.Function == kModbusRead ? 8u : 9u + 2u * step.Count));
        CHECK(frame[0] == address && frame[1] == step.Function);
        CHECK(ReferenceCrc(frame.data(), frame.size() - 2) ==
              (frame[frame.size() - 2] | frame[frame.size() - 1] << 8));

        const int sentBefore = port.Writes;
        const TStatsSnapshot statsBefore = port.Stats().GetStats();
        TBuff reply;
        const TOutcome outcome = Exchange(port, frame, timeout, 2, tries, reply);
        const bool ok = outcome.Ok();
        const TStatsSnapshot stats = port.Stats().GetStats();
        const int sent = port.Writes - sentBefore;
        const int errors = stats.ErrorCount - statsBefore.ErrorCount;
        CHECK(sent <= tries);
        CHECK(stats.SentCount - statsBefore.SentCount == sent);
        CHECK(stats.OkCount - statsBefore.OkCount == (ok ? 1 : 0));
        CheckCounted(outcome, sent, errors);
        if (!ok) CHECK(reply.empty());
        if (!ok) break;
        CHECK(port.LastRequest == frame);
        CheckAccepted(port, frame, reply, port.Bus);

        const std::vector<uint8_t> before(rx.get(), rx.get() + rxLength);
        const bool placed = PlaceStepReply(kind, step, reply, rx.get(), static_cast<int32_t>(rxLength));
        const std::vector<uint8_t> after(rx.get(), rx.get() + rxLength);
        CheckPlacement(kind, step, reply, before, after, placed);
        if (!placed) break;
    }
    port.Finish();
}

// The whole executor, both wire formats, with a scripted relay.
void RunExecutor(FuzzedDataProvider& in, TScriptedPort& port) {
    const uint8_t kind = in.ConsumeIntegralInRange<uint8_t>(0, 4);
    port.Bus = in.ConsumeBool();
    port.ReplyTimeout = in.ConsumeIntegralInRange<int32_t>(0, 200);
    const TCommandDescriptor command = PickCommand(in);
    std::vector<uint8_t> tx = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 16));
    const size_t rxLength = in.ConsumeIntegralInRange<size_t>(0, 64);
    std::unique_ptr<uint8_t[]> rx(rxLength ? new uint8_t[rxLength] : nullptr);
    std::fill_n(rx.get(), rxLength, 0);

    auto block = std::make_unique<TBlock>(tx);
    const auto txLength = static_cast<int32_t>(tx.size());
    const uint8_t address = in.ConsumeIntegral<uint8_t>();
    const int32_t extra = in.ConsumeIntegralInRange<int32_t>(0, 100);
    const int32_t tries = in.ConsumeIntegralInRange<int32_t>(0, 3);
    auto request = MakeRequest(&port, address, kind, command, std::move(block), txLength, rx.get(),
                               static_cast<int32_t>(rxLength), extra, tries);
    port.Start(in, !IsModbusKind(kind));
    const TOutcome outcome = ExecuteRequest(*request);
    const bool ok = outcome.Ok();
    port.Finish();
    CHECK(!request->TxData);  // released once framed
    const TStatsSnapshot stats = port.Stats().GetStats();
    CHECK(stats.SentCount == port.Writes);
    CHECK(stats.OkCount <= stats.SentCount);
    // Every try counts one outcome at most, in both wire formats.
    CHECK(stats.OkCount + stats.ErrorCount <= stats.SentCount);
    if (ok) CHECK(stats.OkCount >= 1 && IsKnownKind(kind));
    if (!IsModbusKind(kind)) CheckCounted(outcome, stats.SentCount, stats.ErrorCount);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetClockSource(&FakeClock);
    Port();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // Sometimes just before the millisecond counter wraps.
    g_now = in.ConsumeBool() ? 0xFFFFFF00u : 1000u;
    TScriptedPort& port = Port();
    if (in.ConsumeBool())
        RunModbusSteps(in, port);
    else
        RunExecutor(in, port);
    return 0;
}
