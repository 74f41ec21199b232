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

// Runs in the worker thread; nonzero when a valid reply was decoded.
using TExecutor = std::function<uint8_t(TProtoRequest&)>;
// Runs in the user-interface thread; Data may be null. It must not keep Data.
using TResultHandler = std::function<void(uint8_t Ok, const TBlock* Data)>;

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
