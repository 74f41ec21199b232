// The plant overview against tovik-sim on two lines: what its rows show,
// what it reads, its marks, the open panel's device, and the stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "panel/PlantOverview.h"
#include "panel/TovikPanel.h"
#include "ports/ProtoUART.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "support/PlantLines.h"
#include "support/Wait.h"

namespace tovik {
namespace {

using test::kPlantRelays;

const TLocaleFormat kRu{",", ".", ":"};
// Relays here answer every request: a reply time-out no loaded machine reaches.
constexpr int32_t kPatient = 3000;
// The reads of the overview on a native line.
const std::set<long> kOverviewCommands = {CmdReadUst, CmdReadAlarmCount, CmdReadAlarm, CmdReadState,
                                          CmdReadCurrents};

class PlantOverview : public ::testing::Test {
protected:
    void SetUp() override {
        Plant.Start();
        if (HasFatalFailure()) return;
        Plant.AddPorts<TProtoUART>(Ports, kPatient, 0);
        test::TPlantLines::AddDevices(Devices, Ports);
        TOverviewEnvironment env;
        env.Devices = &Devices;
        env.FindPort = [this](int32_t id) { return Ports.FindById(id); };
        env.OpenPanel = [this] { return static_cast<const TTovikPanel*>(Panel.get()); };
        env.Locale = kRu;
        Overview = std::make_unique<TPlantOverview>(std::move(env));
    }
    void TearDown() override {
        Overview.reset();
        Panel.reset();
    }

    // Ticks the overview (and the panel, when one is open) until `done`.
    template <class F>
    bool RunUntil(F done) {
        return test::WaitUntil([&] {
            Overview->Tick();
            if (Panel) Panel->Tick();
            return done();
        });
    }
    bool Rounds(uint64_t n) {
        return RunUntil([&] { return Overview->CompletedRounds() >= n; });
    }
    const TOverviewRow& Row(size_t i) const { return Overview->Rows().at(i); }
    TTovikDevice& Device(int i) const { return *dynamic_cast<TTovikDevice*>(Devices.GetDevice(i)); }

