#include "protocol/BusScan.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <type_traits>

#include "base/Clock.h"
#include "ports/FrameTrace.h"
#include "protocol/Codecs.h"
#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "protocol/Outcome.h"

namespace tovik {

// What the scan's jobs share with it: the worker reads, the user-interface
// thread writes.
struct TScanShared {
    std::atomic<bool> Cancelled{false};
    // Told by the scan's result list when an outcome arrives.
    std::mutex OutcomeLock;
    std::condition_variable OutcomeArrived;
    // The worker's wake-up count when a probe of this scan left the line
    // unsettled: the next probe knows whether only its own predecessor ran.
    std::atomic<uint64_t> MarkedAt{std::numeric_limits<uint64_t>::max()};
    uint32_t TimeoutMs = kScanDefaultTimeoutMs;
};

namespace {

// The native state poll: the model item (offset 49, one byte).
const TCommandDescriptor kPollCommand{CmdReadCell, kUstOffsetModel, 1};
// Its ModBus form: the model register.
constexpr uint16_t kModelRegister = 58;
constexpr size_t kMaxForeign = 8;

// One probe's outcome, as it travels in the job's result block.
struct TProbeReport {
    uint8_t Valid = 0;      // valid answers from the number asked
    uint8_t Disagree = 0;   // valid answers with different contents
    uint8_t Damaged = 0;    // damaged or foreign frames, stray bytes
    uint8_t Exception = 0;  // ModBus exception code (0: none)
    uint8_t Data[4] = {};   // the first valid answer: model byte (native: marks, variant)
    uint8_t NotSent = 0;
    uint8_t Cancelled = 0;
    // Answers of the poll's shape from another number, or in the other
    // wire format: the late answers of earlier probes, or a relay with the
    // wrong number. The scan tells which.
    uint8_t ForeignCount = 0;
    uint8_t ForeignAddress[kMaxForeign] = {};
    uint8_t ForeignModel[kMaxForeign] = {};
    uint8_t ForeignModbus[kMaxForeign] = {};
    int32_t ReplyMs = -1;
};
static_assert(std::is_trivially_copyable_v<TProbeReport>);

// Listens to the line for one probe and sorts what comes: valid answers
// from the number asked, answers of the same shape from another number or
// in the other wire format (a native answer late for the last native probe
// can come while the first ModBus probe listens), and everything else.
class TProbeListener {
public:
    TProbeListener(TProtoPort& port, const TProtoRequest& request, bool modbus, uint32_t t0)
        : Port(port), Request(request), Modbus(modbus), T0(t0) {}

    void Take(const uint8_t* bytes, size_t n) { Pending.insert(Pending.end(), bytes, bytes + n); }

    // Sorts the frames complete so far. At the end of the window (`final`)
    // a frame still short is not waited for: its bytes are damaged.
    void Hunt(bool final) {
        for (;;) {
            // Bytes known to start no frame of either format are reported at
            // once; a frame still coming is waited for. The probe's own
            // format is tried first.
            if (Pending.empty()) return FlushJunk();
            const size_t own = Length(Modbus, final);
            const size_t other = Length(!Modbus, final);
            const bool modbus = IsFrame(own) ? Modbus : !Modbus;
            const size_t len = IsFrame(own) ? own : other;
            if (!IsFrame(len)) {
                if (own == 0 || other == 0) return FlushJunk();
                Junk.push_back(Pending.front());
                Pending.erase(Pending.begin());
                continue;
            }
            FlushJunk();
            const std::vector<uint8_t> frame(Pending.begin(),
                                             Pending.begin() + static_cast<std::ptrdiff_t>(len));
            Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(len));
            Classify(frame, modbus);
        }
    }

    // `silence`: the record of a window in which nothing came.
    void End(TOutcome silence) {
        Hunt(true);
        Junk.insert(Junk.end(), Pending.begin(), Pending.end());
        Pending.clear();
        FlushJunk();
        if (!Anything) Trace({}, silence);
    }

