#include "app/Configuration.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "ConfigTestUtil.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "base/Clock.h"
#include "ports/ProtoUART.h"

namespace tovik {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

uint32_t g_clock = 1000;

TSaveOptions Copy(TCopyPolicy policy) {
    TSaveOptions o;
    o.Copy = policy;
    return o;
}
uint32_t TestClock() {
    return g_clock;
}

using test::Config;

class Configuration : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterBuiltInKinds();
        SetClockSource(TestClock);
    }
    void TearDown() override { SetClockSource(nullptr); }

    // A configuration with something of every kind in it.
    static void Fill(Config& c) {
        c.Users.Add(std::make_unique<TUser>("default", 1, ""));
        c.Users.Add(std::make_unique<TUser>("сервис", 0, "Пароль"));
        auto port = std::make_unique<TProtoUART>();
        EXPECT_TRUE(port->SetPortName("ttyNONE7"));
        port->Bus = true;
        port->ReplyTimeout = 300;
        port->RequestInterval = 500;
        c.Ports.Add(std::move(port));
        auto d = std::make_unique<TTovikDevice>(2);
        d->InstallationName = "Вентиляция";
        d->PortId = NameId("ttyNONE7");
        d->BusAddress = 17;
        TAlarmRecord alarm{};
        for (int i = 0; i < 300; ++i) {  // more than 256 body bytes in one section
            alarm[0] = static_cast<uint8_t>(i);
            alarm[1] = static_cast<uint8_t>(i >> 8);
            d->OfferAlarmRecord(alarm);
        }
        c.Devices.Add(std::move(d));
        c.Devices.Add(std::make_unique<TTovikDevice>(1));
    }

    static Bytes Plain(Config& c) {
        TMemoryStream plain;
        EXPECT_TRUE(BuildPlainBody(c.Lists(), plain));
        return plain.Bytes();
    }

    TLoadResult LoadBytes(const Bytes& file, Config& c) {
        return LoadConfigurationBytes(file.data(), file.size(), c.Lists());
    }

    test::TempDir Dir;
};

TEST_F(Configuration, ScramblingOffsets) {
    EXPECT_EQ(ScrambleOffset(0x04030201, 0), 0);
    EXPECT_EQ(ScrambleOffset(0x04030201, 1), 2 * 1 + 1);
    EXPECT_EQ(ScrambleOffset(0x04030201, 6), 3 * 6 + 6);
    EXPECT_EQ(ScrambleOffset(0xFF000000, 3), static_cast<uint8_t>(0xFF * 3 + 3));
    for (uint32_t seed : {0u, 1u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(ScrambleOffset(seed, 256), 0) << seed;
        EXPECT_EQ(ScrambleOffset(seed, 256 + 77), ScrambleOffset(seed, 77)) << seed;
    }

    Bytes plainBytes(1000);
    for (size_t i = 0; i < plainBytes.size(); ++i) plainBytes[i] = static_cast<uint8_t>(i * 7);
    TMemoryStream plain(plainBytes), file, back;
    plain.Seek(500);  // the whole body is scrambled whatever the position
    ASSERT_TRUE(ScrambleBody(plain, file, 0xA1B2C3D4));
    ASSERT_EQ(file.Size(), plainBytes.size());
    EXPECT_NE(file.Bytes(), plainBytes);
    EXPECT_EQ(file.Bytes()[0], plainBytes[0]);
    EXPECT_EQ(file.Bytes()[256], plainBytes[256]);
    UnscrambleBody(file, back, 0xA1B2C3D4);
    EXPECT_EQ(back.Bytes(), plainBytes);
}

TEST_F(Configuration, SaveAndLoadRoundTrip) {
    Config c;
    Fill(c);
    g_clock = 0x01020304;
    const auto saved = SaveConfiguration(Dir.Path, c.Lists());
    EXPECT_TRUE(saved.Created);
    EXPECT_TRUE(saved.Saved);
    EXPECT_TRUE(saved.Messages.empty());
    EXPECT_EQ(saved.Seed, 0x01020304u);
    const Bytes file = test::ReadBytes(Dir.File(kConfigFileName));
    ASSERT_GE(file.size(), 8u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{0x80, 0x95, 0x43, 0x8B, 4, 3, 2, 1}));
    EXPECT_EQ(test::PlainBodyOf(file), Plain(c));
    EXPECT_TRUE(saved.CopyRefreshed);
    EXPECT_EQ(test::ReadBytes(Dir.File(kConfigCopyName)), file);

    Config back;
    const auto loaded = LoadConfiguration(Dir.Path, back.Lists());
    EXPECT_FALSE(loaded.Fatal);
    EXPECT_TRUE(loaded.Messages.empty());
    EXPECT_EQ(loaded.Seed, 0x01020304u);
    ASSERT_EQ(back.Users.Count(), 2);
    EXPECT_EQ(back.Users.Get(1)->Name, "сервис");
    ASSERT_EQ(back.Ports.Count(), 1);
    EXPECT_EQ(back.Ports.Items(0)->ReplyTimeout.load(), 300);
    ASSERT_EQ(back.Devices.Count(), 2);
    const auto* d = static_cast<TTovikDevice*>(back.Devices.GetDevice(0));
    EXPECT_EQ(d->PortId, NameId("ttyNONE7"));
    EXPECT_EQ(d->AlarmCache.size(), 300u);
    EXPECT_EQ(Plain(back), Plain(c));
    ReleaseConfiguration(back.Lists());
    EXPECT_EQ(back.Users.Count() + back.Ports.Count() + back.Devices.Count(), 0);
}

