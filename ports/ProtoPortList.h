#pragma once
// The program's list of protocol ports, the registry of port classes that
// rebuilds ports from their records, and the ports section of the
// configuration body.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/CRC.h"
#include "ports/ProtoPort.h"

namespace tovik {

// Makes a new port of one class. Every port of the program shares the
// request statistics it is given.
using TPortConstructor = std::function<std::unique_ptr<TProtoPort>(std::shared_ptr<TRequestStats>)>;

// Appends a class to the program's registry (the later of two entries with
// one code wins). Filled at start-up, before any configuration is read.
void RegisterPortClass(int32_t code, TPortConstructor constructor);
const TKindRegistry<TPortConstructor>& PortClassRegistry();

// Takes one loaded port.
using TPortsLoadedHandler = std::function<void(std::unique_ptr<TProtoPort>)>;

class TProtoPortList {
public:
    explicit TProtoPortList(std::shared_ptr<TRequestStats> stats = nullptr);
    ~TProtoPortList();
    TProtoPortList(const TProtoPortList&) = delete;
    TProtoPortList& operator=(const TProtoPortList&) = delete;

    int Add(std::unique_ptr<TProtoPort> port);
    // Destroys the port (its worker stops) and removes it.
    void Delete(int index);
    void Clear();
    TProtoPort* Items(int index) const;
    int Count() const { return static_cast<int>(Ports.size()); }
    int IndexOf(const TProtoPort* port) const;

    // The last port with this Id, or null.
    TProtoPort* FindById(int32_t id) const;
    bool ContainsId(int32_t id) const { return FindById(id) != nullptr; }

    // Reads the ports section. Only when every record was read are the ports
    // handed, in record order, to PortsLoadedHandler (or appended to this
    // list when no handler is set); after a failure none is kept.
    bool LoadFromStream(TMemoryStream& stream);
    // Writes the ports section; nothing is written when a record fails.
    bool SaveToStream(TStream& stream) const;

    // Stops every port's worker, in list order.
    void StopAll();

    const std::shared_ptr<TRequestStats>& Stats() const { return StatsRef; }

    TPortsLoadedHandler PortsLoadedHandler;

private:
    std::shared_ptr<TRequestStats> StatsRef;
    std::vector<std::unique_ptr<TProtoPort>> Ports;
};

}  // namespace tovik
