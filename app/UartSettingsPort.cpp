#include "app/UartSettingsPort.h"

#include "app/CRC.h"
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
    uint8_t bus = 0;
    uint8_t field[kMaxPortNameLength + 1];
    if (!stream.ReadU8(bus) || !stream.ReadExact(field, sizeof field)) return false;
    Bus = bus != 0;
    const auto name = DecodeTextField(field, sizeof field);
    if (!name || !SetPortName(*name)) return false;
    int32_t timeout = 0, interval = 0;
    if (!stream.ReadI32(timeout) || !stream.ReadI32(interval)) return false;
    ReplyTimeout = timeout;
    RequestInterval = interval;
    return true;
}

bool TUartSettingsPort::SaveSettings(TStream& stream) {
    const auto field = EncodeTextField(Name, kMaxPortNameLength + 1);
    if (!field) return false;
    return stream.WriteI32(Kind) && stream.WriteU8(Bus.load() ? 1 : 0) &&
           stream.WriteExact(field->data(), static_cast<int32_t>(field->size())) &&
           stream.WriteI32(ReplyTimeout.load()) && stream.WriteI32(RequestInterval.load());
}

void RegisterUartSettingsPortClass() {
    RegisterPortClass(TProtoUART::KindCode, [](std::shared_ptr<TRequestStats> stats) {
        return std::make_unique<TUartSettingsPort>(std::move(stats));
    });
}

}  // namespace tovik
