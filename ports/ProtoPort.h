#pragma once
// The request engine: requests and jobs, the per-port queue with its owner
// ids, the port's worker thread, result delivery to the user-interface
// thread, the request statistics, and the line discipline between requests.
// The port moves bytes and keeps time; it knows no wire format (the frames
// are protocol/'s).
//
// Ownership: a job owns its request, the request owns its outgoing data,
// and the job owns its result block (the request's RxBuffer points into
// it). Whoever holds the job holds all of them, so every block is released
// exactly once on every path. A job shares ownership of the result list it
// names, so a worker can never deliver into a list that has been destroyed.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Stream.h"
#include "ports/Request.h"

namespace tovik {

struct TResultEvent {
    TResultHandler OnResult;
    TOutcome Outcome;
    TBlockPtr Data;
};

// Told that an event arrived. Runs in the worker thread right after the
// event was appended, outside every lock; it must not block (a front end
// wakes its own thread with it and takes the event from the list there).
using TResultNotifier = std::function<void()>;

// The hand-over point between port workers and the user-interface thread.
//
// The notifier lets the thread that takes the events sleep until it has
// something to do. By default every event calls it. A list that holds
// events back (SetHoldWhileQueued) calls it only for an event after which
// its port's queue holds no more jobs that deliver into the list: the
// line does not wait for the events before it, and they are taken together
// with that one. A thread that waits for an owner's last queued job to be
// taken (a request that must follow it) asks for that once (WakeWhenIdle).
class TResultEventsList {
public:
    TResultEventsList() = default;
    TResultEventsList(const TResultEventsList&) = delete;
    TResultEventsList& operator=(const TResultEventsList&) = delete;
    // Waiting events are discarded without calling their callbacks.
    ~TResultEventsList() = default;

    // `MoreQueued`: the port's queue still holds jobs for this list; a list
    // that holds events back does not notify then.
    void AddEvent(TResultHandler OnResult, TOutcome Outcome, TBlockPtr Data, bool MoreQueued = false);
    // Installs (or with an empty function removes) the notifier. A call
    // already under way when it is replaced still ends on the old one,
    // which it keeps alive; the owner makes sure its target outlives that.
    void SetNotifier(TResultNotifier Notifier);
    void SetHoldWhileQueued(bool On) { Hold.store(On, std::memory_order_relaxed); }
    bool HoldsWhileQueued() const { return Hold.load(std::memory_order_relaxed); }
    // One call of the notifier when a worker takes the last queued job of
    // owner `OwnerId` (OwnerIdle); asking again replaces the owner asked for.
    void WakeWhenIdle(int32_t OwnerId) { IdleOwner.store(OwnerId, std::memory_order_release); }
    // Worker side: the last queued job of `OwnerId` was taken.
    bool WaitsForIdle(int32_t OwnerId) const { return IdleOwner.load(std::memory_order_acquire) == OwnerId; }
    void OwnerIdle(int32_t OwnerId);
    // Takes the oldest event and calls its callback outside the lock.
    void DispatchOne();
    bool IsEmpty() const;
    size_t Count() const;

private:
    void Notify();

    mutable std::mutex EventsLock;
    std::deque<TResultEvent> Events;
    std::shared_ptr<const TResultNotifier> Notifier;  // under EventsLock
    std::atomic<bool> Hold{false};
    static constexpr int32_t kNoOwnerAsked = -1;
    std::atomic<int32_t> IdleOwner{kNoOwnerAsked};
};

struct TStatsSnapshot {
    int32_t SentCount = 0;
    int32_t OkCount = 0;
    int32_t ErrorCount = 0;
    // How the last request that failed ended (after all its tries), if one did.
    std::optional<TOutcome> LastFailure;
    int32_t NoAnswer() const { return SentCount - OkCount - ErrorCount; }
};

// Request statistics shared by all ports; owned by the main window.
class TRequestStats {
public:
    void IncSent();
    void IncOk();
    void IncError();
    // A request failed, and this is how (the workers note each one).
    void NoteFailure(const TOutcome& Outcome);
    TStatsSnapshot GetStats() const;
    void ResetStats();

private:
    mutable std::mutex StatsLock;
    TStatsSnapshot Counts;
};

// Sound for an unexpected empty queue. The core has no sound; the front end
// may install one. nullptr removes it.
using TBeepHook = void (*)();
void SetBeepHook(TBeepHook hook);
// Sounds the installed beep, if any (a front end's alert too).
void SoundBeep();

class TProtoPortThread;
class TFrameTraceSink;
struct TFrameTraceRecord;

// A byte channel to one line with its request queue and worker.
// Concrete ports must call StopWorker() first thing in their destructor, so
// that the worker is gone before their own members are destroyed.
class TProtoPort : public TStream {
public:
    explicit TProtoPort(std::shared_ptr<TRequestStats> stats);
    ~TProtoPort() override;
    TProtoPort(const TProtoPort&) = delete;
    TProtoPort& operator=(const TProtoPort&) = delete;

    // The line. Read waits at most about 10 ms when nothing is buffered and
    // returns as soon as bytes are there.
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Drops whatever input is waiting (stale bytes before a transmission).
    virtual void DiscardInput() = 0;
    // The port's settings record; LoadSettings starts after the Kind field.
    virtual bool LoadSettings(TStream& stream) = 0;
    virtual bool SaveSettings(TStream& stream) = 0;

    // Queue and owners.
    void PutJob(std::unique_ptr<TProtoJob> job);
    bool TakeJob(TProtoJob& slot);
    int32_t RegisterOwner();
    // False when the id is not registered (kOwnerNotFound); nothing changes.
    bool UnregisterOwner(int32_t ownerId);
    bool IsOwnerRegistered(int32_t ownerId) const;
    bool IsOwnerIdle(int32_t ownerId) const;
    // Whether a job that delivers into `results` waits in the queue.
    bool HasQueuedJobFor(const TResultEventsList* results) const;
    size_t QueueLength() const;

