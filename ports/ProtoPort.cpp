#include "ports/ProtoPort.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "base/Clock.h"
#include "base/Cp1251.h"
#include "base/Program.h"
#include "ports/FrameTrace.h"

namespace tovik {

namespace {
std::atomic<TBeepHook> g_beep{nullptr};
}

void SetBeepHook(TBeepHook hook) {
    g_beep.store(hook, std::memory_order_relaxed);
}

void SoundBeep() {
    if (auto beep = g_beep.load(std::memory_order_relaxed)) beep();
}

std::unique_ptr<TProtoRequest> MakeRequest(TProtoPort* Port, uint8_t Address, uint8_t DeviceKind,
                                           const TCommandDescriptor& Command, TBlockPtr TxData,
                                           int32_t TxLength, uint8_t* RxBuffer, int32_t RxLength,
                                           int32_t ExtraTimeout, int32_t Tries) {
    auto r = std::make_unique<TProtoRequest>();
    r->Port = Port;
    r->Address = Address;
    r->DeviceKind = DeviceKind;
    r->Command = Command;
    r->TxData = std::move(TxData);
    r->TxLength = TxLength;
    r->RxBuffer = RxBuffer;
    r->RxLength = RxLength;
    r->ExtraTimeout = ExtraTimeout;
    r->Tries = Tries;
    return r;
}

std::unique_ptr<TProtoJob> MakeJob(std::unique_ptr<TProtoRequest> Request, const TBlock* TxData,
                                   TBlockPtr Result, int32_t OwnerId,
                                   std::shared_ptr<TResultEventsList> Results, TExecutor Executor,
                                   TResultHandler OnResult) {
    auto j = std::make_unique<TProtoJob>();
    j->Request = std::move(Request);
    j->TxData = TxData;
    j->Result = std::move(Result);
    j->OwnerId = OwnerId;
    j->Results = std::move(Results);
    j->Executor = std::move(Executor);
    j->OnResult = std::move(OnResult);
    return j;
}

// ---- result delivery ----

void TResultEventsList::AddEvent(TResultHandler OnResult, TOutcome Outcome, TBlockPtr Data, bool MoreQueued) {
    TResultEvent e{std::move(OnResult), Outcome, std::move(Data)};
    {
        std::lock_guard lock(EventsLock);
        Events.push_back(std::move(e));
    }
    if (!MoreQueued || !HoldsWhileQueued()) Notify();
}

void TResultEventsList::OwnerIdle(int32_t OwnerId) {
    int32_t asked = OwnerId;
    if (IdleOwner.compare_exchange_strong(asked, kNoOwnerAsked, std::memory_order_acq_rel)) Notify();
}

void TResultEventsList::Notify() {
    std::shared_ptr<const TResultNotifier> notify;
    {
        std::lock_guard lock(EventsLock);
        notify = Notifier;
    }
    if (notify) (*notify)();
}

void TResultEventsList::SetNotifier(TResultNotifier Notifier) {
    auto fresh = Notifier ? std::make_shared<const TResultNotifier>(std::move(Notifier)) : nullptr;
    std::lock_guard lock(EventsLock);
    this->Notifier = std::move(fresh);
}

void TResultEventsList::DispatchOne() {
    TResultEvent e;
    {
        std::lock_guard lock(EventsLock);
        if (Events.empty()) return;
        e = std::move(Events.front());
        Events.pop_front();
    }
    if (e.OnResult) e.OnResult(TReply{e.Outcome, e.Data.get()});
    // e.Data is released here, after the callback.
}

bool TResultEventsList::IsEmpty() const {
    std::lock_guard lock(EventsLock);
    return Events.empty();
}

size_t TResultEventsList::Count() const {
    std::lock_guard lock(EventsLock);
    return Events.size();
}

// ---- statistics ----

void TRequestStats::IncSent() {
    std::lock_guard lock(StatsLock);
    ++Counts.SentCount;
}
void TRequestStats::IncOk() {
    std::lock_guard lock(StatsLock);
    ++Counts.OkCount;
}
void TRequestStats::IncError() {
    std::lock_guard lock(StatsLock);
    ++Counts.ErrorCount;
}
void TRequestStats::NoteFailure(const TOutcome& Outcome) {
    std::lock_guard lock(StatsLock);
    Counts.LastFailure = Outcome;
}
TStatsSnapshot TRequestStats::GetStats() const {
    std::lock_guard lock(StatsLock);
    return Counts;
}
void TRequestStats::ResetStats() {
    std::lock_guard lock(StatsLock);
    Counts = {};
}

// ---- port: queue and owners ----

TProtoPort::TProtoPort(std::shared_ptr<TRequestStats> stats)
    : StatsRef(stats ? std::move(stats) : std::make_shared<TRequestStats>()) {
    Worker = std::make_unique<TProtoPortThread>(*this);
}

TProtoPort::~TProtoPort() {
    StopWorker();
    // Jobs still queued are released with the queue, without result events.
}

void TProtoPort::PutJob(std::unique_ptr<TProtoJob> job) {
    if (!job) return;
    {
        std::lock_guard lock(QueueLock);
        Queue.push_back(std::move(job));
        SignalSet = true;
    }
    QueueSignal.notify_one();
}

bool TProtoPort::WaitForSignal() {
    std::unique_lock lock(QueueLock);
    QueueSignal.wait(lock, [this] { return SignalSet || Stopping.load(std::memory_order_acquire); });
    if (Stopping.load(std::memory_order_acquire)) return false;
    SignalSet = false;  // auto-reset
    return true;
}

bool TProtoPort::TakeJob(TProtoJob& slot) {
    std::unique_lock lock(QueueLock);
    if (Queue.empty()) {
        SignalSet = false;
        lock.unlock();
        SoundBeep();
        return false;
    }
    slot = std::move(*Queue.front());
    Queue.pop_front();
    if (!Queue.empty()) SignalSet = true;
    return true;
}

int32_t TProtoPort::RegisterOwner() {
    std::lock_guard lock(OwnerLock);
    const int32_t id = NextOwnerId++;
    Owners.push_back(id);
    return id;
}

bool TProtoPort::UnregisterOwner(int32_t ownerId) {
    std::lock_guard lock(OwnerLock);
    auto it = std::find(Owners.begin(), Owners.end(), ownerId);
    if (it == Owners.end()) return false;
    Owners.erase(it);
    return true;
}

bool TProtoPort::IsOwnerRegistered(int32_t ownerId) const {
    std::lock_guard lock(OwnerLock);
    return std::find(Owners.begin(), Owners.end(), ownerId) != Owners.end();
}

bool TProtoPort::IsOwnerIdle(int32_t ownerId) const {
    if (!IsOwnerRegistered(ownerId)) return false;
    std::lock_guard lock(QueueLock);
    return std::none_of(Queue.begin(), Queue.end(),
                        [ownerId](const auto& j) { return j->OwnerId == ownerId; });
}

bool TProtoPort::HasQueuedJobFor(const TResultEventsList* results) const {
    std::lock_guard lock(QueueLock);
    return std::any_of(Queue.begin(), Queue.end(),
                       [results](const auto& j) { return j->Results.get() == results; });
}

size_t TProtoPort::QueueLength() const {
    std::lock_guard lock(QueueLock);
    return Queue.size();
}

void TProtoPort::StopWorker() {
    if (!Worker) return;
    {
        std::lock_guard lock(QueueLock);
        Stopping.store(true, std::memory_order_release);
    }
    QueueSignal.notify_all();
    Worker->Join();
    Worker.reset();
}

uint64_t TProtoPort::WorkerWakeUps() const {
    return Worker ? Worker->WakeUps() : 0;
}

// ---- frame trace ----

void TProtoPort::SetFrameTrace(std::shared_ptr<TFrameTraceSink> Sink) {
    std::lock_guard lock(TraceLock);
    TraceOn.store(Sink != nullptr, std::memory_order_release);
    TraceSink = std::move(Sink);
}

void TProtoPort::TraceFrame(TFrameTraceRecord& Record) {
    if (!Tracing()) return;
    std::shared_ptr<TFrameTraceSink> sink;
    {
        std::lock_guard lock(TraceLock);
        sink = TraceSink;
    }
    if (!sink) return;
    using namespace std::chrono;
    Record.ClockMs = timeGetTime();
    Record.WallMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    Record.PortName = LineName();
    sink->OnFrame(Record);
}

// ---- worker ----

TProtoPortThread::TProtoPortThread(TProtoPort& port) : Port(port) {
    Thread = std::thread([this] { Execute(); });
}

TProtoPortThread::~TProtoPortThread() {
    Join();
}

void TProtoPortThread::Join() {
    if (Thread.joinable()) Thread.join();
}

void TProtoPortThread::Execute() {
    LowerThreadPriority();
    while (Port.WaitForSignal()) {
        WakeUpCount.fetch_add(1, std::memory_order_relaxed);
        if (!Port.TakeJob(Job)) continue;
        // The last queued job of an owner that waits for it to go (the
        // next poll may follow it now).
        if (Job.Results && Job.Results->WaitsForIdle(Job.OwnerId) && Port.IsOwnerIdle(Job.OwnerId))
            Job.Results->OwnerIdle(Job.OwnerId);
        TOutcome outcome;
        const bool executed = Port.IsOwnerRegistered(Job.OwnerId);
        if (executed && Job.Executor && Job.Request) {
            outcome = Job.Executor(*Job.Request);
            // The statistics window says why the last request failed.
            if (!outcome.Ok() && outcome.Status != TReplyStatus::Stopped && Port.SharedStats())
                Port.Stats().NoteFailure(outcome);
        }
        // The completion sees only the bytes the reply brought: a short
        // reply must not leave zeros that read as values.
        if (executed && Job.Request && Job.Result && Job.Request->RxReceived >= 0 &&
            Job.Request->RxBuffer == Job.Result->data())
            Job.Result->resize(std::min(Job.Result->size(), static_cast<size_t>(Job.Request->RxReceived)));
        Job.Request.reset();  // also releases TxData when the job was dropped
        Job.TxData = nullptr;
        if (!Port.StopRequested() && executed && Port.IsOwnerRegistered(Job.OwnerId) && Job.Results) {
            const bool more = Job.Results->HoldsWhileQueued() && Port.HasQueuedJobFor(Job.Results.get());
            Job.Results->AddEvent(std::move(Job.OnResult), outcome, std::move(Job.Result), more);
        }
        Job = TProtoJob{};  // releases whatever was not handed over
    }
    Job = TProtoJob{};
}

// ---- line discipline ----

void TProtoPort::NoteRequestFrame(const TBuff& Frame) {
    if (Frame == Current) return;
    Earlier = std::move(Current);
    Current = Frame;
}

TOutcome UnsentOutcome(const TProtoPort& Port) {
    if (Port.IsOpen()) return TOutcome{TReplyStatus::NotSent};
    TOutcome outcome{TReplyStatus::NoLine};
    outcome.Line = Port.LastOpenError();
    return outcome;
}

bool AwaitQuietLine(TProtoPort& Port, uint8_t Address, const TFrameContext& Context) {
    const int32_t replyTimeout = Port.ReplyTimeout.load(std::memory_order_relaxed);
    if (replyTimeout <= 0 || !Port.IsOpen()) return !Port.StopRequested();
    const auto quiet = static_cast<uint32_t>(replyTimeout);
    const uint64_t limit = static_cast<uint64_t>(quiet) * kQuietWaitLimitFactor;
    const uint32_t start = timeGetTime();
    uint32_t lastByte = start;
    TBuff dropped;
    auto flush = [&] {
        if (dropped.empty() || !Port.Tracing()) return dropped.clear();
        TFrameTraceRecord r;
        r.Direction = TTraceDirection::Received;
        r.Bytes = std::move(dropped);
        r.Address = Address;
        r.DeviceKind = Context.DeviceKind;
        r.Command = Context.Command;
        r.Outcome = TOutcome{TReplyStatus::Late};
        Port.TraceFrame(r);
        dropped.clear();
    };
    uint8_t chunk[256];
    for (;;) {
        if (Port.StopRequested()) return false;
        const int32_t n = Port.Read(chunk, sizeof chunk);
        const uint32_t t = timeGetTime();
        if (n > 0) {
            if (Port.Tracing()) dropped.insert(dropped.end(), chunk, chunk + n);
            lastByte = t;
        } else {
            flush();  // one record per burst
            if (ElapsedMs(lastByte, t) >= quiet || !Port.IsOpen()) return true;
        }
        // A line that never goes quiet must not hold the worker: the reply
        // checks still guard the next exchange.
        if (ElapsedMs(start, t) >= limit) {
            flush();
            return true;
        }
    }
}

// ---- port identity ----

int32_t NameId(const std::string& name) {
    // The identity is taken over the name as stored: single-byte text.
    const std::string bytes = Utf8ToCp1251(name).value_or(name);
    uint8_t v[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < bytes.size(); ++i) v[i % 4] ^= static_cast<uint8_t>(bytes[i]);
    return static_cast<int32_t>(uint32_t(v[0]) | uint32_t(v[1]) << 8 | uint32_t(v[2]) << 16 |
                                uint32_t(v[3]) << 24);
}

}  // namespace tovik
