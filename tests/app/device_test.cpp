#include <gtest/gtest.h>

#include "ConfigTestUtil.h"
#include "app/Configuration.h"
#include "app/DeviceList.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "protocol/Builders.h"

namespace tovik {
namespace {

using test::Bytes;

TAlarmRecord Alarm(uint8_t hour, uint8_t minute, uint8_t cause, uint32_t currentA = 0) {
    TAlarmRecord r{};
    r[0] = hour;
    r[1] = minute;
    r[2] = 0;
    r[3] = 8;
    r[4] = 12;
    r[5] = 24;
    r[6] = cause;
    for (int i = 0; i < 4; ++i) r[7 + i] = static_cast<uint8_t>(currentA >> (8 * i));
    return r;
}

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterBuiltInKinds();
        auto port = std::make_unique<TUartSettingsPort>();
        ASSERT_TRUE(port->SetPortName("ttyS3"));
        Ports.Add(std::move(port));
    }
    // Loads one record (after its kind code) into a fresh device of `kind`.
    std::unique_ptr<TTovikDevice> LoadRecord(const Bytes& record, bool& ok, uint8_t kind = 0) {
        auto d = std::make_unique<TTovikDevice>(kind);
        TMemoryStream s(Bytes(record.begin() + 4, record.end()));
        ok = d->Load(s, &Ports);
        return d;
    }
    TProtoPortList Ports;
};

TEST_F(Devices, NewDeviceOfEachKind) {
    const char* names[] = {"Товик", "Товик ModBus", "ТовикМ", "ТовикМ ModBus"};
    for (uint8_t kind = 0; kind < 4; ++kind) {
        TTovikDevice d(kind);
        EXPECT_EQ(d.InstallationName, names[kind]);
        EXPECT_EQ(d.KindCode, 193u + kind);
        EXPECT_EQ(d.GetDeviceKind(), kind);
        EXPECT_EQ(d.BusAddress, 1);
        EXPECT_EQ(d.PortId, 0);
        EXPECT_EQ(d.VariantByte, 0);
        EXPECT_TRUE(d.AlarmCache.empty());
        EXPECT_EQ(d.PanelLayout, nullptr);
    }
    EXPECT_THROW(TTovikDevice(4), std::out_of_range);

    TTovikDevice d(2);
    TMemoryStream s;
    ASSERT_TRUE(d.Save(s));
    EXPECT_EQ(s.Size(), kDeviceRecordBaseSize);
    EXPECT_EQ(s.Bytes(), test::DeviceRecord(195, {}, 0, 1, "\xD2\xEE\xE2\xE8\xEA\xCC", 2, 0));
}

TEST_F(Devices, RecordRoundTrip) {
    TTovikDevice d(3);
    d.InstallationName = std::string(39, 'x') + "Ж";  // exactly 40 characters
    d.PortId = NameId("ttyS3");
    d.BusAddress = 250;
    d.VariantByte = 7;
    d.AlarmCache = {Alarm(1, 2, 3, 100000000), Alarm(4, 5, 6, 42)};
    d.PanelLayout = std::make_unique<TMemoryStream>();
    WritePanelLayout(*d.PanelLayout, {120, 130, 140, 2});
    TMemoryStream s;
    ASSERT_TRUE(d.Save(s));
    EXPECT_EQ(s.Size(), kDeviceRecordBaseSize + 16 + 2 * 19);

    bool ok = false;
    auto back = LoadRecord(s.Bytes(), ok, 3);
    ASSERT_TRUE(ok);
    EXPECT_EQ(back->InstallationName, d.InstallationName);
    EXPECT_EQ(back->PortId, d.PortId);
    EXPECT_EQ(back->BusAddress, 250);
    EXPECT_EQ(back->GetDeviceKind(), 3);
    EXPECT_EQ(back->VariantByte, 0);  // not stored
    EXPECT_EQ(back->AlarmCache, d.AlarmCache);
    ASSERT_NE(back->PanelLayout, nullptr);
    EXPECT_EQ(back->PanelLayout->Bytes(), d.PanelLayout->Bytes());
    TMemoryStream again;
    ASSERT_TRUE(back->Save(again));
    EXPECT_EQ(again.Bytes(), s.Bytes());
}