    TProbeReport Report;

private:
    static constexpr size_t kJunk = std::numeric_limits<size_t>::max();

    int32_t Elapsed() const { return static_cast<int32_t>(ElapsedMs(T0, timeGetTime())); }

    static bool IsFrame(size_t length) { return length != 0 && length != kJunk; }

    // The length of the frame of that format at the front: 0 when more
    // bytes are needed, kJunk when the first byte starts no such frame.
    size_t Length(bool modbus, bool final) const {
        return modbus ? ModbusLength(final) : NativeLength(final);
    }

    size_t NativeLength(bool final) const {
        const uint8_t n = Pending[0];
        if (n < 4) return kJunk;
        if (Pending.size() < 2) return final ? kJunk : 0;
        if (Pending[1] != n - 1) return kJunk;
        if (Pending.size() < n) return final ? kJunk : 0;
        return NativeFramePayload(Pending.data(), n) ? n : kJunk;
    }

    size_t ModbusLength(bool final) const {
        const int expected = ModbusReplyLength(Pending.data(), Pending.size());
        if (expected < 0) return kJunk;
        if (expected == 0 || Pending.size() < static_cast<size_t>(expected)) return final ? kJunk : 0;
        const auto len = static_cast<size_t>(expected);
        return CrcMatches(Pending.data(), len) ? len : kJunk;
    }

    void FlushJunk() {
        if (Junk.empty()) return;
        Report.Damaged = static_cast<uint8_t>(std::min(255, Report.Damaged + 1));
        Trace(Junk, {TReplyStatus::Damaged});
        Junk.clear();
    }

    void Classify(const std::vector<uint8_t>& frame, bool modbus) {
        // The native frame's first payload byte (position 3) is the address.
        const uint8_t address = modbus ? frame[0] : frame[2];
        bool answer = false;  // the shape of an answer to the poll
        uint8_t data[4] = {};
        TReplyStatus outcome = TReplyStatus::Answered;
        uint8_t exception = 0;
        if (modbus) {
            if (frame[1] == (kModbusRead | kModbusExceptionBit)) {
                exception = frame[2];
                outcome = TReplyStatus::Exception;
            } else if (frame[1] == kModbusRead && frame[2] == 2) {
                answer = true;
                data[0] = frame[4];  // the register's low byte
            } else {
                outcome = TReplyStatus::Foreign;
            }
        } else {
            const auto payload = NativeFramePayload(frame);
            if (payload && payload->size() >= 3 && (*payload)[1] == CmdReadCell) {
                answer = true;
                std::copy_n(payload->begin() + 2, std::min<size_t>(4, payload->size() - 2), data);
            } else {
                outcome = TReplyStatus::Foreign;
            }
        }
        if (address != Request.Address || modbus != Modbus) {
            if (answer && Report.ForeignCount < kMaxForeign) {
                Report.ForeignAddress[Report.ForeignCount] = address;
                Report.ForeignModel[Report.ForeignCount] = data[0];
                Report.ForeignModbus[Report.ForeignCount] = modbus ? 1 : 0;
                ++Report.ForeignCount;
            } else {
                Report.Damaged = static_cast<uint8_t>(std::min(255, Report.Damaged + 1));
            }
            Trace(frame, {TReplyStatus::Foreign});
            return;
        }
        if (outcome == TReplyStatus::Exception) {
            if (!Report.Exception) Report.Exception = exception ? exception : 0xFF;
            if (Report.ReplyMs < 0) Report.ReplyMs = Elapsed();
            Trace(frame, {outcome, exception});
            return;
        }
        if (!answer) {
            Report.Damaged = static_cast<uint8_t>(std::min(255, Report.Damaged + 1));
            Trace(frame, {outcome});
            return;
        }
        if (Report.Valid == 0) {
            std::copy_n(data, 4, Report.Data);
            Report.ReplyMs = Elapsed();
        } else if (!std::equal(data, data + 4, Report.Data)) {
            Report.Disagree = 1;
        }
        Report.Valid = static_cast<uint8_t>(std::min(255, Report.Valid + 1));
        Trace(frame, kAnswered);
    }

