#include "panel/RelayLink.h"

#include "panel/PanelControls.h"
#include "ports/ProtoPortList.h"

namespace tovik {

namespace {
// Intents whose result is kept for the front end to ask for.
constexpr size_t kRememberedIntents = 64;
}  // namespace

TRelayLink::TRelayLink(const TPanelEnvironment& Environment)
    : Env(Environment), ResultList(std::make_shared<TResultEventsList>()) {}

TRelayLink::~TRelayLink() {
    for (const auto& [port, id] : Registrations)
        if (PortStillListed(port)) port->UnregisterOwner(id);
}

TProtoPort* TRelayLink::FindPort(int32_t Id) const {
    if (Env.Line) return Env.Line->Id == Id ? Env.Line : nullptr;
    return Env.Ports ? Env.Ports->FindById(Id) : nullptr;
}

TProtoPort* TRelayLink::DevicePort() const {
    return Dev ? FindPort(Dev->PortId) : nullptr;
}

std::vector<TPortBoxItem> TRelayLink::ListedPorts() const {
    std::vector<TPortBoxItem> out;
    if (Env.Line) {
        out.push_back({Env.Line->Name, Env.Line->Id});
        return out;
    }
    if (Env.Ports)
        for (int i = 0; i < Env.Ports->Count(); ++i)
            if (const TProtoPort* port = Env.Ports->Items(i)) out.push_back({port->Name, port->Id});
    return out;
}

bool TRelayLink::PortStillListed(const TProtoPort* Port) const {
    if (!Port) return false;
    if (Env.Line) return Port == Env.Line;
    return Env.Ports && Env.Ports->IndexOf(Port) >= 0;
}

std::string AddressProblem(const TTovikDevice* Dev) {
    if (!Dev) return kMsgNoConnection;
    if (!Dev->HasKnownKind())
        return "Неизвестный тип устройства (" + std::to_string(Dev->GetDeviceKind()) + ").";
    if (!IsValidBusAddress(Dev->BusAddress))
        return "Недопустимый номер в магистрали (" + std::to_string(Dev->BusAddress) +
               "): выберите номер от 1 до 250.";
    return {};
}

void TRelayLink::EnsureOwner(TProtoPort& Port) {
    if (OwnerPort == &Port && Port.IsOwnerRegistered(Owner)) return;
    RegisterOn(Port);
}

void TRelayLink::RegisterOn(TProtoPort& Port) {
    Owner = Port.RegisterOwner();
    OwnerPort = &Port;
    Registrations.emplace_back(&Port, Owner);
}

void TRelayLink::DropOwner() {
    Owner = kNoOwner;
    OwnerPort = nullptr;
}

TResultHandler TRelayLink::Counted(TResultHandler OnResult) {
    ++OutstandingCount;
    return [this, handler = std::move(OnResult)](const TReply& reply) {
        --OutstandingCount;
        if (handler) handler(reply);
    };
}

TIntentId TRelayLink::Open() {
    const TIntentId id = ++LastIntent;
    TIntentResult& r = Intents[id];
    r.State = TIntentState::Sent;
    r.Id = id;
    while (Intents.size() > kRememberedIntents) Intents.erase(Intents.begin());
    return id;
}

void TRelayLink::Finish(TIntentId Id, const TOutcome& Outcome) {
    const auto it = Intents.find(Id);
    if (it == Intents.end()) return;
    it->second.State = Outcome.Ok() ? TIntentState::Done : TIntentState::Failed;
    it->second.Outcome = Outcome;
}

const TIntentResult* TRelayLink::Result(TIntentId Id) const {
    const auto it = Intents.find(Id);
    return it == Intents.end() ? nullptr : &it->second;
}

}  // namespace tovik
