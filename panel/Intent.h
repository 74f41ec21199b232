#pragma once
// What an operator asks of the panel (an intent: start, write this setpoint
// text, add a task, ...) and what came of it, as a value: done, sent (its
// request is on the line), refused and why, or sent and failed and how the
// request ended. Front ends turn clicks, keys and command lines into intents
// and show what came of them; the rules that decide live in the session.
#include <cstdint>
#include <optional>
#include <string>

#include "panel/PanelEnvironment.h"
#include "ports/Request.h"

namespace tovik {

// The operator's intents that the access level decides on.
enum class TIntent : uint8_t {
    Start,
    Stop,
    ResetCounters,
    SyncClock,
    Automation,
    Rename,
    ChoosePort,
    ChooseBus,
    WriteSetpoint,
    RestoreSetpoints,
    EditTask,
    AddTask,
    DeleteTask,
    ClearTasks,
    ClearAlarms,
    SaveAlarms,
    ExportAlarms,
    Calibrate,
};

enum class TRefusalReason : uint8_t {
    None,
    ReadOnly,       // the account only watches
    ServiceOnly,    // the service level only (setpoint items 19 to 21, calibration)
    NoConnection,   // no device, no port, or an address the relay cannot have
    NotNow,         // not available now: the relay not known to answer, a read or restore
                    // under way, the 1500 ms after a start, a calibration run started
    NothingToDo,    // nothing to act on (an empty task log to clear)
    NotReadYet,     // the relay's setpoints (or task log) have not been read
    BadInput,       // text that is not a value, a name the record cannot hold, no phase chosen
    NoRoom,         // the task log is full
    NoSelection,    // no task, no setpoint item at that place
    OtherKind,      // a setpoint file of another device kind
    NotOnThisKind,  // the relay's kind has no such command
};

enum class TIntentState : uint8_t {
    Done,     // carried out; nothing waits on the relay
    Sent,     // its request is queued; Result(Id) says what came of it
    Refused,  // nothing was done; Reason says why
    Failed,   // sent and failed (Outcome), or a file that could not be written or read
};

using TIntentId = uint64_t;

struct TIntentResult {
    TIntentState State = TIntentState::Done;
    TRefusalReason Reason = TRefusalReason::None;
    // What the operator is told, exactly; empty: nothing.
    std::string Text;
    // Wrong input: a plain message box rather than an error box.
    bool Plain = false;
    // How the request of a sent intent ended (Failed: why).
    TOutcome Outcome;
    // Of a sent intent: its result can be asked for while it is remembered.
    TIntentId Id = 0;

    bool Refused() const { return State == TIntentState::Refused; }
    bool Finished() const { return State != TIntentState::Sent; }
};

inline TIntentResult IntentDone() {
    return {};
}
inline TIntentResult IntentRefused(TRefusalReason Reason, std::string Text = {}, bool Plain = false) {
    TIntentResult r;
    r.State = TIntentState::Refused;
    r.Reason = Reason;
    r.Text = std::move(Text);
    r.Plain = Plain;
    return r;
}
inline TIntentResult IntentFailed(std::string Text, bool Plain = false) {
    TIntentResult r;
    r.State = TIntentState::Failed;
    r.Text = std::move(Text);
    r.Plain = Plain;
    return r;
}

// How a request ended, in the operator's words (protocol/Outcome.h), with
// the port named when its line is closed or gone: "порт ttyUSB0 недоступен:
// устройство отключено (Input/output error)".
std::string ReasonText(const TOutcome& Outcome, const std::string& PortName);
// A fixed message and, on a line of its own below it, how the request
// ended, as a port that did not open says why.
std::string MessageWithReason(const std::string& Message, const TOutcome& Outcome);

// Why a read the panel shows is unavailable: how its request ended, or that
// the relay answered with less than the read takes.
TOutcome ReadOutcome(const TReply& Reply, size_t Need);

// The access rule: why an account of this level may not do it, none when
// it may. `Item` is the setpoint item of a write.
std::optional<TIntentResult> AccessRefusal(TPanelAccess Access, TIntent Intent, int Item = -1);

}  // namespace tovik
