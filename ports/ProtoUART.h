#pragma once
// The serial port: a POSIX serial line (TUartPort) and the protocol port
// that runs over it (TProtoUART).
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/Cp1251.h"
#include "ports/ProtoPort.h"

namespace tovik {

// Longest port name the settings record can hold.
inline constexpr size_t kMaxPortNameLength = 9;

enum class TPortNameCheck { Ok, Empty, TooLong, BadChar, NotSerial };

// Port names are relative to /dev ("ttyS0", "ttyUSB0", "pts/3"): at most
// nine Windows-1251 characters, and only characters that cannot leave /dev.
TPortNameCheck CheckPortName(const std::string& name);

// Bound on one synchronous write: a fixed part plus a per-byte part well
// above the 0.52 ms a byte takes at 19200 baud.
inline constexpr int kWriteTimeoutBaseMs = 100;
inline constexpr int kWriteTimeoutPerByteMs = 2;
// Longest wait of one read when nothing is buffered.
inline constexpr int kReadWaitMs = 10;

// The 23-byte settings record of a serial port: Kind (193), bus byte, the
// name in a zero-terminated 10-byte field, reply time-out, request interval.
struct TSerialPortRecord {
    bool Bus = false;
    std::string Name;  // UTF-8
    int32_t ReplyTimeout = 0;
    int32_t RequestInterval = 0;
    TFieldText NameRead;  // the name field as read
};
// Reads the record after its Kind field. Any name field loads (see
// TFieldText); one that CheckPortName refuses is simply never opened.
bool ReadSerialPortRecord(TStream& stream, TSerialPortRecord& record);
// Writes the whole record, Kind first. The name read is written back as it
// was; a new name that does not fit or cannot be encoded is refused, never
// stored truncated.
bool WriteSerialPortRecord(TStream& stream, const TSerialPortRecord& record);

class TUartPort {
public:
    TUartPort() = default;
    ~TUartPort() { Close(); }
    TUartPort(const TUartPort&) = delete;
    TUartPort& operator=(const TUartPort&) = delete;

    // Opens "/dev/" + Name exclusively, raw 8N1 at 19200 baud, both
    // directions purged. Does nothing when already open under this name.
    // A line marked for exclusive use by another program is busy, even for
    // root, who could open it anyway.
    void Open();
    // Lifts the exclusive-use mark before closing, so that the next user of
    // the line (a non-root one too) can open it; after a hang-up through a
    // fresh descriptor, where the system allows it.
    void Close();
    // Why the last Open failed (None after a successful one). Any thread.
    TOpenOutcome LastOpenError() const;
    bool IsOpen() const { return Handle.load(std::memory_order_acquire) >= 0; }
    // Returns the bytes written; stops at the write bound.
    int32_t Write(const void* buffer, int32_t count);
    // Returns at once with buffered bytes, or after at most kReadWaitMs.
    int32_t Read(void* buffer, int32_t count);
    void DiscardInput();

    std::string Name;
    std::string OpenedName;

private:
    void SetOpenError(TOpenError error, int systemError, long groupToJoin = -1);

    std::atomic<int> Handle{-1};
    mutable std::mutex ErrorLock;
    TOpenOutcome OpenError;
};

class TProtoUART : public TProtoPort {
public:
    static constexpr int32_t KindCode = 193;
    static constexpr int32_t RecordSize = 23;

    explicit TProtoUART(std::shared_ptr<TRequestStats> stats = nullptr);
    ~TProtoUART() override;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    void Open() override;
    void Close() override;
    bool IsOpen() const override;
    void DiscardInput() override;
    bool LoadSettings(TStream& stream) override;
    bool SaveSettings(TStream& stream) override;
    std::string LineName() const override;

    // Why the line could not be opened the last time it was tried (by any
    // thread); None while it is open.
    TOpenOutcome LastOpenError() const { return Uart->LastOpenError(); }

    // Closes the line, takes the new name and opens it. A name that fails
    // CheckPortName is refused and nothing changes.
    bool SetPortName(const std::string& name);

    // The name field as read from the configuration.
    TFieldText NameRead;

private:
    // Serialises the line between the worker and the user-interface thread
    // (a rename reopens it).
    mutable std::mutex LineLock;
    std::unique_ptr<TUartPort> Uart;
};

}  // namespace tovik
