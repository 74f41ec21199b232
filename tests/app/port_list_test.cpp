#include <gtest/gtest.h>

#include <algorithm>

#include "ConfigTestUtil.h"
#include "app/Configuration.h"
#include "app/UartSettingsPort.h"
#include "ports/ProtoPortList.h"
#include "ports/ProtoUART.h"
#include "support/PtyResponder.h"

namespace tovik {
namespace {

using test::Bytes;

// Names of lines that do not exist: the ports just stay closed.
constexpr const char* kNoLine1 = "ttyNONE1";
constexpr const char* kNoLine2 = "ttyNONE2";

class PortList : public ::testing::Test {
protected:
    void SetUp() override { RegisterBuiltInKinds(); }

    // Loads a ports section with a recording handler.
    bool Load(const Bytes& body, TProtoPortList& list, std::vector<TProtoPort*>& handed) {
        list.PortsLoadedHandler = [&](std::unique_ptr<TProtoPort> p) {
            handed.push_back(p.get());
            list.Add(std::move(p));
        };
        TMemoryStream stream(body);
        return list.LoadFromStream(stream);
    }
};

TEST_F(PortList, CountZeroLoadsNothing) {
    TProtoPortList list;
    std::vector<TProtoPort*> handed;
    EXPECT_TRUE(Load(test::Section(test::Payload(0)), list, handed));
    EXPECT_TRUE(Load(test::Section(test::Payload(-1)), list, handed));
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(PortList, TwoSerialRecordsGiveTwoPortsInRecordOrder) {
    auto stats = std::make_shared<TRequestStats>();
    TProtoPortList list(stats);
    std::vector<TProtoPort*> handed;
    const Bytes body = test::Section(test::Payload(
        2,
        test::Concat({test::UartRecord(kNoLine1, 2, 250, 1000), test::UartRecord(kNoLine2, 0, 100, 300)})));
    ASSERT_TRUE(Load(body, list, handed));
    ASSERT_EQ(handed.size(), 2u);
    ASSERT_EQ(list.Count(), 2);
    auto* first = dynamic_cast<TProtoUART*>(list.Items(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Name, kNoLine1);
    EXPECT_EQ(first->Id, NameId(kNoLine1));
    EXPECT_TRUE(first->Bus.load());  // any nonzero byte
    EXPECT_EQ(first->ReplyTimeout.load(), 250);
    EXPECT_EQ(first->RequestInterval.load(), 1000);
    EXPECT_FALSE(first->IsOpen());
    EXPECT_EQ(list.Items(1)->Name, kNoLine2);
    EXPECT_FALSE(list.Items(1)->Bus.load());
    EXPECT_EQ(&list.Items(1)->Stats(), stats.get());  // every port counts into the shared statistics

    TMemoryStream saved;
    ASSERT_TRUE(list.SaveToStream(saved));
    Bytes expected = test::Section(test::Payload(2, test::Concat({test::UartRecord(kNoLine1, 1, 250, 1000),
                                                                  test::UartRecord(kNoLine2, 0, 100, 300)})));
    EXPECT_EQ(saved.Bytes(), expected);  // bus byte 2 comes back as 1
    EXPECT_EQ(saved.Size(), 4 + 4 + 2 * 23 + 4u);
}

TEST_F(PortList, LoadedPortOpensItsLine) {
    test::PtyResponder line;
    TProtoPortList list;
    std::vector<TProtoPort*> handed;
    ASSERT_TRUE(
        Load(test::Section(test::Payload(1, test::UartRecord(line.PortName(), 0, 100, 100))), list, handed));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_TRUE(list.Items(0)->IsOpen());
}

TEST_F(PortList, AnyFailedRecordKeepsNoPortOfTheSection) {
    const Bytes good = test::UartRecord(kNoLine1, 0, 100, 100);
    Bytes kind194 = test::UartRecord(kNoLine2, 0, 100, 100);
    kind194[0] = 194;
    const Bytes cut(good.begin(), good.end() - 2);
    struct Case {
        const char* what;
        Bytes body;
    } cases[] = {
        {"unregistered kind", test::Section(test::Payload(2, test::Concat({good, kind194})))},
        {"record cut short", test::Section(test::Payload(2, test::Concat({good, cut})))},
        {"count beyond the records", test::Section(test::Payload(3, test::Concat({good, good})))},
        {"checksum", test::Section(test::Payload(1, good), -1)},
        {"truncated section", test::Section(test::Payload(1, good))},
    };
    cases[std::size(cases) - 1].body.resize(cases[std::size(cases) - 1].body.size() - 5);
    for (const auto& c : cases) {
        TProtoPortList list;
        std::vector<TProtoPort*> handed;
        EXPECT_FALSE(Load(c.body, list, handed)) << c.what;
        EXPECT_TRUE(handed.empty()) << c.what;
        EXPECT_EQ(list.Count(), 0) << c.what;
    }
}

// A name no line here can have loads: the port stays closed, a name that
// would leave /dev is never opened, and the record is written back as read.
TEST_F(PortList, PortsWithNamesThatCannotBeOpenedLoadAndAreWrittenBackUnchanged) {
    Bytes noTerminator = test::UartRecord("", 1, 100, 200);
    std::fill(noTerminator.begin() + 5, noTerminator.begin() + 15, 'a');
    struct Case {
        const char* what;
        Bytes record;
        std::string name;
    } cases[] = {
        {"name filling its field", noTerminator, std::string(10, 'a')},
        {"name leaving /dev", test::UartRecord("../x", 0, 100, 100), "../x"},
        {"absolute name", test::UartRecord("/tmp/x", 0, 100, 100), "/tmp/x"},
        {"byte Windows-1251 leaves undefined", test::UartRecord("tty\x98", 0, 100, 100), "tty\uFFFD"},
        {"the controlling terminal", test::UartRecord("tty", 0, 100, 100), "tty"},
        {"a line that does not exist", test::UartRecord(kNoLine1, 0, 100, 100), kNoLine1},
    };
    for (const auto& c : cases) {
        for (bool tool : {false, true}) {
            std::unique_ptr<TProtoPort> port;
            if (tool)
                port = std::make_unique<TUartSettingsPort>();
            else
                port = std::make_unique<TProtoUART>();
            TMemoryStream in(Bytes(c.record.begin() + 4, c.record.end()));
            ASSERT_TRUE(port->LoadSettings(in)) << c.what;
            EXPECT_EQ(port->Name, c.name) << c.what;
            EXPECT_EQ(port->Id,
                      NameId(std::string(c.record.begin() + 5,
                                         std::find(c.record.begin() + 5, c.record.begin() + 15, 0))))
                << c.what;
            // Opening is refused, however often it is tried.
            port->Open();
            uint8_t byte = 0;
            EXPECT_EQ(port->Write(&byte, 1), 0) << c.what;
            EXPECT_FALSE(port->IsOpen()) << c.what;
            TMemoryStream out;
            ASSERT_TRUE(port->SaveSettings(out)) << c.what;
            EXPECT_EQ(out.Bytes(), c.record) << c.what;
        }
    }

    // The whole section loads.
    TProtoPortList list;
    std::vector<TProtoPort*> handed;
    EXPECT_TRUE(Load(test::Section(test::Payload(2, test::Concat({cases[0].record, cases[1].record}))), list,
                     handed));
    EXPECT_EQ(list.Count(), 2);
}

TEST_F(PortList, WithoutHandlerTheListKeepsItsPorts) {
    TProtoPortList list;
    TMemoryStream stream(test::Section(test::Payload(1, test::UartRecord(kNoLine1, 0, 1, 2))));
    ASSERT_TRUE(list.LoadFromStream(stream));
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(PortList, FindByIdTakesTheLastAndStopAllStopsEveryWorker) {
    TProtoPortList list;
    auto add = [&](const std::string& name) {
        auto p = std::make_unique<TProtoUART>(list.Stats());
        EXPECT_TRUE(p->SetPortName(name));
        TProtoPort* raw = p.get();
        list.Add(std::move(p));
        return raw;
    };
    add("COM1");
    TProtoPort* second = add("COM1");
    add("COM10");
    EXPECT_TRUE(list.ContainsId(NameId("COM1")));
    EXPECT_EQ(list.FindById(NameId("COM1")), second);
    EXPECT_FALSE(list.ContainsId(NameId("COM2")));
    EXPECT_EQ(list.FindById(0), nullptr);

    list.StopAll();
    for (int i = 0; i < list.Count(); ++i) EXPECT_FALSE(list.Items(i)->HasWorker());
    list.Delete(0);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0), second);
    list.Delete(7);  // out of range: nothing
    EXPECT_EQ(list.Count(), 2);
}

TEST_F(PortList, SaveWritesNothingWhenAPortCannotBeStored) {
    TProtoPortList list;
    auto p = std::make_unique<TUartSettingsPort>();
    p->Name = "ttyUSB0123";  // ten characters do not fit the record
    list.Add(std::move(p));
    TMemoryStream body;
    EXPECT_FALSE(list.SaveToStream(body));
    EXPECT_EQ(body.Size(), 0u);
}

// The port class of the tools writes exactly the serial port's record.
TEST_F(PortList, SettingsPortRecordEqualsTheSerialPortRecord) {
    for (const auto& record :
         {test::UartRecord("ttyS0", 0, 100, 200), test::UartRecord("pts/9", 5, -1, 0x7FFFFFFF)}) {
        TProtoUART uart;
        TUartSettingsPort stored;
        TMemoryStream a(Bytes(record.begin() + 4, record.end())), b(Bytes(record.begin() + 4, record.end()));
        ASSERT_TRUE(uart.LoadSettings(a));
        ASSERT_TRUE(stored.LoadSettings(b));
        EXPECT_EQ(stored.Id, uart.Id);
        TMemoryStream outA, outB;
        ASSERT_TRUE(uart.SaveSettings(outA));
        ASSERT_TRUE(stored.SaveSettings(outB));
        EXPECT_EQ(outA.Bytes(), outB.Bytes());
        EXPECT_FALSE(stored.IsOpen());
    }
}

}  // namespace
}  // namespace tovik
