// The serial line lets go of the terminal on every way it closes, and says
// why a line could not be opened.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "ports/ProtoUART.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using test::PtyResponder;

std::string DevicePath(const std::string& port) {
    return "/dev/" + port;
}

// Whether the terminal carries the exclusive-use mark, seen through a fresh
// descriptor. A line that cannot even be opened to look counts as marked.
bool ExclusiveMark(const std::string& port) {
    const int fd = ::open(DevicePath(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    int marked = -1;
    const int r = ::ioctl(fd, TIOCGEXCL, &marked);
    ::close(fd);
    return r != 0 || marked != 0;
}

// The errno of an open of the line by an unprivileged user (0 on success):
// the user the mark keeps out. Root, whom the mark does not stop, asks a
// child that has given up root.
int OpenAsOrdinaryUser(const std::string& port) {
    const std::string path = DevicePath(port);
    if (::geteuid() != 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno;
        ::close(fd);
        return 0;
    }
    ::chmod(path.c_str(), 0666);  // our own test terminal: everybody may use it
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only system calls between fork and _exit.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(200);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ::_exit(fd < 0 ? errno : 0);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The line is marked while open (another user is kept out), and after the
// close both another user and another port can open it.
void ExpectReleasedAfter(const std::string& port, const std::function<void()>& close) {
    ASSERT_TRUE(ExclusiveMark(port));
    EXPECT_EQ(OpenAsOrdinaryUser(port), EBUSY);
    close();
    EXPECT_FALSE(ExclusiveMark(port)) << "the exclusive-use mark outlived the close";
    EXPECT_EQ(OpenAsOrdinaryUser(port), 0);
    TProtoUART next;
    ASSERT_TRUE(next.SetPortName(port));
    EXPECT_TRUE(next.IsOpen());
}

TEST(LineRelease, CloseLiftsTheExclusiveMark) {
    PtyResponder dev;
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName(dev.PortName()));
    ASSERT_TRUE(port.IsOpen());
    ExpectReleasedAfter(dev.PortName(), [&] { port.Close(); });
}

TEST(LineRelease, RenameLiftsTheExclusiveMarkOfTheOldLine) {
    PtyResponder a, b;
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName(a.PortName()));
    ASSERT_TRUE(port.IsOpen());
    ExpectReleasedAfter(a.PortName(), [&] { ASSERT_TRUE(port.SetPortName(b.PortName())); });
    EXPECT_TRUE(port.IsOpen());
}

TEST(LineRelease, DestructionLiftsTheExclusiveMark) {
    PtyResponder dev;
    auto port = std::make_unique<TProtoUART>();
    ASSERT_TRUE(port->SetPortName(dev.PortName()));
    ASSERT_TRUE(port->IsOpen());
    ExpectReleasedAfter(dev.PortName(), [&] { port.reset(); });

    auto line = std::make_unique<TUartPort>();
    line->Name = dev.PortName();
    line->Open();
    ASSERT_TRUE(line->IsOpen());
    ExpectReleasedAfter(dev.PortName(), [&] { line.reset(); });
}

TEST(LineRelease, HangUpLiftsTheExclusiveMark) {
    PtyResponder dev;
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName(dev.PortName()));
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(ExclusiveMark(dev.PortName()));
    // Hang the terminal up while its other end stays open, as a modem line
    // or a session manager does. It takes a privilege.
    const int other = ::open(DevicePath(dev.PortName()).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    const int hung = ::ioctl(other, TIOCVHANGUP);
    const int hangError = errno;
    ::close(other);
    if (hung != 0) GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN: " << std::strerror(hangError);
    // The next read meets the hang-up and closes the line.
    uint8_t b = 0;
    for (int i = 0; i < 100 && port.IsOpen(); ++i) port.Read(&b, 1);
    ASSERT_FALSE(port.IsOpen());
    EXPECT_FALSE(ExclusiveMark(dev.PortName())) << "the exclusive-use mark outlived the hang-up";
    EXPECT_EQ(OpenAsOrdinaryUser(dev.PortName()), 0);
}

// ---- why a line could not be opened ----

TEST(OpenFailure, KeepsTheSystemsReason) {
    test::ManualClock clock;
    TProtoUART port;
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::None);  // never tried

    ASSERT_TRUE(port.SetPortName("ttyNONE7"));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::NoSuchDevice);
    EXPECT_EQ(port.LastOpenError().SystemError, ENOENT);
    EXPECT_EQ(OpenErrorText(port.LastOpenError()).rfind("нет такого устройства (", 0), 0u);

    // Not a terminal at all.
    ASSERT_TRUE(port.SetPortName("null"));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::NotSerial);
    EXPECT_EQ(OpenErrorText(port.LastOpenError()), "не последовательный порт");

    // Held by another port of this program.
    PtyResponder dev;
    TProtoUART holder;
    ASSERT_TRUE(holder.SetPortName(dev.PortName()));
    ASSERT_TRUE(holder.IsOpen());
    ASSERT_TRUE(port.SetPortName(dev.PortName()));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::Busy);
    EXPECT_EQ(OpenErrorText(port.LastOpenError()), "порт занят другой программой");
    clock.Advance(kReopenIntervalMs);  // a transfer tries again at most once a second
    EXPECT_EQ(port.Write("x", 1), 0);  // the transfer's own open fails the same way
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::Busy);

    // Once it is free the reason goes.
    holder.Close();
    clock.Advance(kReopenIntervalMs);
    EXPECT_EQ(port.Write("x", 1), 1);
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::None);
    EXPECT_EQ(OpenErrorText(port.LastOpenError()), "");
}

