// The panel model's setpoint files, report and current trend: what a
// restore sends on the panel's own requests, what it refuses, how the
// compare follows the relay, and what the trend takes from the polls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "PanelTestRig.h"
#include "panel/SettingsView.h"
#include "protocol/UstTable.h"

namespace tovik {
namespace {

using test::PutF32;
using test::PutU32;
using test::TPanelRig;

// The rig's relay holds settings within model 3's limits.
void GoodSettings(test::TRelayState& relay) {
    PutU32(relay.Setpoints, 0, 1500);   // Iпор
    PutU32(relay.Setpoints, 8, 12500);  // Inom
    relay.Setpoints[46] = 1;            // the bus number
    relay.Setpoints[50] = 7;            // made on 7.03.2026
    relay.Setpoints[51] = 3;
    relay.Setpoints[52] = 26;
}

TEST(PanelSetpointFiles, RestoreWritesOnlyTheDifferingPermittedItemsOnThePanelsOwnerThenReadsBack) {
    TPanelRig rig(kKindTovikMModbus, 1);
    GoodSettings(rig.Relay);
    TTovikPanel& p = rig.Open();
    EXPECT_FALSE(p.Files().FileNow());  // nothing read yet
    EXPECT_FALSE(p.Files().RestoreReady());
    rig.Cycle();
    ASSERT_TRUE(p.Files().RestoreReady());
    auto file = p.Files().FileNow();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->ModelByte, 0x13);
    file->Items[0].Raw = 2000;   // Iпор 2 A: written
    file->Items[2].Raw = 15000;  // Inom 15 A: written
    file->Items[8].Raw = 65535;  // Tnom beyond its limits: kept out
    file->Items[16].Raw = 9;     // another bus number: kept out
    file->Items[21].Raw = 4242;  // the serial number: service level only
    rig.Sent.clear();
    const uint32_t rev = p.Files().Revision();
    const TIntentResult restore = p.Files().Restore(*file);
    ASSERT_EQ(restore.State, TIntentState::Sent);
    EXPECT_TRUE(p.Files().RestoreRunning());
    EXPECT_NE(p.Files().Revision(), rev);
    EXPECT_FALSE(p.Files().RestoreReady());
    EXPECT_EQ(p.Files().Restore(*file).Reason, TRefusalReason::NotNow);  // one at a time
    // The relay takes Iпор but refuses Inom.
    PutU32(rig.Relay.Setpoints, 0, 2000);
    rig.Drain();
    ASSERT_EQ(rig.Codes(), (std::vector<uint8_t>{CmdWriteCell, CmdWriteCell, CmdReadUst}));
    EXPECT_EQ(rig.Sent[0].Param1, 0);
    EXPECT_EQ(rig.Sent[0].Data, (TBlock{0xD0, 0x07, 0, 0}));
    EXPECT_EQ(rig.Sent[1].Param1, 8);
    for (const test::TSent& s : rig.Sent) EXPECT_EQ(s.Owner, p.Link().OwnerId());
    EXPECT_FALSE(p.Files().RestoreRunning());
    EXPECT_EQ(p.Link().Result(restore.Id)->State, TIntentState::Done);
    ASSERT_TRUE(p.Files().LastRestore());
    const TRestoreReport& report = *p.Files().LastRestore();
    EXPECT_TRUE(report.ReadBack);
    EXPECT_EQ(report.Written, 2);
    ASSERT_EQ(report.Items.size(), 5u);
    EXPECT_TRUE(report.Items[0].Matches);
    EXPECT_FALSE(report.Items[1].Matches);
    EXPECT_EQ(report.Items[1].RelayText, "12,5");
    EXPECT_EQ(report.Items[2].Action, TRestoreAction::OutOfLimits);
    EXPECT_EQ(report.Items[3].Action, TRestoreAction::BusNumber);
    EXPECT_EQ(report.Items[4].Action, TRestoreAction::Access);
    const auto messages = p.TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Text, RestoreReportText(report));
    EXPECT_TRUE(messages[0].Error);
    // The grid shows what the relay holds now.
    EXPECT_EQ(p.Settings().Grid()[1][3], "2,00");
}

TEST(PanelSetpointFiles, RestoreIsRefusedForReadOnlyAnotherKindAndBeforeASetpointRead) {
    {
        TPanelRig rig(kKindTovik, 2);
        GoodSettings(rig.Relay);
        TTovikPanel& p = rig.Open();
        rig.Cycle();
        auto file = p.Files().FileNow();
        ASSERT_TRUE(file);  // saving is reading: every level may
        file->Items[0].Raw = 2000;
        rig.Sent.clear();
        EXPECT_FALSE(p.Files().RestoreReady());
        const TIntentResult r = p.Files().Restore(*file);
        EXPECT_EQ(rig.Port->QueueLength(), 0u);
        EXPECT_EQ(r.Reason, TRefusalReason::ReadOnly);
        EXPECT_EQ(r.Text, "Доступ только для чтения: уставки не записаны.");
    }
    {
        TPanelRig rig(kKindTovikM, 0);
        GoodSettings(rig.Relay);
        TTovikPanel& p = rig.Open();
        TSetpointBlock block{};
        std::copy(rig.Relay.Setpoints.begin(), rig.Relay.Setpoints.end(), block.begin());
        block[0] = 0x99;
        const TSetpointFile other =
            MakeSetpointFile(block, kKindTovik, 0x13, 0, "x", TLocalTime{}, "service", test::kRu);
        // Nothing read yet.
        EXPECT_EQ(p.Files().Restore(other).Text, "Уставки устройства ещё не прочитаны. Ничего не записано.");
        rig.Cycle();
        rig.Sent.clear();
        const TIntentResult r = p.Files().Restore(other);
        EXPECT_EQ(rig.Port->QueueLength(), 0u);
        EXPECT_EQ(r.Reason, TRefusalReason::OtherKind);
        EXPECT_NE(r.Text.find("другого типа"), std::string::npos);
    }
}