    void Trace(const std::vector<uint8_t>& bytes, TOutcome outcome) {
        Anything = Anything || !bytes.empty();
        if (!Port.Tracing()) return;
        TFrameTraceRecord r;
        r.Direction = TTraceDirection::Received;
        r.Bytes = bytes;
        r.Address = Request.Address;
        r.DeviceKind = Request.DeviceKind;
        r.Command = Request.Command;
        r.Try = 1;
        r.ReplyMs = Elapsed();
        r.Outcome = outcome;
        Port.TraceFrame(r);
    }

    TProtoPort& Port;
    const TProtoRequest& Request;
    const bool Modbus;
    const uint32_t T0;
    std::vector<uint8_t> Pending;
    std::vector<uint8_t> Junk;
    bool Anything = false;
};

void TraceSent(TProtoPort& port, const TProtoRequest& r, const std::vector<uint8_t>& frame,
               TOutcome outcome) {
    if (!port.Tracing()) return;
    TFrameTraceRecord rec;
    rec.Direction = TTraceDirection::Sent;
    rec.Bytes = frame;
    rec.Address = r.Address;
    rec.DeviceKind = r.DeviceKind;
    rec.Command = r.Command;
    rec.Try = 1;
    rec.Outcome = outcome;
    port.TraceFrame(rec);
}

// What the probe found, as a request's outcome.
TOutcome ProbeOutcome(const TProbeReport& rep) {
    if (rep.Cancelled) return {TReplyStatus::Stopped};
    if (rep.Valid > 0) return kAnswered;
    if (rep.Exception) return {TReplyStatus::Exception, rep.Exception};
    if (rep.ForeignCount > 0) return {TReplyStatus::Foreign};
    if (rep.Damaged > 0) return {TReplyStatus::Damaged};
    return {};
}

// The executor of a probe; runs in the port's worker thread.
TOutcome RunProbe(TProtoRequest& r, TScanShared& shared) {
    TProbeReport report;
    auto finish = [&](const TProbeReport& rep, TOutcome outcome) {
        if (r.RxBuffer && r.RxLength >= static_cast<int32_t>(sizeof rep)) {
            std::memcpy(r.RxBuffer, &rep, sizeof rep);
            r.RxReceived = static_cast<int32_t>(sizeof rep);
        }
        return outcome;
    };
    if (!r.Port || shared.Cancelled.load()) {
        report.Cancelled = 1;
        return finish(report, ProbeOutcome(report));
    }
    TProtoPort& port = *r.Port;
    const bool modbus = IsModbusKind(r.DeviceKind);
    const uint64_t wake = port.WorkerWakeUps();
    // A line another request left unsettled gets its quiet wait; the one our
    // previous probe left does not: its late answer is recognised by its
    // number, and waiting after every silent number would multiply the scan.
    if (port.TakeLineUnsettled() && shared.MarkedAt.load() + 1 != wake &&
        !AwaitQuietLine(port, r.Address, {r.DeviceKind, r.Command})) {
        report.Cancelled = 1;
        return finish(report, ProbeOutcome(report));
    }
    const std::vector<uint8_t> frame =
        modbus ? ModbusReadRequest(r.Address, kModelRegister, 1)
               : BuildNativeFrame(std::vector<uint8_t>{r.Address, kPollCommand.Code,
                                                       static_cast<uint8_t>(kPollCommand.Param1),
                                                       static_cast<uint8_t>(kPollCommand.Param2)});
    port.NoteRequestFrame(frame);
    auto unsettle = [&] {
        port.MarkLineUnsettled();
        shared.MarkedAt.store(wake);
    };
    port.DiscardInput();
    const auto size = static_cast<int32_t>(frame.size());
    const int32_t written = port.Write(frame.data(), size);
    if (written != size) {
        const TOutcome unsent = UnsentOutcome(port);
        TraceSent(port, r, frame, unsent);
        if (written > 0) unsettle();
        report.NotSent = 1;
        return finish(report, unsent);
    }
    // The window starts before the trace says the frame went out, so that
    // whoever watches the trace can count on it.
    const uint32_t t0 = timeGetTime();
    TraceSent(port, r, frame, kAnswered);
    port.Stats().IncSent();

    TProbeListener listener(port, r, modbus, t0);
    uint8_t chunk[256];
    bool cut = false;
    bool lost = false;
    while (ElapsedMs(t0, timeGetTime()) <= shared.TimeoutMs) {
        if (shared.Cancelled.load() || port.StopRequested()) {
            cut = true;
            break;
        }
        const int32_t n = port.Read(chunk, sizeof chunk);
        if (n > 0) {
            listener.Take(chunk, static_cast<size_t>(n));
            listener.Hunt(false);
        } else if (!port.IsOpen()) {
            lost = true;
            break;
        }
    }
    // A line lost during the window is said as such when nothing came.
    const TOutcome silence = lost ? UnsentOutcome(port) : TOutcome{};
    listener.End(silence);
    report = listener.Report;
    report.Cancelled = cut ? 1 : 0;
    TOutcome outcome = ProbeOutcome(report);
    if (outcome.Status == TReplyStatus::NoAnswer) outcome = silence;
    if (outcome.Ok())
        port.Stats().IncOk();
    else if (outcome.Status != TReplyStatus::NoAnswer && outcome.Status != TReplyStatus::NoLine && !cut)
        port.Stats().IncError();
    if (report.Valid == 0 || cut) unsettle();
    return finish(report, outcome);
}

void SetFlag(TScanFinding& f, uint32_t flag, bool on) {
    if (on) f.Flags |= flag;
}

void UpdateKind(TScanFinding& f) {
    const bool modbus = f.Modbus && !f.Native;
    if (f.HasModel) {
        f.ProposedKind = ProposeKind(modbus, f.ModelByte, &f.KindCertain);
    } else {
        f.ProposedKind = modbus ? kKindTovikModbus : kKindTovik;
        f.KindCertain = false;
    }
    SetFlag(f, ScanBothFormats, f.Native && f.Modbus);
}

}  // namespace

