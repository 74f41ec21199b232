#pragma once
// The serial port: the serial line (TUartPort) and the protocol port that
// runs over it (TProtoUART). The line's rules, its timing and the engine
// above it are the same everywhere; what the system is asked is chosen by
// CMake: termios on POSIX systems (UartPosix.cpp), the communications
// functions of Win32 (UartWin32.cpp). Nothing here names a platform.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/Cp1251.h"
#include "ports/ProtoPort.h"

namespace tovik {

// Longest port name the settings record can hold.
inline constexpr size_t kMaxPortNameLength = 9;

enum class TPortNameCheck { Ok, Empty, TooLong, BadChar, NotSerial };

// Port names are relative to the system's folder of devices: /dev
// ("ttyS0", "ttyUSB0", "pts/3"), or Windows' "\\.\" ("COM3", "COM12"). At
// most nine Windows-1251 characters, and only characters that cannot leave
// that folder; names of terminals that are never serial lines are refused.
TPortNameCheck CheckPortName(const std::string& name);

// Bound on one synchronous write: a fixed part plus a per-byte part well
// above the 0.52 ms a byte takes at 19200 baud.
inline constexpr int kWriteTimeoutBaseMs = 100;
inline constexpr int kWriteTimeoutPerByteMs = 2;
inline constexpr uint32_t WriteBoundMs(int32_t count) {
    return static_cast<uint32_t>(kWriteTimeoutBaseMs + kWriteTimeoutPerByteMs * std::max(count, 0));
}
// Longest wait of one read when nothing is buffered.
inline constexpr int kReadWaitMs = 10;

// One byte on the line at 19200 baud, 8N1: ten bits.
inline constexpr int64_t kByteTimeUs = 10'000'000 / 19200;
// A reply arrives byte by byte, and waking for each costs a context switch
// per byte. Once the first bytes are here (`available` of the `count` a read
// asks for), the rest is given the time the line needs to bring it, never
// longer than one read wait, so that one read takes them all.
inline constexpr int64_t MissingBytesWaitUs(int64_t available, int32_t count) {
    if (count <= 1 || available >= count) return 0;
    const int64_t missing = count - std::max<int64_t>(available, 0);
    return std::min<int64_t>(missing * kByteTimeUs, int64_t{kReadWaitMs} * 1000);
}

// ---- the system's part (UartPosix.cpp, UartWin32.cpp) ----

// The folder port names are relative to, with its final separator: "/dev/",
// or "\\.\" on Windows.
std::string DefaultDeviceFolder();
// The platform's rules for a name that passed the common ones (not empty,
// not too long, Windows-1251).
TPortNameCheck CheckSystemPortName(const std::string& name);
// What the operator can do about the reason, as a further line of
// OpenErrorText; empty when there is nothing to add.
std::string OpenErrorAdvice(const TOpenOutcome& outcome);

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

    // Opens Folder + Name exclusively, raw 8N1 at 19200 baud, both
    // directions purged. Does nothing when already open under this name.
    // A line marked for exclusive use by another program is busy, even for
    // root, who could open it anyway (POSIX: flock and TIOCEXCL; Windows
    // opens a port for one user only).
    void Open();
    // POSIX systems: lifts the exclusive-use mark before closing, so that
    // the next user of the line (a non-root one too) can open it; after a
    // hang-up through a fresh descriptor, where the system allows it.
    void Close();
    // Why the last Open failed (None after a successful one). Any thread.
    TOpenOutcome LastOpenError() const;
    bool IsOpen() const { return Handle.load(std::memory_order_acquire) != -1; }
    // Returns the bytes written; stops at the write bound.
    int32_t Write(const void* buffer, int32_t count);
    // Returns at once with buffered bytes, or after at most kReadWaitMs
    // (then waits MissingBytesWaitUs for the rest of what it asks).
    int32_t Read(void* buffer, int32_t count);
    // Drops the input waiting (PurgeComm on Windows, before every request).
    void DiscardInput();

    // A write or read that finds the device gone (unplugged, hung up)
    // closes the line and keeps the reason (Gone, with the system's error);
    // until the line opens again, an open that finds no device says Gone
    // too, with its own error.

    std::string Name;
    std::string OpenedName;
    // The folder the names are relative to, with its final separator.
    std::string Folder = DefaultDeviceFolder();

private:
    // The system's part of Open: opens, sets up and purges the line at
    // `path` and takes its handle; false, with the reason kept, when it
    // cannot.
    bool OpenDevice(const std::string& path);
    void SetOpenError(TOpenError error, int systemError, long groupToJoin = -1);
    // The device went away: keep why, and close.
    void Lose(int systemError);

    // The system's handle: a descriptor, or a Win32 HANDLE; -1 when closed.
    std::atomic<intptr_t> Handle{-1};
    mutable std::mutex ErrorLock;
    TOpenOutcome OpenError;
    bool Lost = false;  // under ErrorLock: gone since it was last open
};

// A line that cannot be opened, or went away, is tried again by the
// transfers at most this often, so a program whose line is gone stays idle.
inline constexpr uint32_t kReopenIntervalMs = 1000;

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

    // Why the line could not be opened the last time it was tried, or why
    // it went away (by any thread); None while it is open.
    TOpenOutcome LastOpenError() const override { return Uart->LastOpenError(); }

    // Closes the line, takes the new name and opens it. A name that fails
    // CheckPortName is refused and nothing changes.
    bool SetPortName(const std::string& name);
    // The folder port names are relative to (DefaultDeviceFolder unless
    // set; tests use a folder of links). Takes effect with the next open.
    void SetDeviceFolder(const std::string& folder);

    // The name field as read from the configuration.
    TFieldText NameRead;

private:
    // The transfers' open: a closed line is tried again only when
    // kReopenIntervalMs have passed since the last try or since it went
    // away; the line comes back by itself. Under LineLock.
    bool EnsureOpen();
    // Notes a try (or a loss) now. Under LineLock.
    void NoteTry();

    // Serialises the line between the worker and the user-interface thread
    // (a rename reopens it).
    mutable std::mutex LineLock;
    std::unique_ptr<TUartPort> Uart;
    bool Tried = false;      // under LineLock
    uint32_t TriedAtMs = 0;  // under LineLock
};

}  // namespace tovik
