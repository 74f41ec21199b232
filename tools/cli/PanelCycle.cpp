#include "tools/cli/PanelCycle.h"

#include <chrono>

#include "app/UsersMod.h"

namespace tovik::cli {

namespace {

// The longest a request may take: every try of every ModBus step at the
// full time-out, with room to spare.
std::chrono::milliseconds SilenceLimit(int32_t replyTimeout) {
    constexpr int64_t kLongestExtra = 700;
    constexpr int64_t kStepsTimesTries = 12;
    return std::chrono::milliseconds((static_cast<int64_t>(replyTimeout) + kLongestExtra) * kStepsTimesTries +
                                     2000);
}

}  // namespace

TPanelCycle::TPanelCycle(TCliSession& session, TTovikDevice& device, const TLocaleFormat& locale)
    : Session(session) {
    TProtoPort* line = session.LinePort();
    device.BusAddress = session.Line().Address;
    device.SetDeviceKind(session.Line().Kind);
    if (line) device.PortId = line->Id;

    TPanelEnvironment env;
    env.Line = line;
    // Reading only: whatever the command, this cycle never changes the relay.
    env.AccessLevel = kReadOnlyAccess;
    env.Locale = locale;
    Panel = std::make_unique<TTovikPanel>(std::move(env));
    Panel->Results()->SetNotifier([signal = Signal] {
        {
            std::lock_guard guard(signal->Lock);
            signal->Pending = true;
        }
        signal->Arrived.notify_one();
    });
    Panel->AttachDevice(&device);
    Panel->FillPortBox();
}

TPanelCycle::~TPanelCycle() {
    Panel->Results()->SetNotifier(nullptr);
}

template <class TDone>
bool TPanelCycle::RunUntil(TDone done) {
    using Clock = std::chrono::steady_clock;
    const auto limit = SilenceLimit(Session.Line().ReplyTimeout);
    auto lastEvent = Clock::now();
    for (;;) {
        if (Interrupted.load()) return false;
        const bool waiting = !Panel->Results()->IsEmpty();
        Panel->Tick();
        if (done()) return true;
        if (waiting) {
            lastEvent = Clock::now();
            continue;  // the next completion at once, one per tick
        }
        Session.Drain();  // prints the frames traced so far
        if (Panel->Outstanding() > 0 && Clock::now() - lastEvent > limit) return false;
        // The panel's 10 ms timer, cut short by a completion.
        std::unique_lock lock(Signal->Lock);
        Signal->Arrived.wait_for(lock, std::chrono::milliseconds(kRefreshTimerMs),
                                 [this] { return Signal->Pending; });
        Signal->Pending = false;
    }
}

bool TPanelCycle::Run() {
    const uint64_t next = Panel->CompletedCycles() + 1;
    const bool finished = RunUntil([&] { return Panel->CompletedCycles() >= next; });
    return finished && Panel->LastPollOk();
}

bool TPanelCycle::FetchAlarms() {
    // The journal alone: no poll cycle meanwhile.
    Panel->SetPolling(false);
    Panel->ReadAlarmJournal();
    const bool finished = RunUntil([&] { return Panel->Outstanding() == 0; });
    Panel->SetPolling(true);
    return finished && !Panel->AlarmFetchFailed();
}

}  // namespace tovik::cli
