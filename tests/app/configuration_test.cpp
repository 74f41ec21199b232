#include "app/Configuration.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>

#include "ConfigTestUtil.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "base/Clock.h"
#include "ports/ProtoUART.h"
#include "support/SpecialFiles.h"

namespace tovik {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

uint32_t g_clock = 1000;

std::string Reason(int error) {
    return std::generic_category().message(error);
}

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
        rlim_t limit;  // 0: no cap
        bool badName;
    } cases[] = {{"disk full in the header", 5, false},
                 {"disk full in the body", static_cast<rlim_t>(before.size()) - 1, false},
                 {"name that does not fit", 0, true}};
    for (const auto& k : cases) {
        Config changed;
        Fill(changed);
        changed.Devices.Add(std::make_unique<TTovikDevice>(0));
        if (k.badName) changed.Devices.GetDevice(2)->InstallationName = std::string(41, 'x');
        TSaveResult result;
        if (k.limit) {
            test::TFileSizeLimit full(k.limit);
            result = SaveConfiguration(Dir.Path, changed.Lists(), Copy(TCopyPolicy::Never));
            EXPECT_EQ(result.Reason, Reason(EFBIG)) << k.what;
        } else {
            result = SaveConfiguration(Dir.Path, changed.Lists());
            EXPECT_EQ(result.Reason, "") << k.what;  // no file operation failed
            // The copy still follows the file as it was left.
            EXPECT_EQ(test::ReadBytes(Dir.File(kConfigCopyName)), before) << k.what;
        }
        EXPECT_TRUE(result.Created) << k.what;
        EXPECT_FALSE(result.Saved) << k.what;
        EXPECT_EQ(result.Messages, std::vector<std::string>{kMsgConfigSaveFailed}) << k.what;
        EXPECT_EQ(test::ReadBytes(Dir.File(kConfigFileName)), before) << k.what;
    }
}

}  // namespace
}  // namespace tovik

