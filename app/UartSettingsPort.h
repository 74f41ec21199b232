#pragma once
// A serial port record without its line: the port class that tools register
// for code 193 so that reading or writing a configuration never opens (and
// reconfigures) the machine's serial lines. Its record is byte for byte the
// serial port's.
#include <memory>
#include <string>

#include "base/Cp1251.h"
#include "ports/ProtoPort.h"

namespace tovik {

class TUartSettingsPort : public TProtoPort {
public:
    explicit TUartSettingsPort(std::shared_ptr<TRequestStats> stats = nullptr);
    ~TUartSettingsPort() override;

    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t) override { return 0; }
    void Open() override {}
    void Close() override {}
    bool IsOpen() const override { return false; }
    void DiscardInput() override {}
    bool LoadSettings(TStream& stream) override;
    bool SaveSettings(TStream& stream) override;

    // Takes the name (and its Id) when the serial port would accept it.
    bool SetPortName(const std::string& name);

    // The name field as read from the configuration.
    TFieldText NameRead;
};

// Registers TUartSettingsPort for code 193, over the serial port.
void RegisterUartSettingsPortClass();

}  // namespace tovik
