// The serial port's rules of every platform: port names, the reasons of a
// line that cannot be used, a line that goes and comes back, the protocol
// port over the line and its settings record. The system's side of the line
// is in UartPosix.cpp and UartWin32.cpp.
#include "ports/ProtoUART.h"

#include <chrono>
#include <thread>

#include "base/Clock.h"
#include "base/Cp1251.h"
#include "base/Files.h"

namespace tovik {

TPortNameCheck CheckPortName(const std::string& name) {
    if (name.empty()) return TPortNameCheck::Empty;
    const auto encoded = Utf8ToCp1251(name);
    if (!encoded) return TPortNameCheck::BadChar;
    if (encoded->size() > kMaxPortNameLength) return TPortNameCheck::TooLong;
    return CheckSystemPortName(name);
}

std::string OpenErrorText(const TOpenOutcome& Outcome) {
    std::string text;
    switch (Outcome.Error) {
        case TOpenError::None:
            return "";
        case TOpenError::NameRefused:
            text = "недопустимое имя порта";
            break;
        case TOpenError::NoSuchDevice:
            text = "нет такого устройства";
            break;
        case TOpenError::PermissionDenied:
            text = "нет прав доступа";
            break;
        case TOpenError::Busy:
            text = "порт занят другой программой";
            break;
        case TOpenError::NotSerial:
            text = "не последовательный порт";
            break;
        case TOpenError::Gone:
            text = "устройство отключено";
            break;
        case TOpenError::Failed:
            text = "ошибка открытия";
            break;
    }
    if (Outcome.SystemError != 0) text += " (" + SystemErrorText(Outcome.SystemError) + ")";
    if (const std::string advice = OpenErrorAdvice(Outcome); !advice.empty()) text += "\n" + advice;
    return text;
}

// ---- TUartPort ----

TOpenOutcome TUartPort::LastOpenError() const {
    std::lock_guard lock(ErrorLock);
    return OpenError;
}

void TUartPort::SetOpenError(TOpenError error, int systemError, long groupToJoin) {
    std::lock_guard lock(ErrorLock);
    if (error == TOpenError::None) Lost = false;
    // A line that went away and still finds no device is still gone.
    if (Lost && error == TOpenError::NoSuchDevice) error = TOpenError::Gone;
    OpenError = {error, systemError, groupToJoin};
}

void TUartPort::Open() {
    if (IsOpen() && Name == OpenedName) return;
    Close();
    if (Name != OpenedName) {
        std::lock_guard lock(ErrorLock);
        Lost = false;  // another line: whatever went away was not this one
    }
    switch (CheckPortName(Name)) {
        case TPortNameCheck::Ok:
            break;
        case TPortNameCheck::NotSerial:
            return SetOpenError(TOpenError::NotSerial, 0);
        default:
            return SetOpenError(TOpenError::NameRefused, 0);
    }
    if (!OpenDevice(Folder + Name)) return;  // with its reason
    OpenedName = Name;
    SetOpenError(TOpenError::None, 0);
}

void TUartPort::Lose(int systemError) {
    {
        std::lock_guard lock(ErrorLock);
        Lost = true;
        OpenError = {TOpenError::Gone, systemError};
    }
    Close();
}

// ---- TProtoUART ----

TProtoUART::TProtoUART(std::shared_ptr<TRequestStats> stats)
    : TProtoPort(std::move(stats)), Uart(std::make_unique<TUartPort>()) {
    Kind = KindCode;
}

TProtoUART::~TProtoUART() {
    StopWorker();  // the worker may be using Uart
}

void TProtoUART::NoteTry() {
    Tried = true;
    TriedAtMs = timeGetTime();
}

bool TProtoUART::EnsureOpen() {
    if (Uart->IsOpen()) return true;
    if (Tried && ElapsedMs(TriedAtMs, timeGetTime()) < kReopenIntervalMs) return false;
    NoteTry();
    Uart->Open();
    return Uart->IsOpen();
}

int32_t TProtoUART::Read(void* buffer, int32_t count) {
    {
        std::lock_guard lock(LineLock);
        if (EnsureOpen()) {
            const int32_t n = Uart->Read(buffer, count);
            if (!Uart->IsOpen()) NoteTry();  // it went away: the next try in a while
            return n;
        }
    }
    // A line that cannot be opened still paces the receive loops.
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadWaitMs));
    return 0;
}

