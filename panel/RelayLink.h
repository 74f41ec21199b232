#pragma once
// The way from the panel to its relay: the device's port among the
// environment's ports, the panel's owner ids on the ports, its result list,
// and the queuing of a request with the device's bus number and kind. Every
// request of the session goes out here, and every completion comes back
// through the result list; a request that carries out an intent keeps what
// came of it under the intent's id.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/TovikDevice.h"
#include "panel/Intent.h"
#include "panel/PanelEnvironment.h"
#include "ports/ProtoPort.h"

namespace tovik {

// Why a device cannot be addressed (none, an unknown kind, a bus number
// outside 1..250), empty when it can.
std::string AddressProblem(const TTovikDevice* Device);

class TRelayLink {
public:
    explicit TRelayLink(const TPanelEnvironment& Environment);
    // Every owner id this link registered is released on the ports that
    // still exist (a port that went away took its registrations with it).
    ~TRelayLink();
    TRelayLink(const TRelayLink&) = delete;
    TRelayLink& operator=(const TRelayLink&) = delete;

    void Bind(TTovikDevice* Device) { Dev = Device; }
    TTovikDevice* Device() const { return Dev; }

    // The device's port among the environment's ports; none without a
    // device or when no port has its Id.
    TProtoPort* DevicePort() const;
    TProtoPort* FindPort(int32_t Id) const;
    // The ports the environment has, as the port box lists them after "Нет".
    std::vector<TPortBoxItem> ListedPorts() const;
    bool PortStillListed(const TProtoPort* Port) const;
    // Why the bound device cannot be addressed, empty when it can.
    std::string AddressProblem() const { return tovik::AddressProblem(Dev); }
    // A device, its port, and an address its relay can have.
    bool Reachable() const { return Dev && DevicePort() && AddressProblem().empty(); }

    int32_t OwnerId() const { return Owner; }
    // A fresh owner id on the port unless the link holds one there (a port
    // that went away and came back, or was replaced under the same Id).
    void EnsureOwner(TProtoPort& Port);
    // A new owner id on a port the operator chose; the one held before
    // stays registered, so that the jobs queued under it still complete.
    void RegisterOn(TProtoPort& Port);
    // The device's port is gone: no owner id.
    void DropOwner();

    const std::shared_ptr<TResultEventsList>& Results() const { return ResultList; }
    // Requests queued whose completion has not run yet.
    int Outstanding() const { return OutstandingCount; }

    // Queues a request on the device's port with its bus number, its kind,
    // the owner id and the result list; false when nothing was queued (no
    // port, or an address the relay cannot have).
    template <class TBuilder, class... TArgs>
    bool Send(TBuilder Builder, TResultHandler OnResult, TArgs&&... Args);

    // Queues the request of an intent: Sent with the intent's id, or
    // refused (no connection) when it could not be queued. Once its
    // completion runs the intent is Done, or Failed with the request's
    // outcome; `Then` runs after that.
    template <class TBuilder, class... TArgs>
    TIntentResult Command(TBuilder Builder, TResultHandler Then, TArgs&&... Args);

    // What came of a sent intent, while it is remembered (the latest 64).
    const TIntentResult* Result(TIntentId Id) const;

private:
    TResultHandler Counted(TResultHandler OnResult);
    TIntentId Open();
    void Finish(TIntentId Id, const TOutcome& Outcome);

    const TPanelEnvironment& Env;
    TTovikDevice* Dev = nullptr;
    int32_t Owner = 0;
    // The port the owner id is on, and every registration (released at the end).
    TProtoPort* OwnerPort = nullptr;
    std::vector<std::pair<TProtoPort*, int32_t>> Registrations;
    std::shared_ptr<TResultEventsList> ResultList;
    int OutstandingCount = 0;
    TIntentId LastIntent = 0;
    std::map<TIntentId, TIntentResult> Intents;
};

template <class TBuilder, class... TArgs>
bool TRelayLink::Send(TBuilder Builder, TResultHandler OnResult, TArgs&&... Args) {
    TProtoPort* port = DevicePort();
    // Nothing ever goes to an unknown kind or an address outside 1..250.
    if (!port || !AddressProblem().empty()) return false;
    EnsureOwner(*port);
    const bool sent = Builder(*port, Dev->BusAddress, Owner, Dev->GetDeviceKind(), ResultList,
                              Counted(std::move(OnResult)), std::forward<TArgs>(Args)...);
    if (!sent) --OutstandingCount;
    return sent;
}

template <class TBuilder, class... TArgs>
TIntentResult TRelayLink::Command(TBuilder Builder, TResultHandler Then, TArgs&&... Args) {
    const TIntentId id = Open();
    TResultHandler finish = [this, id, then = std::move(Then)](const TReply& reply) {
        Finish(id, reply.Outcome);
        if (then) then(reply);
    };
    if (!Send(Builder, std::move(finish), std::forward<TArgs>(Args)...)) {
        Intents.erase(id);
        return IntentRefused(TRefusalReason::NoConnection);
    }
    return Intents[id];
}

}  // namespace tovik