    test::TPlantLines Plant;
    TProtoPortList Ports{std::make_shared<TRequestStats>()};
    TDeviceList Devices;
    std::unique_ptr<TTovikPanel> Panel;
    std::unique_ptr<TPlantOverview> Overview;
};

TEST_F(PlantOverview, RowsFillFromBothLinesReadingOnlyWhatTheyShow) {
    // A device on a line that cannot be opened, and one without a port.
    auto gone = std::make_unique<TProtoUART>(Ports.Stats());
    ASSERT_TRUE(gone->SetPortName("ttyNONE9"));
    const int32_t goneId = gone->Id;
    Ports.Add(std::move(gone));
    for (int32_t port : {goneId, 0}) {
        auto device = std::make_unique<TTovikDevice>(kKindTovik);
        device->PortId = port;
        device->InstallationName = port ? "Склад" : "Резерв";
        Devices.Add(std::move(device));
    }
    Overview->Start();
    ASSERT_TRUE(Rounds(1));
    ASSERT_EQ(Overview->Rows().size(), 6u);
    for (size_t i = 0; i < 4; ++i) {
        const auto& relay = kPlantRelays[i];
        const TOverviewRow& r = Row(i);
        SCOPED_TRACE(relay.Name);
        EXPECT_EQ(r.Name, relay.Name);
        EXPECT_EQ(r.KindName, DeviceKindName(relay.Kind));
        EXPECT_EQ(r.PortName, Plant.Port(relay.Line));
        EXPECT_EQ(r.Bus, relay.Bus);
        EXPECT_EQ(r.Answer, TAnswer::Yes);
        EXPECT_EQ(OverviewCellText(r, ColAnswer), "да");
        EXPECT_EQ(r.State, "СТОП");
        // The transformation ratio is known: the currents are the relay's.
        for (const std::string& c : r.Currents) EXPECT_EQ(c, "0,00 A");
        EXPECT_EQ(r.AlarmCount, 0);
        EXPECT_EQ(r.LastAnswer.size(), std::string("7.03.2026 12:00:00").size()) << r.LastAnswer;
        EXPECT_EQ(r.Marks, kMarkNone);
    }
    EXPECT_EQ(Row(4).Answer, TAnswer::No);
    EXPECT_EQ(Row(4).Reason.rfind("порт недоступен: нет такого устройства (", 0), 0u) << Row(4).Reason;
    EXPECT_EQ(Row(5).Reason, "Не настроено подключение.");
    EXPECT_FALSE(Overview->AllWell());
    EXPECT_TRUE(Overview->TakeNews().empty()) << "never answered is not stopped answering";

    // Only the reads of a row; never the state poll, which takes the
    // relay's change marks from its panel.
    for (const auto& req : Plant.Log(0))
        EXPECT_EQ(kOverviewCommands.count(req.Command.value_or(-1)), 1u) << req.Line;
    for (const auto& req : Plant.Log(1)) EXPECT_NE(req.Register, 58) << req.Line;
}

TEST_F(PlantOverview, ATripIsMarkedUntilAcknowledged) {
    Overview->Start();
    ASSERT_TRUE(Rounds(1));
    ASSERT_TRUE(Overview->AllWell());
    // Tripped between two passes over the relay (a trip in the middle of one
    // is told the next time round).
    Overview->Stop();
    ASSERT_EQ(Plant.Command(0, "trip 2 4"), "ok");
    Overview->Start();
    ASSERT_TRUE(RunUntil([&] { return Row(1).Marks != kMarkNone; }));
    const TOverviewRow& r = Row(1);
    EXPECT_EQ(r.Marks, kMarkAlarm);
    EXPECT_TRUE(r.InAlarm());
    EXPECT_EQ(r.AlarmCount, 1);
    // The status bar's words: the newest record's time and cause.
    EXPECT_EQ(r.State.rfind("АВАРИЯ 7.03.2026 12:0", 0), 0u) << r.State;
    EXPECT_NE(r.State.find(" " + EventText(4) + " Ia="), std::string::npos) << r.State;
    const auto news = Overview->TakeNews();
    ASSERT_EQ(news.size(), 1u);
    EXPECT_EQ(news[0].RowId, r.Id);
    EXPECT_EQ(news[0].Text, "Авария: «Насосная 2» — " + r.State);
    EXPECT_EQ(Overview->StandingNews(), news[0].Text);
    for (size_t i : {0u, 2u, 3u}) EXPECT_EQ(Row(i).Marks, kMarkNone) << i;
    EXPECT_FALSE(Overview->AllWell());

    EXPECT_TRUE(Overview->Acknowledge(r.Id));
    EXPECT_FALSE(Overview->Acknowledge(r.Id));
    EXPECT_EQ(Overview->StandingNews(), "");
    // Still in the alarm state a round later: nothing new to mark.
    ASSERT_TRUE(Rounds(Overview->CompletedRounds() + 2));
    EXPECT_EQ(Row(1).Marks, kMarkNone);
    EXPECT_TRUE(Overview->TakeNews().empty());
}

TEST_F(PlantOverview, ALineThatStopsAnsweringIsMarked) {
    Overview->Start();
    ASSERT_TRUE(Rounds(1));
    // From here on only silence is awaited.
    Ports.Items(1)->ReplyTimeout = 50;
    ASSERT_EQ(Plant.Command(1, "silent"), "ok");
    ASSERT_TRUE(RunUntil([&] { return Row(2).Marks && Row(3).Marks; }));
    for (size_t i : {2u, 3u}) {
        EXPECT_EQ(Row(i).Marks, kMarkSilent);
        EXPECT_EQ(Row(i).Reason, "нет ответа");
        EXPECT_EQ(Row(i).State, "Недоступно");
        EXPECT_EQ(Row(i).Currents[0], "Н/Д");
        EXPECT_FALSE(Row(i).LastAnswer.empty());
    }
    std::vector<std::string> texts;
    for (const auto& n : Overview->TakeNews()) texts.push_back(n.Text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"Нет связи: «Вентиляция 1» — нет ответа",
                                               "Нет связи: «Вентиляция 2» — нет ответа"}));
    EXPECT_EQ(Row(0).Answer, TAnswer::Yes);
    EXPECT_EQ(Row(0).Marks, kMarkNone);
    // Answering again, the mark stays until it is acknowledged.
    ASSERT_EQ(Plant.Command(1, "speak"), "ok");
    ASSERT_TRUE(RunUntil([&] { return Row(2).Answer == TAnswer::Yes && Row(3).State == "СТОП"; }));
    EXPECT_EQ(Row(3).Marks, kMarkSilent);
}

