#pragma once
// A panel model on a port whose worker never runs: each job the panel
// queues stays in the port's queue until the test takes it, checks what it
// asks for and answers it, as a relay would, through the panel's result
// list. The engine's millisecond clock is the test's (ManualClock).
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panel/TovikPanel.h"
#include "ports/ProtoPortList.h"
#include "protocol/Commands.h"
#include "support/ManualClock.h"

namespace tovik::test {

inline const TLocaleFormat kRu{",", ".", ":"};

// A port with a queue and owners but no worker and no line.
class TQueuePort : public TProtoPort {
public:
    explicit TQueuePort(const std::string& name, int32_t interval = 100) : TProtoPort(nullptr) {
        StopWorker();
        Name = name;
        Id = NameId(name);
        RequestInterval = interval;
    }
    ~TQueuePort() override { StopWorker(); }
    void Open() override {}
    void Close() override {}
    bool IsOpen() const override { return true; }
    void DiscardInput() override {}
    bool LoadSettings(TStream&) override { return true; }
    bool SaveSettings(TStream&) override { return true; }
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override { return count; }
};

inline void PutU16(TBlock& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(TBlock& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutF32(TBlock& b, size_t at, float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    PutU32(b, at, bits);
}

// A command that only reads the relay.
inline bool IsReadCode(uint8_t code) {
    for (uint8_t c : {CmdReadUst, CmdReadCell, CmdReadTimers, CmdReadAlarmCount, CmdReadAlarm,
                      CmdReadCurrents, CmdReadImax, CmdReadTask, CmdReadAlarmCounters, CmdReadState,
                      CmdReadClock, CmdReadCalInfo, CmdReadStatistics})
        if (code == c) return true;
    return false;
}

// What one job asked for.
struct TSent {
    uint8_t Code = 0;
    int32_t Param1 = -1;
    uint8_t Address = 0;
    int32_t Owner = 0;
    TBlock Data;  // the bytes the request sends
    bool HasHandler = false;
};

// The relay the test plays: the reply block of each read, by command code.
struct TRelayState {
    uint8_t Model = 0x13;  // model code 3
    bool SettingsChanged = false;
    bool TaskLogChanged = false;
    uint8_t Variant = 0;
    TBlock Setpoints = TBlock(57, 0);
    TBlock Currents = TBlock(12, 0);
    TBlock Imax = TBlock(4, 0);
    TBlock Timers = TBlock(17, 0);
    TBlock Counters = TBlock(14, 0);
    TBlock State = {0, 0, 0, 0};
    TBlock AlarmHeader = {0, 0};
    std::vector<TBlock> AlarmRecords;
    TBlock Clock = {12, 0, 0, 7, 3, 26};
    TBlock Statistics = TBlock(24, 0);
    TBlock CalInfo = {4, 0, 0};
    std::vector<TBlock> Tasks;  // 12-byte entries
    uint8_t TaskCapacity = 16;
    // Added to the entry a task reply names (0: the one asked).
    uint8_t TaskIndexShift = 0;
    // Commands that go unanswered (Ok false), and replies cut to a length.
    std::map<uint8_t, int> Fail;
    std::map<uint8_t, size_t> Cut;

    TRelayState() {
        PutU16(Setpoints, 24, 1);  // Kтр
        Setpoints[49] = Model;
    }
};

class TPanelRig {
public:
    explicit TPanelRig(uint8_t kind, uint8_t access = 1, int32_t interval = 100)
        : Ports(std::make_shared<TRequestStats>()), Device(kind) {
        auto port = std::make_unique<TQueuePort>("ttyT0", interval);
        Port = port.get();
        Ports.Add(std::move(port));
        Device.PortId = Port->Id;
        Env.Ports = &Ports;
        Env.AccessLevel = access;
        Env.Locale = kRu;
        Env.LocalTime = [this] { return Now; };
        Env.DeviceRenamed = [this](TDevice& d) { Renamed.push_back(d.InstallationName); };
    }
    ~TPanelRig() { Panel.reset(); }

    // Construction, AttachDevice and FillPortBox, as ShowPanel runs them.
    TTovikPanel& Open() {
        Panel = std::make_unique<TTovikPanel>(Env);
        Panel->AttachDevice(&Device);
        Panel->FillPortBox();
        return *Panel;
    }

    std::optional<TProtoJob> Next() {
        TProtoJob job;
        if (!Port->TakeJob(job)) return std::nullopt;
        return job;
    }

    static TSent Describe(const TProtoJob& job) {
        TSent s;
        s.Code = job.Request->Command.Code;
        s.Param1 = job.Request->Command.Param1;
        s.Address = job.Request->Address;
        s.Owner = job.OwnerId;
        if (job.Request->TxData)
            s.Data.assign(
                job.Request->TxData->begin(),
                job.Request->TxData->begin() + std::min<size_t>(job.Request->TxData->size(),
                                                                static_cast<size_t>(job.Request->TxLength)));
        s.HasHandler = static_cast<bool>(job.OnResult);
        return s;
    }

    // Answers a job as the worker would: the handler with how the request
    // ended (ok: answered, else no answer) and the block.
    static void Answer(TProtoJob& job, const TOutcome& outcome, std::optional<TBlock> data) {
        job.Results->AddEvent(std::move(job.OnResult), outcome,
                              data ? std::make_unique<TBlock>(std::move(*data)) : nullptr);
    }
    static void Answer(TProtoJob& job, bool ok, std::optional<TBlock> data) {
        Answer(job, ok ? kAnswered : TOutcome{}, std::move(data));
    }

    // The reply the relay gives to a job; none for commands without data.
    std::optional<TBlock> ReplyTo(const TProtoJob& job) {
        const auto& c = job.Request->Command;
        switch (c.Code) {
            case CmdReadCell:
                return TBlock{Relay.Model, uint8_t(Relay.SettingsChanged), uint8_t(Relay.TaskLogChanged),
                              Relay.Variant};
            case CmdReadUst:
                return Relay.Setpoints;
            case CmdReadCurrents:
                return Relay.Currents;
            case CmdReadImax:
                return Relay.Imax;
            case CmdReadTimers:
                return Relay.Timers;
            case CmdReadAlarmCounters:
                return Relay.Counters;
            case CmdReadState:
                return Relay.State;
            case CmdReadAlarmCount:
                return Relay.AlarmHeader;
            case CmdReadAlarm:
                if (c.Param1 >= 0 && static_cast<size_t>(c.Param1) < Relay.AlarmRecords.size())
                    return Relay.AlarmRecords[static_cast<size_t>(c.Param1)];
                return TBlock(19, 0);
            case CmdReadClock:
                return Relay.Clock;
            case CmdReadStatistics:
                return Relay.Statistics;
            case CmdReadCalInfo:
                return Relay.CalInfo;
            case CmdReadTask: {
                TBlock b(15, 0);
                const size_t n = Relay.Tasks.size();
                if (c.Param1 >= 0 && static_cast<size_t>(c.Param1) < n)
                    std::copy(Relay.Tasks[static_cast<size_t>(c.Param1)].begin(),
                              Relay.Tasks[static_cast<size_t>(c.Param1)].end(), b.begin());
                b[12] = static_cast<uint8_t>(c.Param1 + Relay.TaskIndexShift);
                b[13] = static_cast<uint8_t>(n);
                b[14] = Relay.TaskCapacity;
                return b;
            }
            default:
                return std::nullopt;
        }
    }

    // Answers every job waiting in the queue, oldest first.
    void AnswerQueued() {
        while (auto job = Next()) {
            const TSent s = Describe(*job);
            Sent.push_back(s);
            if (auto f = Relay.Fail.find(s.Code); f != Relay.Fail.end() && f->second != 0) {
                if (f->second > 0) --f->second;
                Answer(*job, false, std::nullopt);
                continue;
            }
            auto reply = ReplyTo(*job);
            if (reply)
                if (auto cut = Relay.Cut.find(s.Code); cut != Relay.Cut.end()) reply->resize(cut->second);
            Answer(*job, true, std::move(reply));
        }
    }

    // Answers and dispatches until nothing waits; one completion per tick.
    // Returns the ticks run.
    int Drain(int limit = 1000) {
        int ticks = 0;
        for (;;) {
            AnswerQueued();
            if (Panel->Link().Results()->IsEmpty() || ticks >= limit) return ticks;
            Panel->Tick();
            ++ticks;
        }
    }

    // One tick that must start a poll, and the whole cycle answered.
    void Cycle() {
        Drain();  // what earlier commands left in the result list
        const size_t before = Sent.size();
        Panel->Tick();
        ASSERT_EQ(Port->QueueLength(), 1u) << "no state poll queued";
        Drain();
        ASSERT_GT(Sent.size(), before);
        EXPECT_EQ(Sent[before].Code, CmdReadCell);
    }

    std::vector<uint8_t> Codes(size_t from = 0) const {
        std::vector<uint8_t> out;
        for (size_t i = from; i < Sent.size(); ++i) out.push_back(Sent[i].Code);
        return out;
    }

    ManualClock Clock{100000};
    TProtoPortList Ports;
    TQueuePort* Port = nullptr;
    TTovikDevice Device;
    TPanelEnvironment Env;
    TLocalTime Now{9, 5, 3, 7, 3, 2026};
    std::vector<std::string> Renamed;
    TRelayState Relay;
    std::vector<TSent> Sent;
    std::unique_ptr<TTovikPanel> Panel;
};

}  // namespace tovik::test
