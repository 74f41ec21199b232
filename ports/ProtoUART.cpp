#include "ports/ProtoUART.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/Cp1251.h"
#include "base/Signals.h"

namespace tovik {

TPortNameCheck CheckPortName(const std::string& name) {
    if (name.empty()) return TPortNameCheck::Empty;
    const auto encoded = Utf8ToCp1251(name);
    if (!encoded) return TPortNameCheck::BadChar;
    if (encoded->size() > kMaxPortNameLength) return TPortNameCheck::TooLong;
    // The name becomes a path under /dev: no way out of it.
    if (name.front() == '/' || name.find("..") != std::string::npos) return TPortNameCheck::BadChar;
    for (unsigned char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '/' || c == '_' || c == '-' || c == '.';
        if (!ok) return TPortNameCheck::BadChar;
    }
    // Terminals that are never serial lines: the controlling terminal, the
    // console, the pseudo-terminal multiplexer and the virtual consoles.
    // Switching one of them to raw 19200 baud would take the user's screen.
    if (name == "tty" || name == "console" || name == "ptmx" || name == "pts/ptmx")
        return TPortNameCheck::NotSerial;
    if (name.size() > 3 && name.compare(0, 3, "tty") == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos)
        return TPortNameCheck::NotSerial;
    return TPortNameCheck::Ok;
}

namespace {
// The terminal this program was started from may be a pseudo-terminal like
// any simulator line; it must never be taken over.
bool IsControllingTerminal(int fd) {
    const int ctty = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (ctty < 0) return false;
    struct stat a {
    }, b{};
    const bool same = ::fstat(fd, &a) == 0 && ::fstat(ctty, &b) == 0 && a.st_rdev == b.st_rdev;
    ::close(ctty);
    return same;
}
}  // namespace

// ---- lines held by this process ----

namespace {
// The descriptors of the lines this process has marked for its exclusive
// use (each plus one; 0 is a free slot). The mark belongs to the terminal
// and outlives the process wherever the line's other side stays open, so
// the program's last rites lift it when the program ends without closing
// its lines (a crash, an abort, an exit past the destructors). Lock-free:
// read in signal context.
constexpr size_t kMaxHeldLines = 64;
std::atomic<int> g_heldLines[kMaxHeldLines];

void LiftHeldMarks() {
    for (auto& slot : g_heldLines)
        if (const int held = slot.load(); held > 0) ::ioctl(held - 1, TIOCNXCL);
}

void HoldLine(int fd) {
    AddLastRite(&LiftHeldMarks);
    for (auto& slot : g_heldLines) {
        int free = 0;
        if (slot.compare_exchange_strong(free, fd + 1)) return;
    }
}

void LetGoLine(int fd) {
    for (auto& slot : g_heldLines) {
        int held = fd + 1;
        if (slot.compare_exchange_strong(held, 0)) return;
    }
}
}  // namespace

// ---- TUartPort ----

namespace {
TOpenError OpenErrorOf(int err) {
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return TOpenError::NoSuchDevice;
        case EACCES:
        case EPERM:
        case EROFS:
            return TOpenError::PermissionDenied;
        case EBUSY:
            return TOpenError::Busy;
        case ENOTTY:
            return TOpenError::NotSerial;
        default:
            return TOpenError::Failed;
    }
}
// The group of a line the user may not open, when its members may read and
// write it and this process is not one of them (a group joined since the
// login does not count until the next one).
long GroupThatWouldOpen(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return -1;
    if (st.st_gid == ::getegid()) return -1;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) != count) return -1;
    if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) return -1;
    return static_cast<long>(st.st_gid);
}

std::string GroupName(long id) {
    std::vector<char> buf(4096);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(static_cast<gid_t>(id), &entry, buf.data(), buf.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(id);
}

}  // namespace

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
    if (Outcome.SystemError != 0) {
        char buf[256];
        text += std::string(" (") + ::strerror_r(Outcome.SystemError, buf, sizeof buf) + ")";
    }
    if (Outcome.Error == TOpenError::PermissionDenied && Outcome.GroupToJoin >= 0) {
        const std::string group = GroupName(Outcome.GroupToJoin);
        text += "\nПорт открывают только участники группы «" + group +
                "». Добавьте свою учётную запись в эту группу: sudo adduser $USER " + group +
                " — и войдите в систему заново: новая группа действует только с нового входа.";
    }
    return text;
}

TOpenOutcome TUartPort::LastOpenError() const {
    std::lock_guard lock(ErrorLock);
    return OpenError;
}

void TUartPort::SetOpenError(TOpenError error, int systemError, long groupToJoin) {
    std::lock_guard lock(ErrorLock);
    OpenError = {error, systemError, groupToJoin};
}