std::string CheckScanOptions(const TScanOptions& o) {
    if (!IsValidBusAddress(o.From) || !IsValidBusAddress(o.To))
        return "номера устройств задаются от " + std::to_string(kMinBusAddress) + " до " +
               std::to_string(kMaxBusAddress);
    if (o.From > o.To) return "начальный номер больше конечного";
    if (!o.Native && !o.Modbus) return "не выбран ни один протокол обмена";
    if (o.TimeoutMs < kScanMinTimeoutMs || o.TimeoutMs > kScanMaxTimeoutMs)
        return "время ожидания ответа задаётся от " + std::to_string(kScanMinTimeoutMs) + " до " +
               std::to_string(kScanMaxTimeoutMs) + " мс";
    return {};
}

std::string FindingModelText(const TScanFinding& f) {
    if (!f.HasModel) return {};
    const std::string name = ModelName(f.ModelByte, f.ProposedKind);
    if (!name.empty()) return name;
    static const char kHex[] = "0123456789ABCDEF";
    return std::string("модель 0x") + kHex[f.ModelByte >> 4] + kHex[f.ModelByte & 15];
}

std::string FindingFormatText(const TScanFinding& f) {
    if (f.Native && f.Modbus) return "собственный и ModBus RTU";
    if (f.Modbus) return "ModBus RTU";
    if (f.Native) return "собственный";
    return {};
}

