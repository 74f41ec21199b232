// ports/ProtoUART.h on POSIX systems: the serial line through termios.
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
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/Signals.h"
#include "ports/ProtoUART.h"

namespace tovik {

std::string DefaultDeviceFolder() {
    return "/dev/";
}

TPortNameCheck CheckSystemPortName(const std::string& name) {
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
        case EIO:
            return TOpenError::Gone;
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

std::string OpenErrorAdvice(const TOpenOutcome& outcome) {
    if (outcome.Error != TOpenError::PermissionDenied || outcome.GroupToJoin < 0) return {};
    const std::string group = GroupName(outcome.GroupToJoin);
    return "Порт открывают только участники группы «" + group +
           "». Добавьте свою учётную запись в эту группу: sudo adduser $USER " + group +
           " — и войдите в систему заново: новая группа действует только с нового входа.";
}

bool TUartPort::OpenDevice(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        const TOpenError error = OpenErrorOf(err);
        SetOpenError(error, err, error == TOpenError::PermissionDenied ? GroupThatWouldOpen(path) : -1);
        return false;
    }
    bool exclusive = false;
    auto fail = [&](TOpenError error, int systemError) {
        if (exclusive) {
            LetGoLine(fd);
            ::ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        SetOpenError(error, systemError);
        return false;
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
        return fail(OpenErrorOf(err), err);
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
    return true;
}

void TUartPort::Close() {
    const int fd = static_cast<int>(Handle.exchange(-1, std::memory_order_acq_rel));
    if (fd < 0) return;
    LetGoLine(fd);
    // The mark belongs to the terminal, not to this descriptor: left set, it
    // outlives the close wherever the other end stays open.
    if (::ioctl(fd, TIOCNXCL) != 0 && errno == EIO) {
        // Hung up: this descriptor no longer reaches the terminal, which may
        // live on. Lift the mark through a fresh one where the system lets us.
        const std::string path = Folder + OpenedName;
        const int again = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (again >= 0) {
            ::ioctl(again, TIOCNXCL);
            ::close(again);
        }
    }
    ::close(fd);
}

int32_t TUartPort::Write(const void* buffer, int32_t count) {
    const int fd = static_cast<int>(Handle.load(std::memory_order_acquire));
    if (fd < 0 || count <= 0) return 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    const uint32_t bound = WriteBoundMs(count);
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
            Lose(errno);  // unplugged: a later transfer tries to open it again
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

void AwaitMissingBytes(int fd, int32_t count) {
    int available = 0;
    if (count <= 1 || ::ioctl(fd, FIONREAD, &available) != 0) return;
    std::this_thread::sleep_for(std::chrono::microseconds(MissingBytesWaitUs(available, count)));
}

}  // namespace

int32_t TUartPort::Read(void* buffer, int32_t count) {
    const int fd = static_cast<int>(Handle.load(std::memory_order_acquire));
    if (fd < 0 || count <= 0) return 0;
    pollfd pfd{fd, POLLIN, 0};
    int r = ::poll(&pfd, 1, kReadWaitMs);
    if (r < 0 && errno == EINTR) return 0;
    if (r <= 0) return 0;
    int gone = EIO;  // a hang-up
    if (pfd.revents & POLLIN) {
        AwaitMissingBytes(fd, count);
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(count));
        if (n > 0) return static_cast<int32_t>(n);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        if (n < 0) gone = errno;
    } else if (pfd.revents & POLLNVAL) {
        gone = EBADF;
    }
    // Hang-up or error: the device went away. Close it so that a later
    // transfer tries again, and keep the read's pacing.
    Lose(gone);
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadWaitMs));
    return 0;
}

void TUartPort::DiscardInput() {
    const int fd = static_cast<int>(Handle.load(std::memory_order_acquire));
    if (fd >= 0) ::tcflush(fd, TCIFLUSH);
}

}  // namespace tovik