TEST_F(PlantOverview, TheOpenPanelsDeviceIsReadByThePanelAloneAndBetweenItsCycles) {
    TPanelEnvironment env;
    env.Ports = &Ports;
    env.Locale = kRu;
    Panel = std::make_unique<TTovikPanel>(std::move(env));
    Panel->AttachDevice(&Device(0));
    Panel->FillPortBox();
    Overview->Start();
    ASSERT_TRUE(
        RunUntil([&] { return Overview->CompletedRounds() >= 3 && Panel->Poll().CompletedCycles() >= 3; }));
    const TOverviewRow& r = Row(0);
    EXPECT_TRUE(r.FromPanel);
    EXPECT_EQ(r.Answer, TAnswer::Yes);
    EXPECT_EQ(r.State, Panel->Data().StatusText());
    EXPECT_EQ(r.Currents[0], "0,00 A");

    // Between two state polls of the panel, each of the row's reads once;
    // and after a read of the overview, the panel's next request is a poll.
    const auto log = Plant.Log(0);
    std::map<long, int> sincePoll;
    bool afterOverview = false;
    for (const auto& req : log) {
        const long command = req.Command.value_or(-1);
        if (req.Address == 2) {
            afterOverview = true;
            continue;
        }
        if (command == CmdReadCell) sincePoll.clear();
        EXPECT_FALSE(afterOverview && command != CmdReadCell) << "inside a cycle: " << req.Line;
        afterOverview = false;
        EXPECT_LE(++sincePoll[command], command == CmdReadTask || command == CmdReadAlarm ? 100 : 1)
            << req.Line;
    }

    // The panel closed, the overview reads the relay again.
    Panel.reset();
    const size_t before = log.size();
    ASSERT_TRUE(Rounds(Overview->CompletedRounds() + 2));
    const auto later = Plant.Log(0);
    EXPECT_TRUE(std::any_of(later.begin() + static_cast<ptrdiff_t>(before), later.end(),
                            [](const auto& req) { return req.Address == 1 && req.Command == CmdReadState; }));
    EXPECT_FALSE(Row(0).FromPanel);
}

TEST_F(PlantOverview, StopEndsItsTrafficAtOnce) {
    Overview->Start();
    ASSERT_TRUE(Rounds(2));
    std::set<long> registers;  // what the overview reads on the ModBus line
    for (const auto& req : Plant.Log(1)) registers.insert(req.Register.value_or(-1));
    Overview->Stop();
    const size_t stopped[2] = {Plant.Log(0).size(), Plant.Log(1).size()};

    // A clock read of our own on each line, behind whatever the overview
    // had queued; the overview ticking on meanwhile.
    auto results = std::make_shared<TResultEventsList>();
    int pending = 0;
    auto marker = [&] {
        for (int line = 0; line < 2; ++line) {
            TProtoPort& port = *Ports.Items(line);
            const auto& relay = kPlantRelays[line * 2];
            ASSERT_TRUE(RequestReadClock(port, relay.Bus, port.RegisterOwner(), relay.Kind, results,
                                         [&](const TReply& r) {
                                             EXPECT_TRUE(r.Ok());
                                             --pending;
                                         }));
            ++pending;
        }
        ASSERT_TRUE(RunUntil([&] {
            while (!results->IsEmpty()) results->DispatchOne();
            return pending == 0;
        }));
    };
    marker();
    const size_t marked[2] = {Plant.Log(0).size(), Plant.Log(1).size()};
    // Before the markers: at most the request that was on the line.
    auto overviewReads = [&](int line, size_t from, size_t to) {
        const auto log = Plant.Log(line);
        return std::count_if(log.begin() + static_cast<ptrdiff_t>(from),
                             log.begin() + static_cast<ptrdiff_t>(to), [&](const auto& req) {
                                 return line == 0 ? kOverviewCommands.count(req.Command.value_or(-1)) > 0
                                                  : registers.count(req.Register.value_or(-1)) > 0;
                             });
    };
    EXPECT_LE(overviewReads(0, stopped[0], marked[0]), 1);
    EXPECT_LE(overviewReads(1, stopped[1], marked[1]), 2);  // one request, up to two ModBus steps
    marker();
    for (int line = 0; line < 2; ++line) {
        EXPECT_GT(Plant.Log(line).size(), marked[line]);
        EXPECT_EQ(overviewReads(line, marked[line], Plant.Log(line).size()), 0) << line;
    }
}

}  // namespace
}  // namespace tovik
