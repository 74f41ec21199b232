#include "protocol/Builders.h"

#include <algorithm>

#include "base/Clock.h"
#include "ports/ProtoPort.h"
#include "protocol/Commands.h"
#include "protocol/Executor.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {

constexpr TCommandDescriptor Plain(uint8_t code) {
    return {code, -1, 0};
}
constexpr TCommandDescriptor Indexed(uint8_t code, uint8_t index) {
    return {code, index, -1};
}

struct TBuildSpec {
    TCommandDescriptor Command;
    TBlockPtr Data;  // the outgoing block, or none
    int32_t TxLength = 0;
    int32_t RxLength = 0;
    int32_t ExtraTimeout = kExtraShort;
};

TBlockPtr Block(std::initializer_list<uint8_t> bytes) {
    return std::make_unique<TBlock>(bytes);
}

bool Queue(TProtoPort& port, uint8_t address, int32_t ownerId, uint8_t kind, TEvents results,
           TResultHandler onResult, TBuildSpec spec, int presetAt = -1, uint8_t presetValue = 0) {
    // A configuration file may hold any kind byte and bus number; no request
    // speaks an unknown kind or goes to an address outside 1..250 (0 is the
    // ModBus broadcast, acted on by every relay of the line).
    if (kind > kMaxDeviceKind || !IsValidBusAddress(address)) return false;
    TBlockPtr reply;
    if (spec.RxLength > 0) {
        reply = std::make_unique<TBlock>(static_cast<size_t>(spec.RxLength), 0);
        if (presetAt >= 0 && presetAt < spec.RxLength) (*reply)[static_cast<size_t>(presetAt)] = presetValue;
    }
    const TBlock* txRef = spec.Data.get();
    uint8_t* rx = reply ? reply->data() : nullptr;
    auto request = MakeRequest(&port, address, kind, spec.Command, std::move(spec.Data), spec.TxLength, rx,
                               spec.RxLength, spec.ExtraTimeout, kBuilderTries);
    port.PutJob(MakeJob(std::move(request), txRef, std::move(reply), ownerId, std::move(results),
                        ExecuteRequest, std::move(onResult)));
    return true;
}

TBuildSpec Read(TCommandDescriptor command, size_t rxLength, int32_t extra) {
    TBuildSpec s;
    s.Command = command;
    s.RxLength = static_cast<int32_t>(rxLength);
    s.ExtraTimeout = extra;
    return s;
}

TBuildSpec Send(TCommandDescriptor command, TBlockPtr data, int32_t extra) {
    TBuildSpec s;
    s.Command = command;
    s.TxLength = data ? static_cast<int32_t>(data->size()) : 0;
    s.Data = std::move(data);
    s.ExtraTimeout = extra;
    return s;
}

bool ValidRow(int row) {
    return row >= 0 && row < kUstCellCount;
}

}  // namespace

TLocalTime ToLocalTime(std::time_t t) {
    const std::tm tm = LocalCalendarTime(t);
    return {tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900};
}

TLocalTime LocalTimeNow() {
    return ToLocalTime(std::time(nullptr));
}

bool RequestStart(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                  TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Send(Plain(CmdStart), nullptr, kExtraShort));
}

bool RequestStop(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                 TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Send(Plain(CmdStop), nullptr, kExtraShort));
}

bool RequestReadUst(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                    TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadUst), kUstBlockReplySize, kExtraMedium));
}

bool RequestReadCell(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult, int Row) {
    if (!ValidRow(Row)) return false;
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(UstCells[static_cast<size_t>(Row)].ReadCommand, kCellReplySize, kExtraShort));
}

bool RequestWriteCell(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult, int Row, const TUstRaw& Raw) {
    if (!ValidRow(Row)) return false;
    const TCommandDescriptor& command = UstCells[static_cast<size_t>(Row)].WriteCommand;
    TBuildSpec s = Send(command, std::make_unique<TBlock>(Raw.begin(), Raw.end()), kExtraShort);
    s.TxLength = std::clamp<int32_t>(command.Param2, 0, static_cast<int32_t>(Raw.size()));
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult), std::move(s));
}

bool RequestReadTimers(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                       TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadTimers), kTimersReplySize, kExtraMedium));
}

bool RequestReadAlarmCount(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                           TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadAlarmCount), kAlarmCountReplySize, kExtraLong));
}

bool RequestReadAlarm(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult, uint8_t Record) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Indexed(CmdReadAlarm, Record), kAlarmRecordSize, kExtraLong));
}

bool RequestClearAlarms(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                        TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Send(Plain(CmdClearAlarms), nullptr, kExtraShort));
}

bool RequestReadCurrents(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                         TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadCurrents), kCurrentsReplySize, kExtraShort));
}

bool RequestReadImax(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadImax), kImaxReplySize, kExtraShort));
}

bool RequestReadTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult, uint8_t Entry) {
    // The ModBus translation leaves byte 12 alone, so the handler always
    // finds the index it asked for there.
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Indexed(CmdReadTask, Entry), kTaskReplySize, kExtraLong), kTaskIndexByte, Entry);
}

bool RequestWriteTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult, uint8_t Entry, const TTaskEntry& Data) {
    return Queue(
        Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
        Send(Indexed(CmdWriteTask, Entry), std::make_unique<TBlock>(Data.begin(), Data.end()), kExtraLong));
}

bool RequestReadAlarmCounters(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind,
                              TEvents Results, TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadAlarmCounters), kAlarmCountersSize, kExtraMedium));
}

bool RequestResetAlarmCounters(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind,
                               TEvents Results, TResultHandler OnResult) {
    return Queue(
        Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
        Send(Plain(CmdResetAlarmCounters), std::make_unique<TBlock>(kAlarmCountersSize, 0), kExtraLong));
}

bool RequestReadState(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadState), kStateReplySize, kExtraShort));
}

bool RequestReadClock(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadClock), kDeviceTimeSize, kExtraShort));
}

bool RequestSetClock(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult, const TLocalTime& Now) {
    auto b = [](int v) { return static_cast<uint8_t>(v); };
    return Queue(
        Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
        Send(Plain(CmdSetClock),
             Block({b(Now.Hour), b(Now.Minute), b(Now.Second), b(Now.Day), b(Now.Month), b(Now.Year % 1000)}),
             kExtraShort));
}

bool RequestSetClock(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult) {
    return RequestSetClock(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                           LocalTimeNow());
}

bool RequestReadCalInfo(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                        TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadCalInfo), kCalInfoReplySize, kExtraShort));
}

bool RequestDeleteTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                       TResultHandler OnResult, uint8_t Entry, uint8_t Count) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Send(Plain(CmdDeleteTask), Block({Entry, Count}), kExtraLong));
}

bool RequestAddTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                    TResultHandler OnResult, uint8_t Entry, const TTaskEntry& Data) {
    auto block = std::make_unique<TBlock>();
    block->push_back(Entry);
    block->insert(block->end(), Data.begin(), Data.end());
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Send(Plain(CmdAddTask), std::move(block), kExtraLong));
}

bool RequestClearTasks(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                       TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Send(Plain(CmdClearTasks), nullptr, kExtraShort));
}

bool RequestReadStatistics(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                           TResultHandler OnResult) {
    return Queue(Port, Address, OwnerId, Kind, std::move(Results), std::move(OnResult),
                 Read(Plain(CmdReadStatistics), kStatisticsReplySize, kExtraShort));
}

}  // namespace tovik
