#pragma once
// The device panel's session (panel/TovikPanel.h) on the client's line: the
// front end that turns a command line into the panel's intents, as the
// window turns clicks into them. Its tick runs here when the panel has
// something to do: at the next poll's deadline, or at once when a
// completion arrives. A poll cycle is the state poll and everything
// it starts (setpoints, task log and alarm journal reads included),
// exactly as the panel runs it.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "app/TovikDevice.h"
#include "app/UsersMod.h"
#include "panel/TovikPanel.h"
#include "tools/cli/CliSession.h"

namespace tovik::cli {

class TSessionDriver {
public:
    // The device takes the session's line, bus number and kind. The panel's
    // access level and account are those of the command (read-only for reads).
    TSessionDriver(TCliSession& session, TTovikDevice& device, const TLocaleFormat& locale,
                   uint8_t accessLevel = kReadOnlyAccess, const std::string& account = {});
    ~TSessionDriver();
    TSessionDriver(const TSessionDriver&) = delete;
    TSessionDriver& operator=(const TSessionDriver&) = delete;

    // Runs the panel until its next poll cycle is over; the next poll goes
    // out when the line's request interval has passed since the previous
    // one. False when the state poll failed or the wait was interrupted.
    bool Run();
    // What came of an intent: a sent one is waited for (no poll goes out
    // meanwhile) until its completion has run. Still Sent when the wait was
    // interrupted or nothing came far beyond every time-out.
    TIntentResult Await(const TIntentResult& intent);

    TTovikPanel& Panel() { return *Session; }
    const TTovikPanel& Panel() const { return *Session; }

private:
    // Ticks the panel until `done` holds; false when interrupted or when
    // nothing arrived far beyond every time-out the requests allow.
    template <class TDone>
    bool RunUntil(TDone done);

    struct TSignal {
        std::mutex Lock;
        std::condition_variable Arrived;
        bool Pending = false;
    };

    TCliSession& Line;
    std::shared_ptr<TSignal> Signal = std::make_shared<TSignal>();
    std::unique_ptr<TTovikPanel> Session;
};

}  // namespace tovik::cli
