// The serial line over pseudo-terminals, and the port's settings record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "ports/ProtoUART.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::PtyResponder;
using test::WaitUntil;
using Bytes = std::vector<uint8_t>;

// Names a port may have that no line here has: the tests never touch a real
// serial port of the machine.
constexpr const char* kNoLine = "ttyNONE0";
constexpr const char* kNoLine3 = "ttyNONE3";

Bytes Record(uint8_t bus, const char* name, int32_t timeout, int32_t interval) {
    TMemoryStream s;
    s.WriteI32(193);
    s.WriteU8(bus);
    char field[10] = {};
    std::memcpy(field, name, std::min<size_t>(std::strlen(name), 10));
    s.WriteExact(field, 10);
    s.WriteI32(timeout);
    s.WriteI32(interval);
    return s.Bytes();
}

// Loads a record the way the port list does: Kind first, then the port.
bool Load(TProtoUART& port, const Bytes& record) {
    TMemoryStream s(record);
    int32_t kind = 0;
    return s.ReadI32(kind) && kind == 193 && port.LoadSettings(s);
}

TEST(SerialLine, OpensExclusivelyAndPassesRawBytes) {
    test::ManualClock clock;
    PtyResponder dev([](const Bytes& req) { return req; });  // echo
    TProtoUART a;
    ASSERT_TRUE(a.SetPortName(dev.PortName()));
    ASSERT_TRUE(a.IsOpen());
    EXPECT_EQ(a.Id, NameId(dev.PortName()));

    TProtoUART b;  // a second open of the same line fails
    ASSERT_TRUE(b.SetPortName(dev.PortName()));
    EXPECT_FALSE(b.IsOpen());
    EXPECT_EQ(b.Write("x", 1), 0);

    // Control characters, CR/LF and XON/XOFF travel untouched both ways.
    const Bytes sent{0x0D, 0x0A, 0x11, 0x13, 0x03, 0x7F, 0x00, 0xFF, 0x1A, 0x04};
    ASSERT_EQ(a.Write(sent.data(), static_cast<int32_t>(sent.size())), static_cast<int32_t>(sent.size()));
    Bytes got;
    EXPECT_TRUE(WaitUntil([&] {
        uint8_t buf[64];
        const int32_t n = a.Read(buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
        return got.size() >= sent.size();
    }));
    EXPECT_EQ(got, sent);

    // Once the first port lets go, the second opens it with its next transfer
    // after its last try (at most one a second).
    a.Close();
    clock.Advance(kReopenIntervalMs);
    EXPECT_EQ(b.Write("y", 1), 1);
    EXPECT_TRUE(b.IsOpen());
}

// A read does not wait for bytes that do not come, and takes those that do.
TEST(SerialLine, ReadWithNothingBufferedReturnsEmpty) {
    PtyResponder dev;
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName(dev.PortName()));
    uint8_t b = 0;
    auto read = std::async(std::launch::async, [&] { return port.Read(&b, 1); });
    if (!WaitUntil([&] { return read.wait_for(0s) == std::future_status::ready; })) {
        ADD_FAILURE() << "a read with nothing buffered waits for a byte";
        dev.Inject({0});
    }
    EXPECT_EQ(read.get(), 0);
    dev.Inject({0x42});
    ASSERT_TRUE(WaitUntil([&] { return port.Read(&b, 1) == 1; }));
    EXPECT_EQ(b, 0x42);
}

TEST(SerialLine, VanishedLineIsClosed) {
    TProtoUART port;
    {
        PtyResponder dev;
        ASSERT_TRUE(port.SetPortName(dev.PortName()));
        ASSERT_TRUE(port.IsOpen());
    }
    // The other end is gone: the next reads notice the hang-up and close.
    uint8_t b;
    for (int i = 0; i < 5 && port.IsOpen(); ++i) port.Read(&b, 1);
    EXPECT_FALSE(port.IsOpen());
}