TEST_F(Devices, LoadedFieldsFollowTheRecord) {
    const int32_t known = NameId("ttyS3");
    struct Case {
        const char* what;
        Bytes record;
        int32_t portId;
        bool hasLayout;
        size_t alarms;
    } cases[] = {
        {"unknown port", test::DeviceRecord(193, {}, NameId("ttyS4"), 1, "a", 0, 0), 0, false, 0},
        {"known port", test::DeviceRecord(193, {}, known, 1, "a", 0, 0), known, false, 0},
        {"layout of 16 bytes", test::DeviceRecord(193, Bytes(16, 1), known, 1, "a", 0, 0), known, true, 0},
        {"three alarms", test::DeviceRecord(193, {}, 0, 1, "a", 0, 3, Bytes(57, 9)), 0, false, 3},
    };
    for (const auto& c : cases) {
        bool ok = false;
        auto d = LoadRecord(c.record, ok);
        ASSERT_TRUE(ok) << c.what;
        EXPECT_EQ(d->PortId, c.portId) << c.what;
        EXPECT_EQ(d->PanelLayout != nullptr, c.hasLayout) << c.what;
        EXPECT_EQ(d->AlarmCache.size(), c.alarms) << c.what;
    }

    // A negative layout length means no block; the rest of the record follows at once.
    Bytes negative = test::DeviceRecord(193, {}, known, 9, "b", 1, 0);
    negative[4] = negative[5] = negative[6] = negative[7] = 0xFF;
    bool ok = false;
    auto d = LoadRecord(negative, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(d->PanelLayout, nullptr);
    EXPECT_EQ(d->BusAddress, 9);
    EXPECT_EQ(d->GetDeviceKind(), 1);  // the stored kind replaces the constructor's
}

TEST_F(Devices, DamagedRecordsFail) {
    const Bytes whole = test::DeviceRecord(193, {}, 0, 1, "a", 0, 1, Bytes(19, 0));
    struct Case {
        const char* what;
        Bytes record;
    } cases[] = {
        {"negative alarm count", test::DeviceRecord(193, {}, 0, 1, "a", 0, -1)},
        {"two billion alarms", test::DeviceRecord(193, {}, 0, 1, "a", 0, 2000000000, Bytes(19, 0))},
        {"alarms cut short", test::DeviceRecord(193, {}, 0, 1, "a", 0, 2, Bytes(37, 0))},
        {"layout beyond the record", test::DeviceRecord(193, {}, 0, 1, "a", 0, 0)},
        {"cut in the name", Bytes(whole.begin(), whole.begin() + 30)},
        {"cut in the count", Bytes(whole.begin(), whole.begin() + 57)},
    };
    cases[3].record[4] = 0xF0;  // layout length 240 with 55 bytes left
    for (const auto& c : cases) {
        bool ok = true;
        LoadRecord(c.record, ok);
        EXPECT_FALSE(ok) << c.what;
    }
}

// A stream that cannot tell how much is left, like a file or a line.
class TPlainStream : public TStream {
public:
    explicit TPlainStream(Bytes data) : Inner(std::move(data)) {}
    int32_t Read(void* buffer, int32_t count) override { return Inner.Read(buffer, count); }
    int32_t Write(const void*, int32_t) override { return 0; }

private:
    TMemoryStream Inner;
};

TEST_F(Devices, HugeCountsOnAnyStreamFailWithoutHugeAllocations) {
    Bytes hugeLayout = test::DeviceRecord(193, {}, 0, 1, "a", 0, 0);
    hugeLayout[4] = hugeLayout[5] = hugeLayout[6] = 0xFF;
    hugeLayout[7] = 0x7F;
    for (const auto& record :
         {test::DeviceRecord(193, {}, 0, 1, "a", 0, 2000000000, Bytes(19, 0)), hugeLayout}) {
        TPlainStream s(Bytes(record.begin() + 4, record.end()));
        TTovikDevice d(0);
        EXPECT_FALSE(d.Load(s, &Ports));
    }
}

TEST_F(Devices, NamesThatDoNotFitAreNeverWritten) {
    for (const std::string& name : {std::string(41, 'x'), std::string("Насос ✓"), std::string("a\0b", 3)}) {
        TTovikDevice d(0);
        d.InstallationName = name;
        TMemoryStream s;
        EXPECT_FALSE(d.Save(s));
    }
}

TEST_F(Devices, OfferAlarmRecordKeysOnTheTimeStamp) {
    TTovikDevice d(1);
    EXPECT_TRUE(d.OfferAlarmRecord(Alarm(10, 0, 1)));
    EXPECT_TRUE(d.OfferAlarmRecord(Alarm(10, 1, 1)));
    EXPECT_FALSE(d.OfferAlarmRecord(Alarm(10, 0, 7, 555)));  // same six bytes, other cause and currents
    ASSERT_EQ(d.AlarmCache.size(), 2u);
    EXPECT_EQ(d.AlarmCache[0], Alarm(10, 0, 1));
    EXPECT_EQ(d.AlarmCache[1], Alarm(10, 1, 1));
}

// Each of the six time-stamp bytes alone tells records apart: the same time
// of day on another day, month or year is another alarm.
TEST_F(Devices, OfferAlarmRecordComparesDateAndTime) {
    const char* names[6] = {"hour", "minute", "second", "day", "month", "year"};
    for (int byte = 0; byte < 6; ++byte) {
        TTovikDevice d(1);
        const TAlarmRecord first = Alarm(10, 20, 1);
        TAlarmRecord other = first;
        other[static_cast<size_t>(byte)] = static_cast<uint8_t>(other[static_cast<size_t>(byte)] + 1);
        ASSERT_TRUE(d.OfferAlarmRecord(first));
        EXPECT_TRUE(d.OfferAlarmRecord(other)) << names[byte];
        EXPECT_FALSE(d.OfferAlarmRecord(other)) << names[byte];
        EXPECT_EQ(d.AlarmCache.size(), 2u) << names[byte];
    }
    // The causes and currents (bytes 6..18) never do.
    TTovikDevice d(1);
    ASSERT_TRUE(d.OfferAlarmRecord(Alarm(10, 20, 1)));
    for (size_t byte = 6; byte < kAlarmRecordSize; ++byte) {
        TAlarmRecord same = Alarm(10, 20, 1);
        same[byte] ^= 0xFF;
        EXPECT_FALSE(d.OfferAlarmRecord(same)) << byte;
    }
    EXPECT_EQ(d.AlarmCache.size(), 1u);
}

// Records other versions may have written load as they are, keep every byte
// through a save, and are refused only where they would be used.
TEST_F(Devices, OddRecordsLoadAndAreWrittenBackUnchanged) {
    Bytes fullName = test::DeviceRecord(195, {}, 0, 1, "", 2, 0);
    std::fill(fullName.begin() + 13, fullName.begin() + 54, 'n');  // 41 characters, no terminator
    struct Case {
        const char* what;
        Bytes record;
        std::string name;
        uint8_t kind, bus;
    } cases[] = {
        {"name filling its field", fullName, std::string(41, 'n'), 2, 1},
        {"byte Windows-1251 leaves undefined", test::DeviceRecord(193, {}, 0, 1, "Pump\x98 1", 0, 0),
         "Pump\uFFFD 1", 0, 1},
        {"unknown device kind", test::DeviceRecord(193, {}, 0, 1, "a", 4, 0), "a", 4, 1},
        {"kind 255", test::DeviceRecord(196, {}, 0, 1, "a", 255, 0), "a", 255, 1},
        {"bus number 0", test::DeviceRecord(193, {}, 0, 0, "a", 0, 0), "a", 0, 0},
        {"bus number 251", test::DeviceRecord(193, {}, 0, 251, "a", 0, 0), "a", 0, 251},
        {"bus number 255", test::DeviceRecord(193, {}, 0, 255, "a", 0, 0), "a", 0, 255},
    };
    for (const auto& c : cases) {
        bool ok = false;
        auto d = LoadRecord(c.record, ok);
        ASSERT_TRUE(ok) << c.what;
        EXPECT_EQ(d->InstallationName, c.name) << c.what;
        EXPECT_EQ(d->GetDeviceKind(), c.kind) << c.what;
        EXPECT_EQ(d->HasKnownKind(), c.kind < 4) << c.what;
        EXPECT_EQ(d->BusAddress, c.bus) << c.what;
        EXPECT_EQ(IsValidBusAddress(d->BusAddress), c.bus >= 1 && c.bus <= 250) << c.what;
        d->KindCode = static_cast<uint32_t>(c.record[0]);
        TMemoryStream saved;
        ASSERT_TRUE(d->Save(saved)) << c.what;
        EXPECT_EQ(saved.Bytes(), c.record) << c.what;
    }

    // A name changed in the program is written as the new text.
    bool ok = false;
    auto d = LoadRecord(fullName, ok, 2);
    ASSERT_TRUE(ok);
    d->InstallationName = "Насосная";
    TMemoryStream saved;
    ASSERT_TRUE(d->Save(saved));
    EXPECT_EQ(saved.Bytes(), test::DeviceRecord(195, {}, 0, 1, "\xCD\xE0\xF1\xEE\xF1\xED\xE0\xFF", 2, 0));
    d->InstallationName = std::string(41, 'n') + "x";  // longer than the field: refused, never cut
    TMemoryStream refused;
    EXPECT_FALSE(d->Save(refused));
}

// Nothing can build a request for a kind the program does not know.
TEST_F(Devices, NoRequestIsBuiltForAnUnknownKind) {
    TUartSettingsPort port;
    port.StopWorker();  // what is queued stays in the queue
    auto events = std::make_shared<TResultEventsList>();
    const int32_t owner = port.RegisterOwner();
    for (uint8_t kind : {uint8_t(4), uint8_t(9), uint8_t(255)}) {
        EXPECT_FALSE(RequestReadState(port, 1, owner, kind, events, {})) << int(kind);
        EXPECT_FALSE(RequestStart(port, 1, owner, kind, events, {})) << int(kind);
        EXPECT_FALSE(RequestReadCell(port, 1, owner, kind, events, {}, 0)) << int(kind);
    }
    EXPECT_EQ(port.QueueLength(), 0u);
    // The same call with a known kind does queue.
    EXPECT_TRUE(RequestReadState(port, 1, owner, 3, events, {}));
    EXPECT_EQ(port.QueueLength(), 1u);
}

// A panel of the front end, as the core sees it.
struct FakePanel : IDevicePanel {
    FakePanel(TDevice& device, std::vector<std::string>& log) : Device(device), Log(log) {
        device.SetPanelHandler([this](TMemoryStream& block, bool restore) {
            if (restore) {
                Applied = ReadPanelLayout(block);
                Log.push_back(Applied ? "restore " + std::to_string(Applied->ActivePage) : "restore none");
            } else {
                block.Clear();
                Log.push_back("give back");
            }
        });
    }
    ~FakePanel() override { Log.push_back("panel freed"); }
    void RefreshPortSelection() override { Log.push_back("ports"); }
    TDevice& Device;
    std::vector<std::string>& Log;
    std::optional<TPanelLayout> Applied;
};

struct FakeHost : IDevicePanelHost {
    std::unique_ptr<IDevicePanel> CreatePanel(TDevice& device) override {
        Log.push_back("create");
        return std::make_unique<FakePanel>(device, Log);
    }
    std::vector<std::string> Log;
};

TEST_F(Devices, PanelRestoresTheLayoutOnceAndEmptiesItWhenHidden) {
    TTovikDevice d(0);
    d.PanelLayout = std::make_unique<TMemoryStream>();
    WritePanelLayout(*d.PanelLayout, {200, 150, 300, 3});
    FakeHost host;
    d.ShowPanel(host);
    ASSERT_NE(d.Panel(), nullptr);
    EXPECT_EQ(TDevice::PanelOwner(), &d);
    const auto* panel = static_cast<FakePanel*>(d.Panel());
    ASSERT_TRUE(panel->Applied);
    EXPECT_EQ(panel->Applied->ModelGroupWidth, 200);
    EXPECT_EQ(panel->Applied->PuskStopWidth, 150);
    EXPECT_EQ(panel->Applied->StatsWidth, 300);
    d.HidePanel();
    EXPECT_EQ(host.Log,
              (std::vector<std::string>{"create", "ports", "restore 3", "give back", "panel freed"}));
    EXPECT_EQ(d.Panel(), nullptr);
    EXPECT_EQ(TDevice::PanelOwner(), nullptr);
    EXPECT_FALSE(d.PanelHandler);

    TMemoryStream s;
    ASSERT_TRUE(d.Save(s));
    EXPECT_EQ(s.Size(), kDeviceRecordBaseSize);  // the block is saved with length 0
}

TEST_F(Devices, OnePanelAtATimeAndNoneOutlivesItsDevice) {
    FakeHost host;
    auto a = std::make_unique<TTovikDevice>(0);
    TTovikDevice b(1);
    a->ShowPanel(host);  // no block yet: the panel's handler gets an empty one
    b.ShowPanel(host);
    EXPECT_EQ(a->Panel(), nullptr);
    EXPECT_EQ(TDevice::PanelOwner(), &b);
    b.HidePanel();
    a->ShowPanel(host);
    a.reset();
    EXPECT_EQ(TDevice::PanelOwner(), nullptr);
    EXPECT_EQ(host.Log.back(), "panel freed");
    EXPECT_EQ(host.Log[2], "restore none");
}

TEST_F(Devices, ListLoadAndSave) {
    TDeviceList list;
    list.Add(std::make_unique<TTovikDevice>(0));
    list.Add(std::make_unique<TTovikDevice>(3));
    static_cast<TTovikDevice*>(list.GetDevice(1))->OfferAlarmRecord(Alarm(1, 1, 1));
    TMemoryStream body;
    ASSERT_TRUE(list.SaveToStream(body));
    body.Seek(0);
    TDeviceList back;
    std::vector<std::string> handed;
    back.OnDeviceLoaded = [&](std::unique_ptr<TDevice> d) {
        handed.push_back(d->InstallationName);
        back.Add(std::move(d));
    };
    ASSERT_TRUE(back.LoadFromStream(body, &Ports));
    EXPECT_EQ(handed, (std::vector<std::string>{"Товик", "ТовикМ ModBus"}));
    EXPECT_EQ(static_cast<TTovikDevice*>(back.GetDevice(1))->AlarmCache.size(), 1u);
    EXPECT_EQ(back.IndexOfDevice(back.GetDevice(1)), 1);
    EXPECT_EQ(back.IndexOfDevice(list.GetDevice(1)), -1);
    back.DeleteDevice(0);
    EXPECT_EQ(back.Count(), 1);
    EXPECT_EQ(back.GetDevice(0)->InstallationName, "ТовикМ ModBus");
}

TEST_F(Devices, AnyFailedRecordFailsTheWholeSection) {
    const Bytes good = test::DeviceRecord(194, {}, 0, 1, "a", 1, 0);
    for (const auto& records : {test::Concat({good, test::DeviceRecord(197, {}, 0, 1, "b", 0, 0)}),
                                test::Concat({good, test::DeviceRecord(193, {}, 0, 1, "b", 0, -3)})}) {
        TMemoryStream body(test::Section(test::Payload(2, records)));
        TDeviceList list;
        int handed = 0;
        list.OnDeviceLoaded = [&](std::unique_ptr<TDevice>) { ++handed; };
        EXPECT_FALSE(list.LoadFromStream(body, &Ports));
        EXPECT_EQ(handed, 0);
        EXPECT_EQ(list.Count(), 0);
    }
}

}  // namespace
}  // namespace tovik
