// The panel's set-up, its tick, and what the state poll and the setpoint
// read mean for every part.
#include "panel/TovikPanel.h"

#include <algorithm>

#include "base/Clock.h"
#include "protocol/Builders.h"
#include "protocol/Commands.h"
#include "protocol/UstTable.h"

namespace tovik {

TTovikPanel::TTovikPanel(TPanelEnvironment Environment)
    : Env(std::move(Environment)),
      Rights(PanelAccess(Env.AccessLevel)),
      LinkPart(Env),
      PollPart(LinkPart),
      View(kKindTovik, Env.Locale),
      AlarmsPart(Env, LinkPart, PollPart, View, [this] { DataPart.AlarmsChanged(); }),
      DataPart(Env, LinkPart, PollPart, View, AlarmsPart),
      SettingsPart(Env, LinkPart, PollPart, View),
      TaskLogPart(Env, LinkPart, PollPart, Messages),
      CalibrationPart(Env, LinkPart, PollPart),
      FilesPart(Env, LinkPart, View, DataPart, Messages, [this](const TReply& r) { OnSetpoints(r); }) {}

TTovikPanel::~TTovikPanel() {
    if (TTovikDevice* dev = Link().Device()) dev->PanelHandler = nullptr;
}

bool TTovikPanel::ButtonEnabled(TPanelButton Button) const {
    return DataPart.ButtonEnabled(Button) || TaskLogPart.ButtonEnabled(Button) ||
           AlarmsPart.ButtonEnabled(Button) ||
           (Button == BtnStartCalibration && CalibrationPart.StartEnabled());
}

std::string TTovikPanel::ButtonCaption(TPanelButton Button) const {
    if (Button == BtnAutomation) return DataPart.AutomationCaption();
    return ButtonInfo(Button).Caption;
}

// ---- set-up ----

void TTovikPanel::AttachDevice(TTovikDevice* Device) {
    if (!Device) return;
    LinkPart.Bind(Device);
    Device->SetPanelHandler(
        [this](TMemoryStream& block, bool restore) { PanelLayoutHandler(block, restore); });
    SetupForKind();
    AlarmsPart.Show();
    PollPart.Flags().RefreshAll = true;
    PollPart.Flags().ReloadTaskLog = true;
    if (TProtoPort* port = CurrentPort()) LinkPart.EnsureOwner(*port);
}

void TTovikPanel::FillPortBox() {
    // The first poll is due at once.
    if (SettingsPart.FillPortBox()) PollPart.PollNow();
}

void TTovikPanel::SetLayoutView(std::function<TPanelLayout()> Read,
                                std::function<void(const TPanelLayout&)> Apply) {
    ReadLayout = std::move(Read);
    ApplyLayout = std::move(Apply);
}

void TTovikPanel::PanelLayoutHandler(TMemoryStream& Block, bool Restore) {
    if (Restore) {
        // A block of fewer than 16 bytes has no layout to apply.
        if (const auto layout = ReadPanelLayout(Block); layout && ApplyLayout) ApplyLayout(*layout);
        return;
    }
    // The layout the operator leaves is the one the next panel restores.
    if (ReadLayout)
        WritePanelLayout(Block, ReadLayout());
    else
        Block.Clear();
}

void TTovikPanel::SetupForKind() {
    DataPart.SetupForKind();
    SettingsPart.SetupGrid();
    TaskLogPart.SetupForKind();
    CalibrationPart.SetupForKind();
}

// ---- the port ----

TProtoPort* TTovikPanel::CurrentPort() {
    TTovikDevice* dev = LinkPart.Device();
    if (!dev) return nullptr;
    if (TProtoPort* port = LinkPart.DevicePort()) {
        NoPortShown = false;
        // A port that went away and came back (or was replaced under the
        // same Id) gets a fresh registration, so that polling resumes.
        LinkPart.EnsureOwner(*port);
        return port;
    }
    LinkPart.DropOwner();
    SettingsPart.PortLost();
    // Nothing runs while there is no port, so what was blanked stays blank:
    // once is enough.
    if (!NoPortShown) {
        BlankDisplays();
        PollPart.Flags().ReloadSettings = true;
        NoPortShown = true;
    }
    // An unknown kind is the first thing the operator must know about.
    DataPart.ShowStatus(dev->HasKnownKind() ? std::string(kMsgNoConnection) : LinkPart.AddressProblem());
    return nullptr;
}

bool TTovikPanel::HasConnection() {
    return LinkPart.Device() && CurrentPort() && LinkPart.AddressProblem().empty();
}

void TTovikPanel::BlankDisplays() {
    DataPart.Blank();
    OnSetpoints(TReply{});
}

void TTovikPanel::SetCommandsUp(bool On) {
    DataPart.SetCommandsUp(On);
    AlarmsPart.SetCommandsUp(On);
    if (!On) TaskLogPart.CommandsDown();
    CalibrationPart.SetCommandsUp(On);
}

// ---- the timer ----

void TTovikPanel::Tick() {
    DataPart.EnPuskTimerTimer();
    PollPart.ForgetLostPorts();
    TProtoPort* port = CurrentPort();
    if (!port) return;
    if (const std::string problem = LinkPart.AddressProblem(); !problem.empty()) {
        DataPart.ShowStatus(problem);
        LinkPart.Results()->DispatchOne();
        return;
    }
    if (PollPart.Due(*port))
        PollPart.QueueStatePoll(*port, [this](const TReply& r) { OnStatePoll(r); });
    else
        LinkPart.Results()->DispatchOne();
}

uint32_t TTovikPanel::NextTickInMs() {
    if (!LinkPart.Results()->IsEmpty()) return 0;
    uint32_t due = std::min(kIdleTickMs, DataPart.EnPuskMsLeft().value_or(kIdleTickMs));
    const TProtoPort* port = LinkPart.DevicePort();
    if (port && LinkPart.AddressProblem().empty())
        if (const auto poll = PollPart.NextPollInMs(*port)) due = std::min(due, *poll);
    return due;
}

// ---- the state poll and the setpoint read ----

void TTovikPanel::OnStatePoll(const TReply& Reply) {
    PollPart.StatePollDone();
    const auto poll = DecodeStatePoll(Reply.Ok(), Reply.Data);
    if (poll && HasConnection()) {
        TTovikDevice* dev = LinkPart.Device();
        View.OnStatePoll(*poll);
        dev->VariantByte = poll->VariantByte;
        // The model byte the last setpoint read holds (none when its byte
        // did not arrive).
        const bool matches = View.SetpointBytes() > kUstOffsetModel &&
                             View.SetpointBlock()[kUstOffsetModel] == poll->ModelByte;
        for (TPollRead read :
             PollPart.Answered(*poll, matches, Rights == TPanelAccess::Service, dev->GetDeviceKind()))
            Read(read);
        return;
    }
    // No answer (or no device or port): nothing shown is current any more.
    DataPart.Blank(ReadOutcome(Reply, kStatePollReplySize));
    OnSetpoints(TReply{});
    TaskLogPart.PollFailed();
    SetCommandsUp(false);
    PollPart.Unanswered();
}

void TTovikPanel::Read(TPollRead Read) {
    switch (Read) {
        case TPollRead::Setpoints:
            PollPart.Read(RequestReadUst, "setpoints", kSetpointBlockSize,
                          [this](const TReply& r) { OnSetpoints(r); });
            break;
        case TPollRead::CalibrationInfo:
            CalibrationPart.Read();
            break;
        case TPollRead::TaskLog:
            TaskLogPart.StartRead();
            break;
        case TPollRead::AlarmCount:
            AlarmsPart.ReadCount();
            break;
        default:
            DataPart.Read(Read);
            break;
    }
}

void TTovikPanel::OnSetpoints(const TReply& Reply) {
    View.OnSetpoints(Reply.Ok(), Reply.Data);
    const bool whole = Reply.Ok() && Reply.Data && Reply.Data->size() >= kSetpointBlockSize;
    if (whole) {
        SetupForKind();
        AlarmsPart.Show();
        SettingsPart.Fill(&View.SetpointBlock(), kSetpointBlockSize);
        FilesPart.RefreshComparison();
        if (Rights != TPanelAccess::ReadOnly) SetCommandsUp(true);
        return;
    }
    // A block cut short still shows the items whose bytes arrived; it is
    // read again with the next poll.
    if (Reply.Ok() && Reply.Data && !Reply.Data->empty())
        SettingsPart.Fill(&View.SetpointBlock(), View.SetpointBytes());
    else
        SettingsPart.Fill(nullptr, 0);
    PollPart.Flags().RefreshAll = true;
}

}  // namespace tovik
