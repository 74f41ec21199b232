#include "tools/cli/SessionDriver.h"

#include <chrono>

namespace tovik::cli {

TSessionDriver::TSessionDriver(TCliSession& session, TTovikDevice& device, const TLocaleFormat& locale,
                               uint8_t accessLevel, const std::string& account)
    : Line(session) {
    TProtoPort* line = session.LinePort();
    device.BusAddress = session.Line().Address;
    device.SetDeviceKind(session.Line().Kind);
    if (line) device.PortId = line->Id;

    TPanelEnvironment env;
    env.Line = line;
    env.AccessLevel = accessLevel;
    env.Account = account;
    env.Locale = locale;
    Session = std::make_unique<TTovikPanel>(std::move(env));
    Session->Link().Results()->SetNotifier([signal = Signal] {
        {
            std::lock_guard guard(signal->Lock);
            signal->Pending = true;
        }
        signal->Arrived.notify_one();
    });
    Session->AttachDevice(&device);
    Session->FillPortBox();
}

TSessionDriver::~TSessionDriver() {
    Session->Link().Results()->SetNotifier(nullptr);
}

template <class TDone>
bool TSessionDriver::RunUntil(TDone done) {
    using Clock = std::chrono::steady_clock;
    const auto limit = std::chrono::milliseconds(SilenceLimitMs(Line.Line().ReplyTimeout));
    auto lastEvent = Clock::now();
    for (;;) {
        if (Interrupted.load()) return false;
        const bool waiting = !Session->Link().Results()->IsEmpty();
        Session->Tick();
        if (done()) return true;
        if (waiting) {
            lastEvent = Clock::now();
            continue;  // the next completion at once, one per tick
        }
        Line.FlushTrace();
        if (Session->Link().Outstanding() > 0 && Clock::now() - lastEvent > limit) return false;
        // Asleep until the panel has something to do, or a completion cuts
        // the wait short; the silence limit and an interruption are looked
        // at after each wait.
        const uint32_t due = Session->NextTickInMs();
        std::unique_lock lock(Signal->Lock);
        Signal->Arrived.wait_for(lock, std::chrono::milliseconds(due), [this] { return Signal->Pending; });
        Signal->Pending = false;
    }
}

bool TSessionDriver::Run() {
    const uint64_t next = Session->Poll().CompletedCycles() + 1;
    const bool finished = RunUntil([&] { return Session->Poll().CompletedCycles() >= next; });
    Line.FlushTrace();
    return finished && Session->Poll().LastPollOk();
}

TIntentResult TSessionDriver::Await(const TIntentResult& intent) {
    if (intent.State != TIntentState::Sent) return intent;
    Session->Poll().SetPolling(false);
    TIntentResult result = intent;
    RunUntil([&] {
        if (const TIntentResult* r = Session->Link().Result(intent.Id)) result = *r;
        return result.Finished();
    });
    Session->Poll().SetPolling(true);
    Line.FlushTrace();
    return result;
}

}  // namespace tovik::cli
