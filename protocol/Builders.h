#pragma once
// The request builders: one per device operation. Each fills a request and
// its job and queues it on the port; the outcome arrives later through the
// result list as a call of OnResult (which may be empty) with the success
// flag and the reply block (none for commands without reply data).
//
// Every builder returns true when the request was queued. Every builder
// refuses a device kind other than 0..3 and a bus address outside 1..250,
// and the ones that take an item row a row outside the setpoint table.
#include <array>
#include <cstdint>
#include <ctime>
#include <memory>

#include "base/DeviceTypes.h"
#include "ports/Request.h"

namespace tovik {

inline constexpr int32_t kBuilderTries = 3;
inline constexpr int32_t kExtraShort = 200;
inline constexpr int32_t kExtraMedium = 450;
inline constexpr int32_t kExtraLong = 700;

// The PC's local date and time as the clock command sends it.
struct TLocalTime {
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Day = 1;
    int Month = 1;
    int Year = 2000;  // full year
};

// The PC's local time now.
TLocalTime LocalTimeNow();
TLocalTime ToLocalTime(std::time_t t);

using TEvents = std::shared_ptr<TResultEventsList>;

bool RequestStart(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                  TResultHandler OnResult);
bool RequestStop(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                 TResultHandler OnResult);
bool RequestReadUst(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                    TResultHandler OnResult);
// Row of UstCells (0..24): its read descriptor, an 8-byte reply block.
bool RequestReadCell(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult, int Row);
// Row of UstCells (0..24): its write descriptor; the first write-size bytes
// of Raw are sent.
bool RequestWriteCell(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult, int Row, const TUstRaw& Raw);
bool RequestReadTimers(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                       TResultHandler OnResult);
bool RequestReadAlarmCount(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                           TResultHandler OnResult);
bool RequestReadAlarm(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult, uint8_t Record);
bool RequestClearAlarms(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                        TResultHandler OnResult);
bool RequestReadCurrents(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                         TResultHandler OnResult);
bool RequestReadImax(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult);
// The reply block's byte 12 holds the entry index whatever the kind.
bool RequestReadTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult, uint8_t Entry);
bool RequestWriteTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult, uint8_t Entry, const TTaskEntry& Data);
bool RequestReadAlarmCounters(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind,
                              TEvents Results, TResultHandler OnResult);
bool RequestResetAlarmCounters(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind,
                               TEvents Results, TResultHandler OnResult);
bool RequestReadState(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult);
bool RequestReadClock(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                      TResultHandler OnResult);
// Sets the device clock to the given local time (the year travels modulo 1000).
bool RequestSetClock(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult, const TLocalTime& Now);
// Sets the device clock to the PC's local time.
bool RequestSetClock(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                     TResultHandler OnResult);
bool RequestReadCalInfo(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                        TResultHandler OnResult);
// Entry: the entry to delete; Count: the current number of entries.
bool RequestDeleteTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                       TResultHandler OnResult, uint8_t Entry, uint8_t Count);
// Entry: the new entry's index, the current number of entries.
bool RequestAddTask(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                    TResultHandler OnResult, uint8_t Entry, const TTaskEntry& Data);
bool RequestClearTasks(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                       TResultHandler OnResult);
bool RequestReadStatistics(TProtoPort& Port, uint8_t Address, int32_t OwnerId, uint8_t Kind, TEvents Results,
                           TResultHandler OnResult);

}  // namespace tovik