void TUartPort::Open() {
    if (IsOpen() && Name == OpenedName) return;
    Close();
    switch (CheckPortName(Name)) {
        case TPortNameCheck::Ok:
            break;
        case TPortNameCheck::NotSerial:
            return SetOpenError(TOpenError::NotSerial, 0);
        default:
            return SetOpenError(TOpenError::NameRefused, 0);
    }
    const std::string path = "/dev/" + Name;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        const TOpenError error = OpenErrorOf(err);
        return SetOpenError(error, err,
                            error == TOpenError::PermissionDenied ? GroupThatWouldOpen(path) : -1);
    }
    bool exclusive = false;
    auto fail = [&](TOpenError error, int systemError) {
        if (exclusive) {
            LetGoLine(fd);
            ::ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        SetOpenError(error, systemError);
    };
    // Only terminals are serial lines.
    if (!::isatty(fd) || IsControllingTerminal(fd)) return fail(TOpenError::NotSerial, 0);
    // The line is ours alone: the advisory lock also holds against root, for
    // whom TIOCEXCL does not; and a line another program marked for its
    // exclusive use is not taken over (only root could).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        return fail(err == EWOULDBLOCK ? TOpenError::Busy : TOpenError::Failed, err == EWOULDBLOCK ? 0 : err);
    }
    int marked = 0;
    if (::ioctl(fd, TIOCGEXCL, &marked) == 0 && marked != 0) return fail(TOpenError::Busy, EBUSY);
    exclusive = ::ioctl(fd, TIOCEXCL) == 0;
    if (exclusive) HoldLine(fd);
    termios tio{};
    auto failed = [&] {
        const int err = errno;
        fail(OpenErrorOf(err), err);
    };
    if (::tcgetattr(fd, &tio) != 0) return failed();
    // Raw bytes: no echo, no line editing, no CR/LF or XON/XOFF handling.
    // Hardware flow control and modem lines stay as the driver has them.
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B19200) != 0 || ::cfsetospeed(&tio, B19200) != 0) return failed();
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return failed();
    if (::tcflush(fd, TCIOFLUSH) != 0) return failed();
    Handle.store(fd, std::memory_order_release);
    OpenedName = Name;
    SetOpenError(TOpenError::None, 0);
}

void TUartPort::Close() {
    const int fd = Handle.exchange(-1, std::memory_order_acq_rel);
    if (fd < 0) return;
    LetGoLine(fd);
    // The mark belongs to the terminal, not to this descriptor: left set, it
    // outlives the close wherever the other end stays open.
    if (::ioctl(fd, TIOCNXCL) != 0 && errno == EIO) {
        // Hung up: this descriptor no longer reaches the terminal, which may
        // live on. Lift the mark through a fresh one where the system lets us.
        const std::string path = "/dev/" + OpenedName;
        const int again = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (again >= 0) {
            ::ioctl(again, TIOCNXCL);
            ::close(again);
        }
    }
    ::close(fd);
}

int32_t TUartPort::Write(const void* buffer, int32_t count) {
    const int fd = Handle.load(std::memory_order_acquire);
    if (fd < 0 || count <= 0) return 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    const uint32_t bound = static_cast<uint32_t>(kWriteTimeoutBaseMs + kWriteTimeoutPerByteMs * count);
    const uint32_t start = timeGetTime();
    int32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Close();  // unplugged: the next transfer tries to open it again
            break;
        }
        const uint32_t spent = ElapsedMs(start, timeGetTime());
        if (spent >= bound) break;
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(bound - spent));
    }
    return done;
}

namespace {

// One byte on the line at 19200 baud, 8N1: ten bits.
constexpr int64_t kByteTimeUs = 10'000'000 / 19200;

// A reply arrives byte by byte, and waking for each costs a context switch
// per byte. Once the first bytes are here, give the rest of what the caller
// asked for the time the line needs to bring it (never longer than one read
// wait), so that one read takes them all.
void AwaitMissingBytes(int fd, int32_t count) {
    if (count <= 1) return;
    int available = 0;
    if (::ioctl(fd, FIONREAD, &available) != 0 || available >= count) return;
    const int64_t missing = count - std::max(available, 0);
    const int64_t waitUs = std::min<int64_t>(missing * kByteTimeUs, int64_t{kReadWaitMs} * 1000);
    std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
}

}  // namespace

int32_t TUartPort::Read(void* buffer, int32_t count) {
    const int fd = Handle.load(std::memory_order_acquire);
    if (fd < 0 || count <= 0) return 0;
    pollfd pfd{fd, POLLIN, 0};
    int r = ::poll(&pfd, 1, kReadWaitMs);
    if (r < 0 && errno == EINTR) return 0;
    if (r <= 0) return 0;
    if (pfd.revents & POLLIN) {
        AwaitMissingBytes(fd, count);
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(count));
        if (n > 0) return static_cast<int32_t>(n);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    }
    // Hang-up or error: the device went away. Close it so that the next
    // transfer tries again, and keep the read's pacing.
    Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadWaitMs));
    return 0;
}

void TUartPort::DiscardInput() {
    const int fd = Handle.load(std::memory_order_acquire);
    if (fd >= 0) ::tcflush(fd, TCIFLUSH);
}

// ---- TProtoUART ----

TProtoUART::TProtoUART(std::shared_ptr<TRequestStats> stats)
    : TProtoPort(std::move(stats)), Uart(std::make_unique<TUartPort>()) {
    Kind = KindCode;
}

TProtoUART::~TProtoUART() {
    StopWorker();  // the worker may be using Uart
}

int32_t TProtoUART::Read(void* buffer, int32_t count) {
    {
        std::lock_guard lock(LineLock);
        if (!Uart->IsOpen()) Uart->Open();
        if (Uart->IsOpen()) return Uart->Read(buffer, count);
    }
    // A line that cannot be opened still paces the receive loops.
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadWaitMs));
    return 0;
}

int32_t TProtoUART::Write(const void* buffer, int32_t count) {
    std::lock_guard lock(LineLock);
    if (!Uart->IsOpen()) Uart->Open();
    if (!Uart->IsOpen()) return 0;
    return Uart->Write(buffer, count);
}

void TProtoUART::Open() {
    std::lock_guard lock(LineLock);
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
    Uart->Open();
    return true;
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
