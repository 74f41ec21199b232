#pragma once
// What a device panel's session is given by its front end (the window or
// tovik-cli), and the few values every part of the session shares: the
// access level, the owner id of none, the timers, the items of the port box
// and the messages waiting for the front end.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/TovikDevice.h"
#include "protocol/Builders.h"
#include "protocol/Codecs.h"

namespace tovik {

class TProtoPort;
class TProtoPortList;

// The owner id of a panel that holds none on its port.
inline constexpr int32_t kNoOwner = 268435455;
inline constexpr uint32_t kEnPuskTimerMs = 1500;
// The longest a front end lets the session sleep with nothing due.
inline constexpr uint32_t kIdleTickMs = 250;
inline constexpr int32_t kPlaceholderPortId = -1;

// Access levels of an account: 0 service, 2 read-only, any other full.
enum class TPanelAccess { Service, Full, ReadOnly };
TPanelAccess PanelAccess(uint8_t Level);

struct TPanelEnvironment {
    TProtoPortList* Ports = nullptr;  // where the device's port is looked up; none: no port ever
    // Instead of a list, one line that is the only port there is (tovik-cli).
    TProtoPort* Line = nullptr;
    uint8_t AccessLevel = 2;  // the logged-in account's level; fixed for the panel
    TLocaleFormat Locale;
    // The PC's local date and time; empty: the system's.
    std::function<TLocalTime()> LocalTime;
    // The device's installation name changed: its item in the device list
    // gets the new text.
    std::function<void(TDevice&)> DeviceRenamed;
    // The logged-in account's name, for setpoint files and reports.
    std::string Account;
    // The current trend's wall clock (ms since 1970); empty: the system's.
    std::function<int64_t()> WallClockMs;

    TLocalTime LocalNow() const { return LocalTime ? LocalTime() : LocalTimeNow(); }
};

// One item of the port box: its text and the Id of the port it stands for
// ("Нет" stands for the placeholder port, Id -1, which is never in the list).
struct TPortBoxItem {
    std::string Text;
    int32_t PortId = kPlaceholderPortId;
};

// A message box for the front end to show, with its exact text: what came
// of a request after its intent had been sent (a task command that failed,
// the report of a restore).
struct TPanelMessage {
    std::string Text;
    bool Error = true;  // false: a plain box
};

// The messages waiting for the front end, oldest first.
class TPanelMessages {
public:
    void Add(std::string Text, bool Error = true) {
        List.push_back({std::move(Text), Error});
        ++Rev;
    }
    // Taking them empties the list.
    std::vector<TPanelMessage> Take() {
        std::vector<TPanelMessage> out;
        out.swap(List);
        return out;
    }
    bool Empty() const { return List.empty(); }
    uint32_t Revision() const { return Rev; }

private:
    std::vector<TPanelMessage> List;
    uint32_t Rev = 0;
};

}  // namespace tovik
