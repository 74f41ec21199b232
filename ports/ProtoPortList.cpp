#include "ports/ProtoPortList.h"

namespace tovik {

namespace {
TKindRegistry<TPortConstructor>& Registry() {
    static TKindRegistry<TPortConstructor> registry;
    return registry;
}
}  // namespace

void RegisterPortClass(int32_t code, TPortConstructor constructor) {
    Registry().Register(code, std::move(constructor));
}

const TKindRegistry<TPortConstructor>& PortClassRegistry() {
    return Registry();
}

TProtoPortList::TProtoPortList(std::shared_ptr<TRequestStats> stats)
    : StatsRef(stats ? std::move(stats) : std::make_shared<TRequestStats>()) {}

TProtoPortList::~TProtoPortList() {
    Clear();
}

int TProtoPortList::Add(std::unique_ptr<TProtoPort> port) {
    Ports.push_back(std::move(port));
    return static_cast<int>(Ports.size()) - 1;
}

void TProtoPortList::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    auto port = std::move(Ports[static_cast<size_t>(index)]);
    Ports.erase(Ports.begin() + index);
    port.reset();
}

void TProtoPortList::Clear() {
    while (!Ports.empty()) Delete(0);
}

TProtoPort* TProtoPortList::Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return Ports[static_cast<size_t>(index)].get();
}

int TProtoPortList::IndexOf(const TProtoPort* port) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (Ports[static_cast<size_t>(i)].get() == port) return i;
    return -1;
}

TProtoPort* TProtoPortList::FindById(int32_t id) const {
    for (auto it = Ports.rbegin(); it != Ports.rend(); ++it)
        if ((*it)->Id == id) return it->get();
    return nullptr;
}

bool TProtoPortList::LoadFromStream(TMemoryStream& stream) {
    TCRCStream section;
    if (!ReadSection(section, stream)) return false;
    int32_t count = 0;
    if (!section.ReadI32(count)) return false;
    std::vector<std::unique_ptr<TProtoPort>> loaded;
    while (count > 0) {
        --count;
        int32_t kind = 0;
        if (!section.ReadI32(kind)) return false;
        const TPortConstructor* make = PortClassRegistry().Find(kind);
        if (!make) return false;
        auto port = (*make)(StatsRef);
        if (!port || !port->LoadSettings(section)) return false;
        loaded.push_back(std::move(port));
    }
    for (auto& port : loaded) {
        if (PortsLoadedHandler)
            PortsLoadedHandler(std::move(port));
        else
            Add(std::move(port));
    }
    return true;
}

bool TProtoPortList::SaveToStream(TStream& stream) const {
    TCRCStream section;
    if (!section.WriteI32(static_cast<int32_t>(Ports.size()))) return false;
    for (const auto& port : Ports)
        if (!port->SaveSettings(section)) return false;
    return WriteSection(section, stream);
}

void TProtoPortList::StopAll() {
    for (auto& port : Ports) port->StopWorker();
}

}  // namespace tovik