// A serial adapter pulled out and plugged back in: here a pseudo-terminal
// behind a link in the test's own folder, closed and its link removed, then
// a new one linked under the same name. The line says it is gone and why,
// is tried again at most once a second, and comes back by itself.
TEST(LineComesAndGoes, GoneLineIsToldTriedCalmlyAndTakenBack) {
    test::ManualClock clock;
    test::TempDir dir;
    ASSERT_FALSE(dir.Path.empty());
    const std::string link = dir.Path + "/line";
    auto plugIn = [&](const PtyResponder& device) {
        return ::symlink(("/dev/" + device.PortName()).c_str(), link.c_str()) == 0;
    };
    auto echo = [](const Bytes& request) { return request; };
    auto device = std::make_unique<PtyResponder>(echo);
    ASSERT_TRUE(plugIn(*device));
    TProtoUART port;
    port.SetDeviceFolder(dir.Path + "/");
    ASSERT_TRUE(port.SetPortName("line"));
    ASSERT_TRUE(port.IsOpen());
    auto echoed = [&](const Bytes& sent) {
        if (port.Write(sent.data(), static_cast<int32_t>(sent.size())) != static_cast<int32_t>(sent.size()))
            return false;
        Bytes got;
        return WaitUntil([&] {
                   uint8_t buf[16];
                   const int32_t n = port.Read(buf, sizeof buf);
                   got.insert(got.end(), buf, buf + std::max(n, 0));
                   return got.size() >= sent.size();
               }) &&
               got == sent;
    };
    ASSERT_TRUE(echoed({1, 2, 3}));

    // Pulled out: the device and its name go.
    device.reset();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    EXPECT_EQ(port.Write("x", 1), 0);
    EXPECT_FALSE(port.IsOpen());
    const TOpenOutcome gone{TOpenError::Gone, EIO};
    EXPECT_EQ(port.LastOpenError(), gone);
    const TOutcome unsent = UnsentOutcome(port);
    EXPECT_EQ(unsent.Status, TReplyStatus::NoLine);
    EXPECT_EQ(unsent.Line, gone);
    // Not tried again within the second (the reason would change) ...
    uint8_t b = 0;
    EXPECT_EQ(port.Write("x", 1), 0);
    EXPECT_EQ(port.Read(&b, 1), 0);
    EXPECT_EQ(port.LastOpenError(), gone);
    // ... and then once: still no device, still gone.
    clock.Advance(kReopenIntervalMs);
    EXPECT_EQ(port.Write("x", 1), 0);
    EXPECT_EQ(port.LastOpenError(), (TOpenOutcome{TOpenError::Gone, ENOENT}));
    EXPECT_EQ(OpenErrorText(port.LastOpenError()), "устройство отключено (No such file or directory)");

    // Requests meanwhile, through the worker: each ends at once as no line
    // with the reason, and the worker wakes for nothing but them (while the
    // clock stands, the line is not even tried).
    auto results = std::make_shared<TResultEventsList>();
    const int32_t owner = port.RegisterOwner();
    std::vector<TOutcome> outcomes;
    auto request = [&] {
        port.PutJob(MakeJob(
            MakeRequest(&port, 1, 0, {}, nullptr, 0, nullptr, 0, 0, 1), nullptr, nullptr, owner, results,
            [](TProtoRequest& r) { return r.Port->Write("x", 1) == 1 ? kAnswered : UnsentOutcome(*r.Port); },
            [&](const TReply& reply) { outcomes.push_back(reply.Outcome); }));
    };
    auto answered = [&](size_t count) {
        return WaitUntil([&] {
            while (!results->IsEmpty()) results->DispatchOne();
            return outcomes.size() >= count;
        });
    };
    for (int i = 0; i < 5; ++i) request();
    ASSERT_TRUE(answered(5));
    const TOutcome noLine{TReplyStatus::NoLine, 0, {TOpenError::Gone, ENOENT}};
    for (const TOutcome& o : outcomes) EXPECT_EQ(o, noLine);
    EXPECT_LE(port.WorkerWakeUps(), 5u);

    // Plugged back in: taken back with the first transfer a second after
    // the last try, without anyone opening it.
    device = std::make_unique<PtyResponder>(echo);
    ASSERT_TRUE(plugIn(*device));
    EXPECT_EQ(port.Write("x", 1), 0);
    clock.Advance(kReopenIntervalMs);
    EXPECT_TRUE(echoed({4, 5, 6}));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.LastOpenError(), TOpenOutcome{});
    request();
    ASSERT_TRUE(answered(6));
    EXPECT_EQ(outcomes.back(), kAnswered);
}

