#pragma once
// Time for the request engine on a pseudo-terminal line, without a race
// against the machine's scheduler.
//
// The engine's clock (ManualClock) stands still unless moved, and LineClock
// moves it only while the line is settled: the device on the other end has
// dealt with every frame the port sent, and the port has read every byte
// the device sent. Nothing is on its way then, so the engine can only be
// waiting for time to pass (a reply time-out, a quiet line, the silence
// that ends a reply). A reply never loses a race against its time-out, and
// a try without an answer ends only after the device has seen its frame,
// however late a loaded machine runs the threads. Each step is also seen
// by the engine's receive loop before the next one, so that one step (more
// than the silence that ends a reply, less than a reply time-out) is all
// the time that passes after the last byte of a reply.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "ports/ProtoUART.h"
#include "support/ManualClock.h"
#include "support/PtyResponder.h"
#include "support/Wait.h"

namespace tovik::test {

// The real serial port, counting the frames it sends and the bytes it reads.
class TWatchedUART : public TProtoUART {
public:
    using TProtoUART::TProtoUART;
    ~TWatchedUART() override { StopWorker(); }

    int32_t Read(void* buffer, int32_t count) override {
        Reads.fetch_add(1);
        const int32_t n = TProtoUART::Read(buffer, count);
        if (n > 0) BytesIn.fetch_add(static_cast<uint64_t>(n));
        return n;
    }
    int32_t Write(const void* buffer, int32_t count) override {
        std::lock_guard lock(Gate);
        const int32_t n = TProtoUART::Write(buffer, count);
        if (n > 0) Frames.fetch_add(1);
        return n;
    }

    uint64_t FramesSent() const { return Frames.load(); }
    uint64_t BytesRead() const { return BytesIn.load(); }
    // Calls of Read so far. Two more after a clock step mean the receive
    // loop has looked at the clock since, and acted on what it saw.
    uint64_t ReadCalls() const { return Reads.load(); }

private:
    friend class LineClock;
    std::mutex Gate;  // held over a write and its count
    std::atomic<uint64_t> Frames{0}, BytesIn{0}, Reads{0};
};

class LineClock {
public:
    using TTally = PtyResponder::TTally;

    // `device` tells what the device on the line has done so far.
    LineClock(ManualClock& clock, TWatchedUART& port, std::function<TTally()> device, uint32_t stepMs = 100)
        : Clock(clock), Port(port), Device(std::move(device)), StepMs(stepMs) {}
    LineClock(ManualClock& clock, TWatchedUART& port, const PtyResponder& device, uint32_t stepMs = 100)
        : LineClock(
              clock, port, [&device] { return device.Tally(); }, stepMs) {}

    // Moves the clock on by one step if the line is settled and the engine
    // has acted on the last step; true when it did.
    bool Step() {
        std::lock_guard lock(Port.Gate);  // no frame goes out meanwhile
        if (Port.ReadCalls() < ReadsAtLastStep + 2) return false;
        const TTally device = Device();
        if (device.Answered != Port.FramesSent() || device.BytesSent != Port.BytesRead()) return false;
        Clock.Advance(StepMs);
        ReadsAtLastStep = Port.ReadCalls();
        return true;
    }

    // Steps the clock whenever the line is settled until `done` holds;
    // false when the hang limit passed first.
    bool RunUntil(const std::function<bool()>& done, int limitMs = kHangLimitMs) {
        return WaitUntil(
            [&] {
                if (done()) return true;
                Step();
                return false;
            },
            limitMs);
    }

    // Runs `call` (an exchange, which waits on the clock) on a thread of its
    // own while stepping the clock as above, and returns its result. A call
    // that does not end within the hang limit fails the test; the clock then
    // runs on freely until it ends.
    template <class TCall>
    auto Run(TCall call) -> decltype(call()) {
        auto result = std::async(std::launch::async, std::move(call));
        auto ready = [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
        if (!RunUntil(ready)) {
            const TTally device = Device();
            ADD_FAILURE() << "the exchange did not end: the device answered " << device.Answered << " of "
                          << Port.FramesSent() << " frames and sent " << device.BytesSent
                          << " bytes, the port read " << Port.BytesRead();
            while (!ready()) {
                Clock.Advance(1000000);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return result.get();
    }

private:
    ManualClock& Clock;
    TWatchedUART& Port;
    std::function<TTally()> Device;
    uint32_t StepMs;
    uint64_t ReadsAtLastStep = 0;
};

}  // namespace tovik::test