// The line alone, without a port and its worker.
TEST(LineOpenFailure, NamesThatAreNeverOpened) {
    TUartPort line;
    line.Name = "../sda";
    line.Open();
    EXPECT_FALSE(line.IsOpen());
    EXPECT_EQ(line.LastOpenError().Error, TOpenError::NameRefused);
    EXPECT_EQ(OpenErrorText(line.LastOpenError()), "недопустимое имя порта");
    line.Name = "tty";  // the controlling terminal's alias
    line.Open();
    EXPECT_EQ(line.LastOpenError().Error, TOpenError::NotSerial);
}

TEST(OpenFailure, LineMarkedByAnotherProgramIsBusyEvenForRoot) {
    PtyResponder dev;
    // Another program took the line for itself (the mark, no advisory lock).
    const int other = ::open(DevicePath(dev.PortName()).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName(dev.PortName()));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::Busy);
    EXPECT_EQ(port.LastOpenError().SystemError, EBUSY);
    // Our failed attempt left the other program's mark alone.
    int marked = 0;
    ASSERT_EQ(::ioctl(other, TIOCGEXCL, &marked), 0);
    EXPECT_EQ(marked, 1);
    ::ioctl(other, TIOCNXCL);
    ::close(other);
    port.Open();
    EXPECT_TRUE(port.IsOpen());
}

// The worker opens the line inside its transfers while the user-interface
// thread reads the reason: no data race (run under ThreadSanitizer).
TEST(OpenFailure, ReasonIsReadWhileTheWorkerRetries) {
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName("ttyNONE8"));
    const int32_t owner = port.RegisterOwner();
    auto list = std::make_shared<TResultEventsList>();
    constexpr int kJobs = 20;
    for (int i = 0; i < kJobs; ++i) {
        auto req = MakeRequest(&port, 1, 1, {}, nullptr, 0, nullptr, 0, 0, 1);
        port.PutJob(MakeJob(std::move(req), nullptr, nullptr, owner, list,
                            [](TProtoRequest& r) -> TOutcome {
                                const uint8_t frame[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
                                return r.Port->Write(frame, sizeof frame) == sizeof frame ? kAnswered
                                                                                          : TOutcome{};
                            },
                            {}));
    }
    size_t seen = 0;
    ASSERT_TRUE(test::WaitUntil([&] {
        const TOpenOutcome o = port.LastOpenError();
        EXPECT_TRUE(o.Error == TOpenError::None || o.Error == TOpenError::NoSuchDevice);
        ++seen;
        return list->Count() >= kJobs;
    }));
    EXPECT_EQ(port.LastOpenError().Error, TOpenError::NoSuchDevice);
    EXPECT_GT(seen, 0u);
}

}  // namespace
}  // namespace tovik