std::string FindingNotesText(const TScanFinding& f) {
    std::vector<std::string> notes;
    if (f.Flags & ScanBothFormats) notes.push_back("отвечает в обоих форматах");
    if (f.Flags & ScanDisagree) notes.push_back("ответы не совпадают");
    if (f.Flags & ScanExtraReply) notes.push_back("несколько ответов на один запрос");
    if (f.Flags & ScanDamaged) notes.push_back("искажённые ответы");
    if (f.Flags & (ScanDisagree | ScanExtraReply | ScanDamaged))
        notes.push_back("возможно, два устройства с одним номером");
    if (f.Flags & ScanLate) notes.push_back("ответ с опозданием");
    if (f.Flags & ScanForeignAddress) notes.push_back("ответ с номером " + std::to_string(f.ForeignAddress));
    if (f.Flags & ScanException)
        notes.push_back("исключение ModBus " + std::to_string(f.ExceptionCode) + " (" +
                        ModbusExceptionText(f.ExceptionCode) + ")");
    if (f.Answered() && f.HasModel && !f.KindCertain) notes.push_back("тип по модели не определить");
    std::string out;
    for (const auto& n : notes) out += (out.empty() ? "" : "; ") + n;
    return out;
}

TBusScan::TBusScan(TProtoPort& Port, const TScanOptions& Options)
    : PortRef(Port),
      Opts(Options),
      Shared(std::make_shared<TScanShared>()),
      Results(std::make_shared<TResultEventsList>()) {
    // The notifier keeps the shared part alive while a call is under way.
    Results->SetNotifier([shared = Shared] {
        std::lock_guard lock(shared->OutcomeLock);
        shared->OutcomeArrived.notify_all();
    });
}

TBusScan::~TBusScan() {
    Cancel();
}

bool TBusScan::Start() {
    if (Started || !CheckScanOptions(Opts).empty()) return false;
    Started = true;
    Shared->TimeoutMs = static_cast<uint32_t>(Opts.TimeoutMs);
    // One wire format after the other: the relays of a line see frames of
    // the other format only in one stretch, not between every two of theirs.
    for (const bool modbus : {false, true}) {
        if (modbus ? !Opts.Modbus : !Opts.Native) continue;
        for (int a = Opts.From; a <= Opts.To; ++a) Probes.push_back({static_cast<uint8_t>(a), modbus});
    }
    ProgressNow.Total = static_cast<int>(Probes.size());
    Owner = PortRef.RegisterOwner();
    QueueMore();
    return true;
}

void TBusScan::QueueMore() {
    // Two probes in the queue keep the worker busy while this thread comes
    // round to the outcome of the first.
    constexpr int kDepth = 2;
    while (!Ended && Outstanding < kDepth && NextProbe < Probes.size()) {
        const size_t index = NextProbe++;
        const TProbe& p = Probes[index];
        auto block = std::make_unique<TBlock>(sizeof(TProbeReport), 0);
        uint8_t* rx = block->data();
        auto request =
            MakeRequest(&PortRef, p.Address, p.Modbus ? kKindTovikModbus : kKindTovik, kPollCommand, nullptr,
                        0, rx, static_cast<int32_t>(sizeof(TProbeReport)), Opts.TimeoutMs, 1);
        auto shared = Shared;
        PortRef.PutJob(MakeJob(
            std::move(request), nullptr, std::move(block), Owner, Results,
            [shared](TProtoRequest& r) { return RunProbe(r, *shared); },
            [this, index](const TReply& reply) { OnProbe(index, reply.Data); }));
        ++Outstanding;
    }
    if (Outstanding == 0 && NextProbe >= Probes.size()) Ended = true;
}

bool TBusScan::Pump() {
    if (!Started || Ended) return false;
    while (!Ended && !Results->IsEmpty()) Results->DispatchOne();
    if (!Ended) QueueMore();
    return Running();
}

