#pragma once
// The records of the request pipeline: a request, the job that carries it
// through a port's queue, and the handlers that execute and complete it.
// Builders and executors need only these, not the engine with its threads.
//
// Ownership: a job owns its request, the request owns its outgoing data,
// and the job owns its result block (the request's RxBuffer points into
// it). Whoever holds the job holds all of them, so every block is released
// exactly once on every path.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tovik {

using TBuff = std::vector<uint8_t>;   // frames and replies
using TBlock = std::vector<uint8_t>;  // a data block of the request pipeline
using TBlockPtr = std::unique_ptr<TBlock>;

// Native command code and its two parameters (-1 = absent).
struct TCommandDescriptor {
    uint8_t Code = 0;
    int32_t Param1 = -1;
    int32_t Param2 = -1;
};

class TProtoPort;
class TRequestStats;
class TResultEventsList;

struct TProtoRequest {
    TProtoPort* Port = nullptr;
    uint8_t Address = 0;
    uint8_t DeviceKind = 0;
    TCommandDescriptor Command;
    TBlockPtr TxData;  // released by the executor once copied into the frame
    int32_t TxLength = 0;
    uint8_t* RxBuffer = nullptr;  // points into the job's Result block, or null
    int32_t RxLength = 0;
    int32_t ExtraTimeout = 0;  // ms, added to the port's ReplyTimeout
    int32_t Tries = 0;
    // Bytes of RxBuffer the reply actually filled, set by the executor; the
    // worker hands the result block over cut to this length, so that a
    // completion never takes bytes that did not arrive for data. -1: the
    // executor does not report it, and the block goes over whole.
    int32_t RxReceived = -1;
};

// Why a line could not be opened, or was lost.
enum class TOpenError : uint8_t {
    None,              // open (or never tried)
    NameRefused,       // a name that must not be opened (outside /dev, too long, bad characters)
    NoSuchDevice,      // no such device file, or no device behind it
    PermissionDenied,  // the user may not open it
    Busy,              // held by another program (or another port of this one)
    NotSerial,         // not a serial line (not a terminal, or the controlling terminal)
    Gone,              // the device went away while open (unplugged, hung up)
    Failed,            // any other failure; SystemError tells which
};

struct TOpenOutcome {
    TOpenError Error = TOpenError::None;
    int SystemError = 0;  // the system's error code of the call that failed, 0 when the reason is ours
    // PermissionDenied: the group (id) that may open the line and that this
    // process is not in ("dialout" for /dev/ttyS* and /dev/ttyUSB* on
    // Debian); -1 when joining a group would not help.
    long GroupToJoin = -1;
    bool operator==(const TOpenOutcome&) const = default;
};

// The reason as the operator reads it, e.g. "нет такого устройства (No such
// file or directory)"; empty for None. When a group would give access, a
// second line says how to join it. (With the serial line's platform code.)
std::string OpenErrorText(const TOpenOutcome& Outcome);

// How a request ended on the line. The request statistics count every
// frame sent once: Answered as accepted, NoAnswer as unanswered, the other
// statuses of a frame that went out as rejected.
enum class TReplyStatus : uint8_t {
    Answered,   // a valid reply, decoded into the result block
    NoAnswer,   // nothing came within the reply time-out
    Damaged,    // check bytes or CRC wrong, or bytes that make no frame
    Short,      // a reply that ends before its frame does
    Foreign,    // a valid frame that answers another request or comes from another address
    Late,       // the answer to the request before this one
    Exception,  // a ModBus exception reply (ExceptionCode)
    NotSent,    // nothing went on the line: no frame can carry the request
    NoLine,     // the line is closed or gone (Line says why)
    Stopped,    // the exchange was cut short: the worker or the scan was stopped
};

struct TOutcome {
    TReplyStatus Status = TReplyStatus::NoAnswer;
    uint8_t ExceptionCode = 0;  // of a ModBus exception reply
    TOpenOutcome Line{};        // NoLine: why the line cannot be used
    bool Ok() const { return Status == TReplyStatus::Answered; }
    bool operator==(const TOutcome&) const = default;
};

inline constexpr TOutcome kAnswered{TReplyStatus::Answered};

// What a completion receives. Data may be null; the handler must not keep it.
struct TReply {
    TOutcome Outcome;
    const TBlock* Data = nullptr;
    // A valid reply was received and decoded into Data.
    bool Ok() const { return Outcome.Ok(); }
};

// Runs in the worker thread; says how the exchange ended.
using TExecutor = std::function<TOutcome(TProtoRequest&)>;
// Runs in the user-interface thread.
using TResultHandler = std::function<void(const TReply& Reply)>;

struct TProtoJob {
    std::unique_ptr<TProtoRequest> Request;
    const TBlock* TxData = nullptr;  // the request's data block, for reference only
    TBlockPtr Result;
    int32_t OwnerId = 0;
    std::shared_ptr<TResultEventsList> Results;
    TExecutor Executor;
    TResultHandler OnResult;
};

std::unique_ptr<TProtoRequest> MakeRequest(TProtoPort* Port, uint8_t Address, uint8_t DeviceKind,
                                           const TCommandDescriptor& Command, TBlockPtr TxData,
                                           int32_t TxLength, uint8_t* RxBuffer, int32_t RxLength,
                                           int32_t ExtraTimeout, int32_t Tries);

std::unique_ptr<TProtoJob> MakeJob(std::unique_ptr<TProtoRequest> Request, const TBlock* TxData,
                                   TBlockPtr Result, int32_t OwnerId,
                                   std::shared_ptr<TResultEventsList> Results, TExecutor Executor,
                                   TResultHandler OnResult);

}  // namespace tovik