    // Stops the worker at once: within one read wait, without waiting for
    // the queue or the exchange in progress, which gets no result event.
    void StopWorker();
    bool HasWorker() const { return Worker != nullptr; }
    // Times the worker woke up; an idle port's worker does not wake at all.
    uint64_t WorkerWakeUps() const;
    // Checked by every receive loop so that a stop ends an exchange at once.
    bool StopRequested() const { return Stopping.load(std::memory_order_acquire); }

    TRequestStats& Stats() const { return *StatsRef; }
    const std::shared_ptr<TRequestStats>& SharedStats() const { return StatsRef; }

    // The line's name as the frame trace shows it; safe from the worker.
    virtual std::string LineName() const { return Name; }

    // Frame trace (ports/FrameTrace.h). Any thread may set, swap or clear
    // the sink (nullptr) while the worker runs; the port shares its
    // ownership, so a call already under way when it is cleared still ends
    // on a live sink. Without a sink the engine pays one atomic load.
    void SetFrameTrace(std::shared_ptr<TFrameTraceSink> Sink);
    bool Tracing() const { return TraceOn.load(std::memory_order_acquire); }
    // Worker side: stamps the record with both clocks and the line's name
    // and hands it to the sink, if one is set.
    void TraceFrame(TFrameTraceRecord& Record);

    // Line discipline between requests (worker side). After a request that
    // failed or needed more than one try, a reply may still be on its way;
    // the next frame waits for a quiet line (AwaitQuietLine) so that it is
    // not taken for the answer.
    void MarkLineUnsettled() { Unsettled.store(true, std::memory_order_relaxed); }
    bool TakeLineUnsettled() { return Unsettled.exchange(false, std::memory_order_relaxed); }
    // The request frames that go on the line, as bytes (worker side): noted
    // before a request's first frame, the one of the request before it
    // (EarlierFrame) lets protocol/ tell a late answer to that one. The same
    // frame again (another try, the same poll) changes nothing.
    void NoteRequestFrame(const TBuff& Frame);
    const TBuff& EarlierFrame() const { return Earlier; }

    // Why the line is closed or was lost; None while it is open, or for a
    // port that keeps no reason. Any thread.
    virtual TOpenOutcome LastOpenError() const { return {}; }

    // Settings. Bus and ReplyTimeout are changed by the user-interface thread
    // and read by the worker.
    std::atomic<bool> Bus{false};
    int32_t Kind = 0;
    int32_t Id = 0;
    std::string Name;
    std::atomic<int32_t> ReplyTimeout{0};
    std::atomic<int32_t> RequestInterval{0};

private:
    friend class TProtoPortThread;
    // Worker side: sleeps until a job may be waiting; false when stopping.
    bool WaitForSignal();

    std::shared_ptr<TRequestStats> StatsRef;

    mutable std::mutex OwnerLock;
    std::vector<int32_t> Owners;
    int32_t NextOwnerId = 0;

    mutable std::mutex QueueLock;
    std::condition_variable QueueSignal;
    bool SignalSet = false;  // the auto-reset event's state, under QueueLock
    std::deque<std::unique_ptr<TProtoJob>> Queue;

    std::atomic<bool> Stopping{false};
    std::atomic<bool> Unsettled{false};
    TBuff Earlier, Current;  // worker only

    std::atomic<bool> TraceOn{false};
    std::mutex TraceLock;  // guards TraceSink; never held while the sink runs
    std::shared_ptr<TFrameTraceSink> TraceSink;

    std::unique_ptr<TProtoPortThread> Worker;
};

inline constexpr const char* kOwnerNotFound = "ses no found";

// The worker: serves its port's queue one job at a time.
class TProtoPortThread {
public:
    explicit TProtoPortThread(TProtoPort& port);
    ~TProtoPortThread();  // joins
    TProtoPortThread(const TProtoPortThread&) = delete;
    TProtoPortThread& operator=(const TProtoPortThread&) = delete;

    void Join();
    // Wake-ups since start, to show that an idle worker sleeps.
    uint64_t WakeUps() const { return WakeUpCount.load(std::memory_order_relaxed); }

private:
    void Execute();

    TProtoPort& Port;
    TProtoJob Job;
    std::atomic<uint64_t> WakeUpCount{0};
    std::thread Thread;
};

// The request a frame belongs to, as the frame trace shows it. The address
// is the frame's first byte.
struct TFrameContext {
    uint8_t DeviceKind = 0xFF;  // unknown
    TCommandDescriptor Command;
};

// Before the first frame of a request, when the line is unsettled (see
// MarkLineUnsettled): waits until the line has been quiet for the port's
// ReplyTimeout and drops what arrives meanwhile (traced as Late, try 0). A
// line that never goes quiet is given up on after kQuietWaitLimitFactor
// reply time-outs; a closed line has nothing to wait for (opening it purges
// it). False only when the worker is being stopped.
bool AwaitQuietLine(TProtoPort& Port, uint8_t Address, const TFrameContext& Context);
inline constexpr uint32_t kQuietWaitLimitFactor = 4;

// The outcome of a frame that did not go out: NoLine with the line's
// reason when the line is closed or gone, NotSent otherwise.
TOutcome UnsentOutcome(const TProtoPort& Port);

// Identity of a port name: its bytes folded by XOR into four bytes, read
// as a little-endian int32.
int32_t NameId(const std::string& name);

}  // namespace tovik