bool TBusScan::WaitForOutcome(int LimitMs) const {
    std::unique_lock lock(Shared->OutcomeLock);
    return Shared->OutcomeArrived.wait_for(lock, std::chrono::milliseconds(LimitMs),
                                           [this] { return !Results->IsEmpty(); });
}

void TBusScan::Cancel() {
    if (!Started || Ended) return;
    Shared->Cancelled.store(true);
    PortRef.UnregisterOwner(Owner);
    Ended = true;
    WasCancelled = true;
    Outstanding = 0;
}

TScanFinding& TBusScan::FindingFor(uint8_t address) {
    auto [it, added] = Found.try_emplace(address);
    if (added) it->second.Address = address;
    return it->second;
}

void TBusScan::OnProbe(size_t index, const TBlock* data) {
    if (Ended) return;
    --Outstanding;
    const TProbe& probe = Probes[index];
    ++ProgressNow.Done;
    ProgressNow.Address = probe.Address;
    TProbeReport rep;
    if (data && data->size() >= sizeof rep) std::memcpy(&rep, data->data(), sizeof rep);
    if (rep.NotSent) ++ProgressNow.NotSent;

    auto answered = [&](TScanFinding& f, bool modbus, uint8_t model, int32_t replyMs) {
        (modbus ? f.Modbus : f.Native) = true;
        if (f.HasModel && f.ModelByte != model) f.Flags |= ScanDisagree;
        if (!f.HasModel) {
            f.HasModel = true;
            f.ModelByte = model;
        }
        if (f.ReplyMs < 0) f.ReplyMs = replyMs;
        UpdateKind(f);
    };
    if (rep.Valid || rep.Exception || rep.Damaged) {
        TScanFinding& f = FindingFor(probe.Address);
        if (rep.Valid) answered(f, probe.Modbus, rep.Data[0], rep.ReplyMs);
        if (rep.Exception) {
            f.Modbus = true;
            f.Flags |= ScanException;
            f.ExceptionCode = rep.Exception;
            if (f.ReplyMs < 0) f.ReplyMs = rep.ReplyMs;
            UpdateKind(f);
        }
        SetFlag(f, ScanExtraReply, rep.Valid > 1);
        SetFlag(f, ScanDisagree, rep.Disagree != 0);
        SetFlag(f, ScanDamaged, rep.Damaged != 0);
    }
    for (size_t i = 0; i < std::min<size_t>(rep.ForeignCount, kMaxForeign); ++i) {
        const uint8_t other = rep.ForeignAddress[i];
        const bool modbus = rep.ForeignModbus[i] != 0;
        // An answer in the format and from the number of a probe before this
        // one is that probe's late answer (the last native probe's may come
        // during the first ModBus one); from any other number it says
        // something is wrong on this one.
        const auto asked =
            std::find_if(Probes.begin(), Probes.begin() + static_cast<std::ptrdiff_t>(index),
                         [&](const TProbe& p) { return p.Address == other && p.Modbus == modbus; });
        if (asked != Probes.begin() + static_cast<std::ptrdiff_t>(index) && IsValidBusAddress(other)) {
            TScanFinding& late = FindingFor(other);
            late.Flags |= ScanLate;
            answered(late, modbus, rep.ForeignModel[i], -1);
        } else if (other != probe.Address) {
            TScanFinding& f = FindingFor(probe.Address);
            f.Flags |= ScanForeignAddress;
            f.ForeignAddress = other;
        } else {
            FindingFor(probe.Address).Flags |= ScanDamaged;  // its number, in the format not asked
        }
    }
    QueueMore();
}

std::vector<TScanFinding> TBusScan::Findings() const {
    std::vector<TScanFinding> out;
    out.reserve(Found.size());
    for (const auto& [address, f] : Found) out.push_back(f);
    return out;
}

int TBusScan::AnsweredCount() const {
    return static_cast<int>(
        std::count_if(Found.begin(), Found.end(), [](const auto& e) { return e.second.Answered(); }));
}

}  // namespace tovik