int32_t TProtoUART::Write(const void* buffer, int32_t count) {
    std::lock_guard lock(LineLock);
    if (!EnsureOpen()) return 0;
    const int32_t n = Uart->Write(buffer, count);
    if (!Uart->IsOpen()) NoteTry();
    return n;
}

void TProtoUART::Open() {
    std::lock_guard lock(LineLock);
    NoteTry();
    Uart->Open();
}

void TProtoUART::Close() {
    std::lock_guard lock(LineLock);
    Uart->Close();
}

bool TProtoUART::IsOpen() const {
    return Uart->IsOpen();
}

std::string TProtoUART::LineName() const {
    std::lock_guard lock(LineLock);
    return Name;
}

void TProtoUART::DiscardInput() {
    std::lock_guard lock(LineLock);
    Uart->DiscardInput();
}

bool TProtoUART::SetPortName(const std::string& name) {
    if (CheckPortName(name) != TPortNameCheck::Ok) return false;
    std::lock_guard lock(LineLock);
    Uart->Close();
    Uart->Name = name;
    Name = name;
    Id = NameId(name);
    NoteTry();
    Uart->Open();
    return true;
}

void TProtoUART::SetDeviceFolder(const std::string& folder) {
    std::lock_guard lock(LineLock);
    Uart->Folder = folder;
}

bool ReadSerialPortRecord(TStream& stream, TSerialPortRecord& record) {
    uint8_t bus = 0;
    uint8_t field[kMaxPortNameLength + 1];
    int32_t timeout = 0, interval = 0;
    if (!stream.ReadU8(bus) || !stream.ReadExact(field, sizeof field) || !stream.ReadI32(timeout) ||
        !stream.ReadI32(interval))
        return false;
    TFieldText name = ReadFieldText(field, sizeof field);
    record = {bus != 0, name.Text, timeout, interval, std::move(name)};
    return true;
}

bool WriteSerialPortRecord(TStream& stream, const TSerialPortRecord& record) {
    const auto field = WriteFieldText(record.Name, record.NameRead, kMaxPortNameLength + 1);
    if (!field) return false;
    return stream.WriteI32(TProtoUART::KindCode) && stream.WriteU8(record.Bus ? 1 : 0) &&
           stream.WriteExact(field->data(), static_cast<int32_t>(field->size())) &&
           stream.WriteI32(record.ReplyTimeout) && stream.WriteI32(record.RequestInterval);
}

bool TProtoUART::SaveSettings(TStream& stream) {
    return WriteSerialPortRecord(stream,
                                 {Bus.load(), Name, ReplyTimeout.load(), RequestInterval.load(), NameRead});
}

bool TProtoUART::LoadSettings(TStream& stream) {
    TSerialPortRecord record;
    if (!ReadSerialPortRecord(stream, record)) return false;
    if (!SetPortName(record.Name)) {
        // A name no line here can have still loads: the port keeps it and
        // stays closed, since the line refuses to open such a name.
        std::lock_guard lock(LineLock);
        Uart->Close();
        Uart->Name = record.Name;
        Name = record.Name;
    }
    Id = NameId(record.NameRead.Bytes);  // the identity of the name's bytes in the file
    NameRead = std::move(record.NameRead);
    Bus = record.Bus;
    ReplyTimeout = record.ReplyTimeout;
    RequestInterval = record.RequestInterval;
    return true;
}

}  // namespace tovik