TEST_F(Configuration, TwoSavesOfOneStateDifferOnlyInTheirScrambling) {
    Config c;
    Fill(c);
    g_clock = 111;
    ASSERT_TRUE(SaveConfiguration(Dir.Path, c.Lists()).Saved);
    const Bytes first = test::ReadBytes(Dir.File(kConfigFileName));
    g_clock = 0x7F00FF22;
    ASSERT_TRUE(SaveConfiguration(Dir.Path, c.Lists()).Saved);
    const Bytes second = test::ReadBytes(Dir.File(kConfigFileName));
    EXPECT_NE(first, second);
    EXPECT_EQ(test::PlainBodyOf(first), test::PlainBodyOf(second));
}

// The body of a file with the given sections.
Bytes Body(const Bytes& users, const Bytes& ports, const Bytes& devices) {
    return test::Concat({users, ports, devices});
}

TEST_F(Configuration, LoadFailuresAndWhatStaysLoaded) {
    const Bytes users = test::Section(test::Payload(1, test::AccountRecord("default", "", 1)));
    const Bytes ports = test::Section(test::Payload(1, test::UartRecord("ttyNONE7", 0, 100, 100)));
    const int32_t portId = NameId("ttyNONE7");
    const Bytes devices =
        test::Section(test::Payload(1, test::DeviceRecord(196, {}, portId, 3, "Котельная", 3, 0)));
    Bytes flippedPorts = ports;
    flippedPorts[10] ^= 0x01;  // inside the payload: the checksum no longer matches
    const Bytes kind197 = test::Section(test::Payload(1, test::DeviceRecord(197, {}, portId, 3, "x", 3, 0)));
    const Bytes zeroLength{0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes negativeLength = test::Concat({Bytes{0xFC, 0xFF, 0xFF, 0xFF}, Bytes(4, 0)});
    Bytes wrongMagic = test::FileBytes(Body(users, ports, devices));
    wrongMagic[3] = 0x8C;

    const std::string damaged = kMsgConfigDamaged, noPorts = kMsgPortsLoadFailed,
                      noDevices = kMsgDevicesLoadFailed;
    struct Case {
        const char* what;
        Bytes file;
        bool fatal;
        std::vector<std::string> messages;
        int users, ports, devices, devicePortId;
    } cases[] = {
        {"whole file", test::FileBytes(Body(users, ports, devices)), false, {}, 1, 1, 1, portId},
        {"empty file", {}, true, {damaged}, 0, 0, 0, 0},
        {"3 bytes", {0x80, 0x95, 0x43}, true, {damaged}, 0, 0, 0, 0},
        {"7 bytes", {0x80, 0x95, 0x43, 0x8B, 1, 2, 3}, true, {damaged}, 0, 0, 0, 0},
        {"wrong magic", wrongMagic, true, {damaged}, 0, 0, 0, 0},
        {"header without body", test::FileBytes({}), true, {damaged, noPorts, noDevices}, 0, 0, 0, 0},
        {"flipped byte in the ports payload",
         test::FileBytes(Body(users, flippedPorts, devices)),
         false,
         {noPorts},
         1,
         0,
         1,
         0},
        {"device kind 197", test::FileBytes(Body(users, ports, kind197)), false, {noDevices}, 1, 1, 0, 0},
        {"users section of length 0",
         test::FileBytes(Body(zeroLength, ports, devices)),
         true,
         {damaged, noPorts, noDevices},
         0,
         0,
         0,
         0},
        {"damaged users still load ports and devices",
         test::FileBytes(
             Body(test::Section(test::Payload(1, test::AccountRecord("a", "", 1)), 5), ports, devices)),
         true,
         {damaged},
         0,
         1,
         1,
         portId},
        {"ports section of negative length",
         test::FileBytes(Body(users, negativeLength, devices)),
         false,
         {noPorts, noDevices},
         1,
         0,
         0,
         0},
        {"negative counts load empty lists",
         test::FileBytes(Body(test::Section(test::Payload(-1)), test::Section(test::Payload(-7)),
                              test::Section(test::Payload(0)))),
         false,
         {},
         0,
         0,
         0,
         0},
        {"trailing bytes",
         test::FileBytes(test::Concat({Body(users, ports, devices), Bytes(300, 0xEE)})),
         false,
         {},
         1,
         1,
         1,
         portId},
        {"two billion alarm records",
         test::FileBytes(Body(users, ports,
                              test::Section(test::Payload(
                                  1, test::DeviceRecord(193, {}, 0, 1, "a", 0, 2000000000, Bytes(19, 0)))))),
         false,
         {noDevices},
         1,
         1,
         0,
         0},
    };
    for (const auto& c : cases) {
        Config cfg;
        const auto result = LoadBytes(c.file, cfg);
        EXPECT_EQ(result.Fatal, c.fatal) << c.what;
        EXPECT_EQ(result.Messages, c.messages) << c.what;
        EXPECT_EQ(cfg.Users.Count(), c.users) << c.what;
        EXPECT_EQ(cfg.Ports.Count(), c.ports) << c.what;
        EXPECT_EQ(cfg.Devices.Count(), c.devices) << c.what;
        if (cfg.Devices.Count() > 0) {
            EXPECT_EQ(cfg.Devices.GetDevice(0)->PortId, c.devicePortId) << c.what;
        }
    }
}

TEST_F(Configuration, MissingFileCannotBeOpened) {
    Config c;
    const auto result = LoadConfiguration(Dir.Path, c.Lists());
    EXPECT_TRUE(result.Fatal);
    EXPECT_EQ(result.Messages, std::vector<std::string>{kMsgConfigCannotOpen});
    fs::create_directory(Dir.File(kConfigFileName));  // not a file either
    EXPECT_EQ(LoadConfiguration(Dir.Path, c.Lists()).Messages,
              std::vector<std::string>{kMsgConfigCannotOpen});
}

TEST_F(Configuration, MigrationTakesOverAppCfg) {
    EXPECT_FALSE(MigratePreviousConfiguration(Dir.Path).TookOver);  // nothing there: nothing happens
    EXPECT_FALSE(fs::exists(Dir.File(kConfigFileName)));

    Config c;
    Fill(c);
    ASSERT_TRUE(
        SaveConfigurationFile(Dir.File(kConfigCopyName), "", c.Lists(), Copy(TCopyPolicy::Never)).Saved);
    const auto migrated = MigratePreviousConfiguration(Dir.Path);
    EXPECT_TRUE(migrated.TookOver);
    EXPECT_TRUE(migrated.Messages.empty());
    EXPECT_FALSE(fs::exists(Dir.File(kConfigCopyName)));
    Config back;
    const auto loaded = LoadConfiguration(Dir.Path, back.Lists());
    EXPECT_TRUE(loaded.Messages.empty());
    EXPECT_EQ(Plain(back), Plain(c));
}

TEST_F(Configuration, CopyPolicies) {
    Config c;
    Fill(c);
    ASSERT_TRUE(SaveConfiguration(Dir.Path, c.Lists(), Copy(TCopyPolicy::IfExists)).Saved);
    EXPECT_FALSE(fs::exists(Dir.File(kConfigCopyName)));
    test::WriteBytes(Dir.File(kConfigCopyName), {1, 2, 3});
    c.Users.Add(std::make_unique<TUser>("новый", 2, ""));
    const auto saved = SaveConfiguration(Dir.Path, c.Lists(), Copy(TCopyPolicy::IfExists));
    EXPECT_TRUE(saved.CopyRefreshed);
    EXPECT_EQ(test::ReadBytes(Dir.File(kConfigCopyName)), test::ReadBytes(Dir.File(kConfigFileName)));
}

TEST_F(Configuration, FileThatCannotBeCreated) {
    Config c;
    Fill(c);
    bool panelClosed = false;
    TSaveOptions options;
    options.ClosePanel = [&] { panelClosed = true; };
    const auto result = SaveConfiguration(Dir.File("no/such/dir"), c.Lists(), options);
    EXPECT_FALSE(result.Created);
    EXPECT_FALSE(result.Saved);
    EXPECT_FALSE(result.CopyRefreshed);
    EXPECT_FALSE(panelClosed);
    EXPECT_EQ(result.Messages, std::vector<std::string>{kMsgConfigCannotCreate});
}

TEST_F(Configuration, FailedSaveLeavesThePreviousFileWhole) {
    Config c;
    Fill(c);
    ASSERT_TRUE(SaveConfiguration(Dir.Path, c.Lists()).Saved);
    const Bytes before = test::ReadBytes(Dir.File(kConfigFileName));
    test::WriteBytes(Dir.File(kConfigCopyName), {9});

    struct Case {
        const char* what;
        int64_t limit;
        bool badName;
    } cases[] = {{"disk full in the header", 5, false},
                 {"disk full in the body", static_cast<int64_t>(before.size()) - 1, false},
                 {"name that does not fit", -1, true}};
    for (const auto& k : cases) {
        Config changed;
        Fill(changed);
        changed.Devices.Add(std::make_unique<TTovikDevice>(0));
        if (k.badName) changed.Devices.GetDevice(2)->InstallationName = std::string(41, 'x');
        TSaveOptions options;
        options.WriteLimit = k.limit;
        const auto result = SaveConfiguration(Dir.Path, changed.Lists(), options);
        EXPECT_TRUE(result.Created) << k.what;
        EXPECT_FALSE(result.Saved) << k.what;
        EXPECT_EQ(result.Messages, std::vector<std::string>{kMsgConfigSaveFailed}) << k.what;
        EXPECT_EQ(test::ReadBytes(Dir.File(kConfigFileName)), before) << k.what;
        // The copy still follows the file as it was left.
        EXPECT_EQ(test::ReadBytes(Dir.File(kConfigCopyName)), before) << k.what;
        test::WriteBytes(Dir.File(kConfigCopyName), {9});
    }
    size_t leftovers = 0;
    for (const auto& e : fs::directory_iterator(Dir.Path))
        leftovers += e.path().filename().string().find(".new-") != std::string::npos;
    EXPECT_EQ(leftovers, 0u);
}

TEST_F(Configuration, KillBetweenWriteAndRenameLeavesThePreviousFile) {
    Config c;
    c.Users.Add(std::make_unique<TUser>("default", 1, ""));
    ASSERT_TRUE(SaveConfiguration(Dir.Path, c.Lists(), Copy(TCopyPolicy::Never)).Saved);
    const Bytes before = test::ReadBytes(Dir.File(kConfigFileName));

    c.Users.Add(std::make_unique<TUser>("second", 2, "x"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TSaveOptions options;
        options.Copy = TCopyPolicy::Never;
        options.BeforeReplace = [](const std::string&) { ::raise(SIGKILL); };
        SaveConfiguration(Dir.Path, c.Lists(), options);
        ::_exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(test::ReadBytes(Dir.File(kConfigFileName)), before);
    Config back;
    EXPECT_TRUE(LoadConfiguration(Dir.Path, back.Lists()).Messages.empty());
    EXPECT_EQ(back.Users.Count(), 1);
}

}  // namespace
}  // namespace tovik