namespace tovik {
namespace {

class ConfigurationFiles : public Configuration {
protected:
    // Saves a fresh configuration with `users` accounts; the file's bytes.
    Bytes SaveWith(const std::string& path, int users, const std::string& copyPath = "") {
        Config c;
        for (int i = 0; i < users; ++i) c.Users.Add(std::make_unique<TUser>("u" + std::to_string(i), 1, ""));
        EXPECT_TRUE(SaveConfigurationFile(path, copyPath, c.Lists(),
                                          Copy(copyPath.empty() ? TCopyPolicy::Never : TCopyPolicy::Always))
                        .Saved);
        return test::ReadBytes(path);
    }
    static int UsersIn(const std::string& path) {
        Config c;
        LoadConfigurationFile(path, c.Lists());
        return c.Users.Count();
    }
};

TEST_F(ConfigurationFiles, LoadKeepsTheSystemsReason) {
    Config c;
    auto missing = LoadConfiguration(Dir.Path, c.Lists());
    EXPECT_EQ(missing.Messages, std::vector<std::string>{kMsgConfigCannotOpen});
    EXPECT_EQ(missing.Reason, Reason(ENOENT));
    fs::create_directory(Dir.File(kConfigFileName));
    auto directory = LoadConfiguration(Dir.Path, c.Lists());
    EXPECT_EQ(directory.Messages, std::vector<std::string>{kMsgConfigCannotOpen});
    EXPECT_EQ(directory.Reason, NotRegularFileReason(TFileKind::Folder));
    // A readable file says nothing more than its message.
    fs::remove(Dir.File(kConfigFileName));
    test::WriteBytes(Dir.File(kConfigFileName), {1, 2, 3});
    auto damaged = LoadConfiguration(Dir.Path, c.Lists());
    EXPECT_EQ(damaged.Messages, std::vector<std::string>{kMsgConfigDamaged});
    EXPECT_EQ(damaged.Reason, "");
    EXPECT_EQ(MessageWithReason(kMsgConfigCannotOpen, Reason(ENOENT)),
              std::string(kMsgConfigCannotOpen) + "\n" + Reason(ENOENT));
    EXPECT_EQ(MessageWithReason(kMsgConfigDamaged, ""), kMsgConfigDamaged);
}

// Renaming over a file needs only the directory's permission: the file's
// own is checked, for root too.
TEST_F(ConfigurationFiles, WriteProtectedFileIsNeverReplaced) {
    const std::string path = Dir.File(kConfigFileName);
    const Bytes before = SaveWith(path, 1);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    Config c;
    Fill(c);
    bool panelClosed = false;
    TSaveOptions options;
    options.ClosePanel = [&] { panelClosed = true; };
    const auto result = SaveConfiguration(Dir.Path, c.Lists(), options);
    EXPECT_FALSE(result.Created);
    EXPECT_FALSE(result.Saved);
    EXPECT_FALSE(result.CopyRefreshed);
    EXPECT_FALSE(panelClosed);
    EXPECT_EQ(result.Messages, std::vector<std::string>{kMsgConfigCannotCreate});
    EXPECT_EQ(result.Reason, Reason(EACCES));
    EXPECT_EQ(test::ReadBytes(path), before);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_FALSE(fs::exists(Dir.File(kConfigCopyName)));

    // A write-protected copy is left as it is too; the save itself goes on.
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    test::WriteBytes(Dir.File(kConfigCopyName), {7});
    ASSERT_EQ(::chmod(Dir.File(kConfigCopyName).c_str(), 0400), 0);
    const auto second = SaveConfiguration(Dir.Path, c.Lists());
    EXPECT_TRUE(second.Saved);
    EXPECT_FALSE(second.CopyRefreshed);
    EXPECT_EQ(test::ReadBytes(Dir.File(kConfigCopyName)), Bytes{7});
}

TEST_F(ConfigurationFiles, SaveFailuresKeepTheSystemsReason) {
    Config c;
    Fill(c);
    const auto noDir = SaveConfiguration(Dir.File("no/such/dir"), c.Lists());
    EXPECT_EQ(noDir.Messages, std::vector<std::string>{kMsgConfigCannotCreate});
    EXPECT_EQ(noDir.Reason, Reason(ENOENT));
    TSaveResult diskFull;
    {
        test::TFileSizeLimit full(100);
        diskFull = SaveConfiguration(Dir.Path, c.Lists(), Copy(TCopyPolicy::Never));
    }
    EXPECT_EQ(diskFull.Messages, std::vector<std::string>{kMsgConfigSaveFailed});
    EXPECT_EQ(diskFull.Reason, Reason(EFBIG));
    // A failure that is no file operation has no reason.
    c.Devices.GetDevice(0)->InstallationName = std::string(41, 'x');
    const auto badName = SaveConfiguration(Dir.Path, c.Lists());
    EXPECT_EQ(badName.Messages, std::vector<std::string>{kMsgConfigSaveFailed});
    EXPECT_EQ(badName.Reason, "");
}

bool IsLink(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// The file and its copy are written through their links, which stay.
TEST_F(ConfigurationFiles, SavesGoThroughSymbolicLinks) {
    fs::create_directory(Dir.File("real"));
    SaveWith(Dir.File("real/config.cfg"), 1);
    fs::create_symlink("real/config.cfg", Dir.File(kConfigFileName));
    fs::create_symlink("real/copy.cfg", Dir.File(kConfigCopyName));  // not there yet

    Config c;
    Fill(c);
    const auto result = SaveConfiguration(Dir.Path, c.Lists());
    EXPECT_TRUE(result.Saved);
    EXPECT_TRUE(result.CopyRefreshed);
    EXPECT_TRUE(IsLink(Dir.File(kConfigFileName)));
    EXPECT_TRUE(IsLink(Dir.File(kConfigCopyName)));
    EXPECT_EQ(UsersIn(Dir.File("real/config.cfg")), 2);
    EXPECT_EQ(UsersIn(Dir.File("real/copy.cfg")), 2);
    EXPECT_EQ(test::Names(Dir.File("real")), (std::set<std::string>{"config.cfg", "copy.cfg"}));
}

TEST_F(ConfigurationFiles, MigrationThroughALinkKeepsTheLink) {
    fs::create_directory(Dir.File("real"));
    SaveWith(Dir.File(kConfigFileName), 1);
    SaveWith(Dir.File("real/copy.cfg"), 3);
    fs::create_symlink(Dir.File("real/copy.cfg"), Dir.File(kConfigCopyName));
    EXPECT_TRUE(MigratePreviousConfiguration(Dir.Path).TookOver);
    EXPECT_EQ(UsersIn(Dir.File(kConfigFileName)), 3);
    EXPECT_FALSE(IsLink(Dir.File(kConfigFileName)));
    // No copy while the program runs; the link waits for the next one.
    EXPECT_FALSE(fs::exists(Dir.File(kConfigCopyName)));
    EXPECT_TRUE(IsLink(Dir.File(kConfigCopyName)));
    Config c;
    Fill(c);
    EXPECT_TRUE(SaveConfiguration(Dir.Path, c.Lists()).CopyRefreshed);
    EXPECT_EQ(UsersIn(Dir.File("real/copy.cfg")), 2);
}

// "app.cfg" a link to "application.cfg" (or the other way round): one file
// under both names, which the take-over must not remove.
TEST_F(ConfigurationFiles, MigrationOfOneFileUnderBothNamesLosesNothing) {
    for (bool copyIsLink : {true, false}) {
        const std::string file = Dir.File(copyIsLink ? kConfigFileName : kConfigCopyName);
        const std::string link = Dir.File(copyIsLink ? kConfigCopyName : kConfigFileName);
        const Bytes before = SaveWith(file, 2);
        fs::create_symlink(file, link);
        EXPECT_FALSE(MigratePreviousConfiguration(Dir.Path).TookOver) << copyIsLink;
        EXPECT_EQ(test::ReadBytes(file), before) << copyIsLink;
        EXPECT_TRUE(IsLink(link)) << copyIsLink;
        Config c;
        Fill(c);
        EXPECT_TRUE(SaveConfiguration(Dir.Path, c.Lists()).Saved) << copyIsLink;
        EXPECT_EQ(UsersIn(file), 2) << copyIsLink;
        EXPECT_TRUE(IsLink(link)) << copyIsLink;
        fs::remove(file);
        fs::remove(link);
    }
}

// A file written by another version with records the program reads as they
// are: it loads without a message and is written back byte for byte.
TEST_F(ConfigurationFiles, OddRecordsLoadAndTheSaveKeepsEveryByte) {
    Bytes fullName = test::AccountRecord("", "", 1);
    std::fill(fullName.begin(), fullName.begin() + 16, 'N');
    Bytes fullPort = test::UartRecord("", 1, 100, 200);
    std::fill(fullPort.begin() + 5, fullPort.begin() + 15, 'p');
    Bytes fullDeviceName = test::DeviceRecord(194, {}, 0, 7, "", 1, 0);
    std::fill(fullDeviceName.begin() + 13, fullDeviceName.begin() + 54, 'd');
    const int32_t portId = NameId("ttyNONE7");
    const Bytes users = test::Section(test::Payload(
        4, test::Concat({test::AccountRecord("default", "", 3), fullName,
                         test::AccountRecord("r\x98", "\x98", 2), test::AccountRecord("s", "", 255)})));
    const Bytes ports = test::Section(test::Payload(
        4, test::Concat({test::UartRecord("ttyNONE7", 0, 100, 100), test::UartRecord("../../x", 0, 100, 100),
                         fullPort, test::UartRecord("tty\x98", 0, 100, 100)})));
    const Bytes devices = test::Section(test::Payload(
        4, test::Concat(
               {test::DeviceRecord(193, {}, portId, 0, "\xCA\xEE\xF2\xE5\xEB\xFC\xED\xE0\xFF\x98", 9, 0),
                fullDeviceName, test::DeviceRecord(195, {}, portId, 251, "b", 2, 0),
                test::DeviceRecord(196, {}, portId, 255, "c", 255, 0)})));
    const Bytes plain = Body(users, ports, devices);
    test::WriteBytes(Dir.File(kConfigFileName), test::FileBytes(plain));

    Config c;
    const auto loaded = LoadConfiguration(Dir.Path, c.Lists());
    EXPECT_FALSE(loaded.Fatal);
    EXPECT_TRUE(loaded.Messages.empty()) << loaded.Messages.front();
    ASSERT_EQ(c.Users.Count(), 4);
    EXPECT_TRUE(c.Users.Get(0)->HasFullRights());
    EXPECT_TRUE(c.Users.Get(3)->HasFullRights());
    EXPECT_FALSE(c.Users.Get(2)->HasFullRights());
    ASSERT_EQ(c.Ports.Count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(c.Ports.Items(i)->IsOpen()) << i;
    ASSERT_EQ(c.Devices.Count(), 4);
    const auto* first = static_cast<const TTovikDevice*>(c.Devices.GetDevice(0));
    EXPECT_EQ(first->InstallationName, "Котельная\uFFFD");
    EXPECT_EQ(first->PortId, portId);
    EXPECT_FALSE(first->HasKnownKind());

    g_clock = 0x5A5A5A5A;
    ASSERT_TRUE(SaveConfiguration(Dir.Path, c.Lists()).Saved);
    EXPECT_EQ(test::PlainBodyOf(test::ReadBytes(Dir.File(kConfigFileName))), plain);
    ReleaseConfiguration(c.Lists());
}

// Where the configuration lives. The check whether the program may write
// beside itself is given, since root may write in any folder; the real check
// is tried on /proc, which takes no file from anyone.
TEST(ConfigurationPlace, BesideTheProgramWhereItMayWriteElseInTheUsersFolder) {
    test::TempDir program, user;
    const std::string userFolder = user.Path + "/tovik";
    auto search = [&](bool writable, std::optional<std::string> file = std::nullopt) {
        return TConfigSearch{file, program.Path, userFolder,
                             [writable](const std::string&) { return writable; }};
    };
    struct Case {
        const char* what;
        TConfigSearch search;
        std::string file, copy, from;
        TConfigWhere where;
    } cases[] = {
        {"a folder it may write", search(true), program.File(kConfigFileName), program.File(kConfigCopyName),
         "", TConfigWhere::ProgramFolder},
        {"a folder it may not write", search(false), userFolder + "/" + kConfigFileName,
         userFolder + "/" + kConfigCopyName, "", TConfigWhere::UserFolder},
        {"/proc", TConfigSearch{std::nullopt, "/proc", userFolder, nullptr},
         userFolder + "/" + kConfigFileName, userFolder + "/" + kConfigCopyName, "",
         TConfigWhere::UserFolder},
        {"no user folder",
         TConfigSearch{std::nullopt, program.Path, "", [](const std::string&) { return false; }},
         program.File(kConfigFileName), program.File(kConfigCopyName), "", TConfigWhere::ProgramFolder},
        {"a file named", search(false, "/srv/x/" + std::string(kConfigFileName)),
         "/srv/x/" + std::string(kConfigFileName), "/srv/x/" + std::string(kConfigCopyName), "",
         TConfigWhere::Explicit},
        // "app.cfg" belongs to "application.cfg": another name has no copy.
        {"a file of another name", search(true, "/srv/x/pumps.cfg"), "/srv/x/pumps.cfg", "", "",
         TConfigWhere::Explicit},
    };
    for (const auto& c : cases) {
        const TConfigPlace place = FindConfiguration(c.search);
        EXPECT_EQ(place.File, c.file) << c.what;
        EXPECT_EQ(place.Copy, c.copy) << c.what;
        EXPECT_EQ(place.Template, c.from) << c.what;
        EXPECT_EQ(place.Where, c.where) << c.what;
    }
    EXPECT_FALSE(fs::exists(userFolder));  // finding changes nothing

    // A file beside a program that may not write there starts the user's
    // file, until the user has one.
    Config c;
    c.Users.Add(std::make_unique<TUser>("default", 1, ""));
    ASSERT_TRUE(SaveConfiguration(program.Path, c.Lists(), Copy(TCopyPolicy::Never)).Saved);
    TConfigPlace place = FindConfiguration(search(false));
    EXPECT_EQ(place.Template, program.File(kConfigFileName));
    EXPECT_EQ(ConfigurationToRead(place), program.File(kConfigFileName));
    std::string reason;
    ASSERT_TRUE(MakeFolders(userFolder, reason)) << reason;
    EXPECT_TRUE(MigratePreviousConfiguration(place).FromTemplate);
    EXPECT_EQ(test::ReadBytes(place.File), test::ReadBytes(program.File(kConfigFileName)));
    place = FindConfiguration(search(false));
    EXPECT_EQ(place.Template, "");
    EXPECT_EQ(ConfigurationToRead(place), userFolder + "/" + kConfigFileName);
}

// Two names of one file share one lock; the message names the file and the
// process that holds it.
TEST(ConfigurationPlace, AFileIsHeldByOneProgramUnderAnyName) {
    test::TempDir dir;
    const std::string file = dir.File(kConfigFileName);
    fs::create_symlink(file, dir.File("other.cfg"));
    const TFileLock first = LockConfiguration(dir.File("other.cfg"));
    ASSERT_TRUE(first.Held()) << first.Reason();
    const TFileLock second = LockConfiguration(file);
    EXPECT_EQ(second.State(), TFileLock::TState::InUse);
    EXPECT_EQ(ConfigInUseMessage(file, second), std::string(kMsgConfigInUse) + "\n" + file + "\nПроцесс " +
                                                    std::to_string(::getpid()) + ".\n" + kMsgConfigInUseEnd);
}

}  // namespace
}  // namespace tovik
