#pragma once
// The request executor: runs one request on its port's line, natively or
// as ModBus steps, and leaves the native reply block in RxBuffer.
#include <cstdint>

#include "ports/Request.h"

namespace tovik {

// Address, command code, the present parameters (low bytes) and the data.
TBuff BuildNativePayload(const TProtoRequest& request);

// Writes the payload in a native frame, in one write. True only when the
// whole frame went out; a payload that no frame can carry sends nothing.
bool SendNativeFrame(TProtoPort& Port, const TBuff& Payload);

// Gathers one native frame byte by byte and checks its check bytes.
class TReceiver {
public:
    void Reset();
    // Reads at most one byte from the port; true when a complete, valid
    // frame has been gathered.
    bool Poll(TProtoPort& Port);
    // One received byte. A bad final check byte counts as an error reply.
    bool Push(uint8_t b, TRequestStats& stats);
    // Address, command and reply data of the gathered frame.
    const TBuff& Data() const { return Payload; }
    // Waiting for a length byte: nothing gathered, or a frame just dropped.
    bool Idle() const { return Remaining == 0; }
    // Bytes the frame being gathered still lacks (1 while idle): a read of
    // this many never takes bytes past the frame's end.
    int32_t Wanted() const { return Remaining == 0 ? 1 : Remaining; }

private:
    void Fail();

    TBuff Payload;
    uint8_t Sum = 0;
    uint8_t Position = 0;
    uint8_t Remaining = 0;  // bytes still expected; 0 = waiting for a length byte
    uint8_t SecondExpected = 0;
};

// The executor of every request (runs in the port's worker thread).
// Releases TxData, writes at most RxLength bytes into RxBuffer and reports
// in RxReceived how far the reply filled it (a native reply may be short).
// Traces every frame when the port has a trace sink.
TOutcome ExecuteRequest(TProtoRequest& Request);

}  // namespace tovik