TEST(PanelSetpointFiles, RestoreAfterAFailedPollSendsNothing) {
    TPanelRig rig(kKindTovikModbus, 1);
    GoodSettings(rig.Relay);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    auto file = p.Files().FileNow();
    file->Items[0].Raw = 2000;
    rig.Relay.Fail[CmdReadCell] = 1;
    rig.Clock.Advance(200);
    rig.Cycle();
    rig.Sent.clear();
    EXPECT_EQ(p.Files().Restore(*file).Text, "Нет связи с устройством. Ничего не записано.");
    EXPECT_EQ(rig.Port->QueueLength(), 0u);
}

TEST(PanelSetpointFiles, TheCompareFollowsEverySetpointRead) {
    TPanelRig rig(kKindTovik, 1);
    GoodSettings(rig.Relay);
    TTovikPanel& p = rig.Open();
    rig.Cycle();
    auto file = p.Files().FileNow();
    file->Items[2].Raw = 15000;
    const TSetpointComparison* c = p.Files().Compare(*file);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Differing(), 1);
    EXPECT_TRUE(c->Items[2].Differs);
    EXPECT_EQ(c->Items[2].RelayText, "12,5");
    EXPECT_EQ(c->Items[2].FileText, "15,0");
    // The relay changes: the next setpoint read updates the compare.
    PutU32(rig.Relay.Setpoints, 8, 15000);
    rig.Relay.SettingsChanged = true;
    const uint32_t rev = p.Files().Revision();
    rig.Clock.Advance(200);
    rig.Cycle();
    EXPECT_NE(p.Files().Revision(), rev);
    ASSERT_TRUE(p.Files().Comparison());
    EXPECT_EQ(p.Files().Comparison()->Differing(), 0);
    p.Files().EndCompare();
    EXPECT_FALSE(p.Files().Comparison());
}

TEST(PanelSetpointFiles, TheReportNamesTheRelayAndEveryItem) {
    TPanelRig rig(kKindTovikMModbus, 1);
    GoodSettings(rig.Relay);
    rig.Env.Account = "Иванов";
    rig.Device.InstallationName = "Насосная 3";
    rig.Device.BusAddress = 4;
    TTovikPanel& p = rig.Open();
    EXPECT_FALSE(p.Files().Report());
    rig.Cycle();
    const auto r = p.Files().Report();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Title, "Отчёт об уставках");
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"Электроустановка", "Насосная 3"},
        {"Тип устройства", "ТовикМ ModBus"},
        {"Модель", ModelDescription(0x13, kKindTovikMModbus).substr(0, ModelDescription(0x13, 3).find('\r'))},
        {"Номер в магистрали", "4"},
        {"Порт", "ttyT0"},
        {"Дата", "7.03.2026 09:05:03"},
        {"Учётная запись", "Иванов"},
    };
    ASSERT_EQ(r->Fields.size(), fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(r->Fields[i].first, fields[i].first);
        if (i != 2) {
            EXPECT_EQ(r->Fields[i].second, fields[i].second);
        }
    }
    EXPECT_EQ(r->Fields[2].second.rfind(fields[2].second, 0), 0u) << r->Fields[2].second;
    EXPECT_EQ(r->Fields[2].second.find('\r'), std::string::npos);
    ASSERT_EQ(r->Table.size(), 26u);
    EXPECT_EQ(r->Table[0], (TTextRow{"№", "Функция/наименование", "мин", "макс", "значение"}));
    EXPECT_EQ(r->Table[3], (TTextRow{"2", UstCellName(2), "0;1,60", "250", "12,5"}));
}

TEST(PanelTrend, EveryCurrentReadOfThePollsIsOneSampleAndNothingMoreIsSent) {
    TPanelRig rig(kKindTovikMModbus, 2);
    rig.Env.WallClockMs = [] { return int64_t{1772870400000}; };
    TTovikPanel& p = rig.Open();
    for (int i = 0; i < 5; ++i) {
        PutF32(rig.Relay.Currents, 0, 10000.0f + 1000.0f * static_cast<float>(i));
        PutF32(rig.Relay.Currents, 4, 10500.0f);
        PutF32(rig.Relay.Currents, 8, 9500.0f);
        rig.Clock.Advance(250);
        rig.Cycle();
    }
    const auto codes = rig.Codes();
    EXPECT_EQ(static_cast<size_t>(std::count(codes.begin(), codes.end(), CmdReadCurrents)), 5u);
    ASSERT_EQ(p.Data().Trend().Size(), 5u);
    const auto samples = p.Data().Trend().Samples(60000);
    ASSERT_EQ(samples.size(), 5u);
    EXPECT_EQ(samples[0].WallMs, 1772870400000);
    EXPECT_EQ(samples[4].WallMs - samples[0].WallMs, 4 * 250);
    EXPECT_DOUBLE_EQ(samples[4].Amps[0], 14.0);
    EXPECT_DOUBLE_EQ(samples[4].Amps[1], 10.5);
    EXPECT_DOUBLE_EQ(samples[4].Amps[3], 4.5);
    // A failed read leaves a gap.
    rig.Relay.Fail[CmdReadCurrents] = 1;
    rig.Clock.Advance(250);
    rig.Cycle();
    ASSERT_EQ(p.Data().Trend().Size(), 6u);
    EXPECT_TRUE(std::isnan(p.Data().Trend().Newest().Amps[0]));
}

}  // namespace
}  // namespace tovik
