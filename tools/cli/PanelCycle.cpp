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

TPanelCycle::TPanelCycle(TCliSession& session, TTovikDevice& device, const TLocaleFormat& locale,
                         uint8_t accessLevel, const std::string& account)
    : Session(session) {
    TProtoPort* line = session.LinePort();
    device.BusAddress = session.Line().Address;
    device.SetDeviceKind(session.Line().Kind);
    if (line) device.PortId = line->Id;

    TPanelEnvironment env;
    env.Line = line;
    // Reading only unless the command's account may change the relay.
    env.AccessLevel = accessLevel;
    env.Account = account;
    env.Locale = locale;
    PanelModel = std::make_unique<TTovikPanel>(std::move(env));
    PanelModel->Results()->SetNotifier([signal = Signal] {
        {
            std::lock_guard guard(signal->Lock);
            signal->Pending = true;
        }
        signal->Arrived.notify_one();
    });
    PanelModel->AttachDevice(&device);
    PanelModel->FillPortBox();
}

TPanelCycle::~TPanelCycle() {
    PanelModel->Results()->SetNotifier(nullptr);
}

template <class TDone>
bool TPanelCycle::RunUntil(TDone done) {
    using Clock = std::chrono::steady_clock;
    const auto limit = SilenceLimit(Session.Line().ReplyTimeout);
    auto lastEvent = Clock::now();
    for (;;) {
        if (Interrupted.load()) return false;
        const bool waiting = !PanelModel->Results()->IsEmpty();
        PanelModel->Tick();
        if (done()) return true;
        if (waiting) {
            lastEvent = Clock::now();
            continue;  // the next completion at once, one per tick
        }
        Session.Drain();  // prints the frames traced so far
        if (PanelModel->Outstanding() > 0 && Clock::now() - lastEvent > limit) return false;
        // The panel's 10 ms timer, cut short by a completion.
        std::unique_lock lock(Signal->Lock);
        Signal->Arrived.wait_for(lock, std::chrono::milliseconds(kRefreshTimerMs),
                                 [this] { return Signal->Pending; });
        Signal->Pending = false;
    }
}

bool TPanelCycle::Run() {
    const uint64_t next = PanelModel->CompletedCycles() + 1;
    const bool finished = RunUntil([&] { return PanelModel->CompletedCycles() >= next; });
    return finished && PanelModel->LastPollOk();
}

bool TPanelCycle::FetchAlarms() {
    // The journal alone: no poll cycle meanwhile.
    PanelModel->SetPolling(false);
    PanelModel->ReadAlarmJournal();
    const bool finished = RunUntil([&] { return PanelModel->Outstanding() == 0; });
    PanelModel->SetPolling(true);
    return finished && !PanelModel->AlarmFetchFailed();
}

bool TPanelCycle::Restore(const TSetpointFile& file, std::string& refusal) {
    PanelModel->SetPolling(false);
    const bool started = PanelModel->RestoreFromFile(file);
    if (!started) {
        for (const TPanelMessage& m : PanelModel->TakeMessages())
            refusal += (refusal.empty() ? "" : " ") + m.Text;
        PanelModel->SetPolling(true);
        return false;
    }
    const bool finished = RunUntil([&] { return !PanelModel->RestoreRunning(); });
    PanelModel->TakeMessages();  // the report is the caller's to print
    PanelModel->SetPolling(true);
    return finished;
}

}  // namespace tovik::cli