TEST(PortNames, OnlyShortNamesThatStayUnderDev) {
    EXPECT_EQ(CheckPortName("ttyS0"), TPortNameCheck::Ok);
    EXPECT_EQ(CheckPortName("ttyUSB0"), TPortNameCheck::Ok);
    EXPECT_EQ(CheckPortName("pts/12345"), TPortNameCheck::Ok);  // nine characters
    EXPECT_EQ(CheckPortName("ttyUSB1234"), TPortNameCheck::TooLong);
    EXPECT_EQ(CheckPortName(""), TPortNameCheck::Empty);
    EXPECT_EQ(CheckPortName("../sda"), TPortNameCheck::BadChar);
    EXPECT_EQ(CheckPortName("/etc/x"), TPortNameCheck::BadChar);
    EXPECT_EQ(CheckPortName("tty 1"), TPortNameCheck::BadChar);
    EXPECT_EQ(CheckPortName("порт"), TPortNameCheck::BadChar);
    EXPECT_EQ(CheckPortName("tty\xe2\x82"), TPortNameCheck::BadChar);   // broken UTF-8
    EXPECT_EQ(CheckPortName("\xe4\xb8\xad"), TPortNameCheck::BadChar);  // not in Windows-1251
    // Terminals that are not serial lines.
    for (const char* name : {"tty", "console", "ptmx", "tty0", "tty12"})
        EXPECT_EQ(CheckPortName(name), TPortNameCheck::NotSerial) << name;
    EXPECT_EQ(CheckPortName("ttyS1"), TPortNameCheck::Ok);
}

TEST(SettingsRecord, RefusedNameChangesNothing) {
    TProtoUART port;
    ASSERT_TRUE(port.SetPortName(kNoLine));
    EXPECT_FALSE(port.SetPortName("ttyUSB1234"));
    EXPECT_EQ(port.Name, kNoLine);  // nothing changed, nothing truncated
    EXPECT_EQ(port.Id, NameId(kNoLine));
}

TEST(SettingsRecord, RoundTrip) {
    TProtoUART a;
    ASSERT_TRUE(a.SetPortName(kNoLine3));
    a.Bus = true;
    a.ReplyTimeout = 150;
    a.RequestInterval = 1000;
    TMemoryStream s;
    ASSERT_TRUE(a.SaveSettings(s));
    ASSERT_EQ(s.Size(), 23u);
    EXPECT_EQ(s.Bytes(), Record(1, kNoLine3, 150, 1000));

    TProtoUART b;
    ASSERT_TRUE(Load(b, s.Bytes()));
    EXPECT_TRUE(b.Bus);
    EXPECT_EQ(b.Name, kNoLine3);
    EXPECT_EQ(b.Id, NameId(kNoLine3));
    EXPECT_EQ(b.ReplyTimeout, 150);
    EXPECT_EQ(b.RequestInterval, 1000);
}

TEST(SettingsRecord, BusByteTwoLoadsAsBusAndSavesAsOne) {
    TProtoUART port;
    ASSERT_TRUE(Load(port, Record(2, "COM3", 100, 500)));
    EXPECT_TRUE(port.Bus);
    EXPECT_EQ(port.Name, "COM3");
    EXPECT_EQ(port.Id, NameId("COM3"));
    EXPECT_FALSE(port.IsOpen());  // no such line here: loading still succeeds
    TMemoryStream s;
    ASSERT_TRUE(port.SaveSettings(s));
    EXPECT_EQ(s.Bytes()[4], 1);
}

TEST(SettingsRecord, DamagedRecordsFail) {
    TProtoUART port;
    Bytes full = Record(0, "COM1", 100, 500);
    for (size_t cut = 4; cut < full.size(); ++cut) {
        EXPECT_FALSE(Load(port, Bytes(full.begin(), full.begin() + static_cast<long>(cut)))) << cut;
    }
}

// Names no line here can have load (other versions may have written them),
// and the port stays closed: a name that would leave /dev is never opened.
TEST(SettingsRecord, NamesThatCannotBeOpenedLoadClosed) {
    Bytes noTerminator = Record(0, "COM1", 100, 500);
    std::memset(noTerminator.data() + 5, 'A', 10);
    for (const Bytes& record :
         {noTerminator, Record(0, "../sda", 100, 500), Record(0, "COM\x98", 100, 500)}) {
        TProtoUART port;
        ASSERT_TRUE(Load(port, record));
        port.Open();
        EXPECT_FALSE(port.IsOpen()) << port.Name;
    }
}

}  // namespace
}  // namespace tovik
