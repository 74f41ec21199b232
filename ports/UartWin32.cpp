// ports/ProtoUART.h on Windows: the serial line through the communications
// functions of Win32. The port is opened by its "\\.\COMn" name (the only
// form that reaches COM10 and above) for this program alone, set to 19200
// baud 8N1 with the time-outs below, and purged before every request; a
// failure keeps GetLastError as the POSIX line keeps errno.
#include <windows.h>

#include <chrono>
#include <thread>

#include "base/Cp1251.h"
#include "ports/ProtoUART.h"

namespace tovik {

std::string DefaultDeviceFolder() {
    return "\\\\.\\";
}

TPortNameCheck CheckSystemPortName(const std::string& name) {
    // The name follows "\\.\": no separator or drive letter leads out of the
    // device namespace into a file or a volume.
    for (unsigned char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '_' || c == '-' || c == '.';
        if (!ok) return TPortNameCheck::BadChar;
    }
    if (name.find("..") != std::string::npos || name.front() == '.') return TPortNameCheck::BadChar;
    // Devices that are never serial lines: the console, the null device,
    // printers.
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (upper == "CON" || upper == "NUL" || upper == "PRN") return TPortNameCheck::NotSerial;
    if (upper.size() == 4 && upper.compare(0, 3, "LPT") == 0 && upper[3] >= '0' && upper[3] <= '9')
        return TPortNameCheck::NotSerial;
    return TPortNameCheck::Ok;
}

std::string OpenErrorAdvice(const TOpenOutcome&) {
    return {};
}

namespace {

TOpenError OpenErrorOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_UNIT:
            return TOpenError::NoSuchDevice;
        // Windows refuses a port another program has open with "access
        // denied": busy, not a matter of rights.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return TOpenError::Busy;
        // What a port says once its adapter was pulled out.
        case ERROR_NOT_READY:
        case ERROR_GEN_FAILURE:
        case ERROR_BAD_COMMAND:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return TOpenError::Gone;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_PARAMETER:
            return TOpenError::NotSerial;
        default:
            return TOpenError::Failed;
    }
}

HANDLE HandleOf(const std::atomic<intptr_t>& handle) {
    return reinterpret_cast<HANDLE>(handle.load(std::memory_order_acquire));
}

// Bytes waiting in the port's input buffer; false when the port cannot
// tell (it went away).
bool Queued(HANDLE h, DWORD& count) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(h, &errors, &status)) return false;
    count = status.cbInQue;
    return true;
}

}  // namespace

bool TUartPort::OpenDevice(const std::string& name) {
    const auto path = Utf8ToUtf16(name);
    if (!path) {
        SetOpenError(TOpenError::NameRefused, 0);
        return false;
    }
    // No sharing: the port is this program's alone while it is open.
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(path->c_str()),
                                   GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        SetOpenError(OpenErrorOf(err), static_cast<int>(err));
        return false;
    }
    auto fail = [&](TOpenError error, DWORD systemError) {
        ::CloseHandle(h);
        SetOpenError(error, static_cast<int>(systemError));
        return false;
    };
    // Only communications devices are serial lines (not a file, a pipe or
    // the console).
    if (::GetFileType(h) != FILE_TYPE_CHAR) return fail(TOpenError::NotSerial, 0);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) return fail(TOpenError::NotSerial, ::GetLastError());
    // Raw bytes: no parity check, no XON/XOFF, no byte replaced or dropped,
    // no read aborted by a line error. Hardware flow control and the modem
    // lines stay as the driver has them.
    dcb.BaudRate = CBR_19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(h, &dcb)) return fail(TOpenError::Failed, ::GetLastError());
    // A read waits at most one read wait for its first byte (see Read); a
    // write is bounded as the POSIX line bounds it.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = kReadWaitMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutBaseMs;
    if (!::SetCommTimeouts(h, &timeouts)) return fail(TOpenError::Failed, ::GetLastError());
    if (!::PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR))
        return fail(TOpenError::Failed, ::GetLastError());
    Handle.store(reinterpret_cast<intptr_t>(h), std::memory_order_release);
    return true;
}

void TUartPort::Close() {
    const intptr_t h = Handle.exchange(-1, std::memory_order_acq_rel);
    if (h != -1) ::CloseHandle(reinterpret_cast<HANDLE>(h));
}

int32_t TUartPort::Write(const void* buffer, int32_t count) {
    const HANDLE h = HandleOf(Handle);
    if (h == INVALID_HANDLE_VALUE || count <= 0) return 0;
    // The write time-out (WriteBoundMs) ends a write the line does not take.
    DWORD written = 0;
    if (!::WriteFile(h, buffer, static_cast<DWORD>(count), &written, nullptr)) {
        Lose(static_cast<int>(::GetLastError()));  // unplugged: a later transfer tries to open it again
        return 0;
    }
    return static_cast<int32_t>(written);
}

int32_t TUartPort::Read(void* buffer, int32_t count) {
    const HANDLE h = HandleOf(Handle);
    if (h == INVALID_HANDLE_VALUE || count <= 0) return 0;
    // One byte, which returns as soon as it is there, or after the read
    // wait; then what else is buffered, which returns at once. (A read of
    // "whatever is there" within one call is honoured by Windows but not
    // by every driver, nor by Wine.)
    auto* bytes = static_cast<uint8_t*>(buffer);
    DWORD got = 0;
    if (!::ReadFile(h, bytes, 1, &got, nullptr)) {
        Lose(static_cast<int>(::GetLastError()));
        return 0;
    }
    DWORD queued = 0;
    if (!Queued(h, queued)) {
        // A line that went away still ends its reads after the read wait,
        // without an error: the port can no longer tell its state.
        Lose(static_cast<int>(::GetLastError()));
        return static_cast<int32_t>(got);
    }
    if (got == 0 || count == 1) return static_cast<int32_t>(got);
    if (const int64_t waitUs = MissingBytesWaitUs(static_cast<int64_t>(queued) + 1, count); waitUs > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
        if (!Queued(h, queued)) queued = 0;
    }
    const DWORD more = std::min<DWORD>(queued, static_cast<DWORD>(count - 1));
    DWORD rest = 0;
    if (more > 0 && !::ReadFile(h, bytes + 1, more, &rest, nullptr)) {
        Lose(static_cast<int>(::GetLastError()));
        return 1;
    }
    return static_cast<int32_t>(1 + rest);
}

void TUartPort::DiscardInput() {
    const HANDLE h = HandleOf(Handle);
    if (h != INVALID_HANDLE_VALUE) ::PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR);
}

}  // namespace tovik
