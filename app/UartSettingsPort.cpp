#include "app/UartSettingsPort.h"

#include "ports/ProtoPortList.h"
#include "ports/ProtoUART.h"

namespace tovik {

TUartSettingsPort::TUartSettingsPort(std::shared_ptr<TRequestStats> stats) : TProtoPort(std::move(stats)) {
    Kind = TProtoUART::KindCode;
}

TUartSettingsPort::~TUartSettingsPort() {
    StopWorker();
}

bool TUartSettingsPort::SetPortName(const std::string& name) {
    if (CheckPortName(name) != TPortNameCheck::Ok) return false;
    Name = name;
    Id = NameId(name);
    return true;
}

bool TUartSettingsPort::LoadSettings(TStream& stream) {
    TSerialPortRecord record;
    if (!ReadSerialPortRecord(stream, record)) return false;
    // Like the serial port, it keeps a name no line can have.
    Name = record.Name;
    Id = NameId(record.NameRead.Bytes);
    NameRead = std::move(record.NameRead);
    Bus = record.Bus;
    ReplyTimeout = record.ReplyTimeout;
    RequestInterval = record.RequestInterval;
    return true;
}

bool TUartSettingsPort::SaveSettings(TStream& stream) {
    return WriteSerialPortRecord(stream,
                                 {Bus.load(), Name, ReplyTimeout.load(), RequestInterval.load(), NameRead});
}

void RegisterUartSettingsPortClass() {
    RegisterPortClass(TProtoUART::KindCode, [](std::shared_ptr<TRequestStats> stats) {
        return std::make_unique<TUartSettingsPort>(std::move(stats));
    });
}

}  // namespace tovik
