#pragma once
// Runs a bus scan to its end with the engine's clock in the test's hand:
// each probe's window closes only when the test moves the clock, once the
// probe has gone out and the frames due to it have been read. Nothing
// depends on how fast the machine is.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "base/DeviceTypes.h"
#include "ports/FrameTrace.h"
#include "support/ManualClock.h"
#include "support/TraceRecorder.h"

namespace tovik::test {

inline bool IsScanProbe(const TFrameTraceRecord& r) {
    return r.Command.Code == 4 && r.Command.Param1 == 49;
}

struct ScanDriver {
    ManualClock& Clock;
    TraceRecorder& Trace;
    int32_t TimeoutMs;
    // How many received frames a probe's number gets before its window may
    // close (0: none is due).
    std::function<int(uint8_t address, bool modbus)> Answers;
    // Whoever runs the scan: whether it still runs, how many probes have
    // ended, and one round of taking outcomes (may wait a little).
    std::function<bool()> Running;
    std::function<int()> Done;
    std::function<void()> Take;
    // After the k-th probe went out, and before its window closes.
    std::function<void(uint8_t address, bool modbus)> OnProbe = {};
    std::function<void(int k)> Settle = {};

    ::testing::AssertionResult Run() {
        using Records = TraceRecorder::Records;
        for (int k = 0; Running(); ++k) {
            TFrameTraceRecord probe;
            size_t at = 0;
            const bool sent = Trace.WaitFor([&](const Records& rs) {
                int n = 0;
                for (size_t i = 0; i < rs.size(); ++i)
                    if (rs[i].Direction == TTraceDirection::Sent && IsScanProbe(rs[i]) && n++ == k) {
                        probe = rs[i];
                        at = i;
                        return true;
                    }
                return false;
            });
            if (!sent) return ::testing::AssertionFailure() << "probe " << k << " never went out";
            const bool modbus = IsModbusKind(probe.DeviceKind);
            if (OnProbe) OnProbe(probe.Address, modbus);
            if (!Running()) return ::testing::AssertionSuccess();
            if (const int due = Answers(probe.Address, modbus); due > 0) {
                const bool answered = Trace.WaitFor([&](const Records& rs) {
                    int n = 0;
                    for (size_t i = at + 1; i < rs.size(); ++i)
                        if (rs[i].Direction == TTraceDirection::Received && IsScanProbe(rs[i]) &&
                            !rs[i].Bytes.empty())
                            ++n;
                    return n >= due;
                });
                if (!answered)
                    return ::testing::AssertionFailure() << "no answer to bus number " << int(probe.Address);
            }
            if (Settle) Settle(k);
            Clock.Advance(static_cast<uint32_t>(TimeoutMs) + 1);
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (Running() && Done() <= k) {
                if (std::chrono::steady_clock::now() > limit)
                    return ::testing::AssertionFailure() << "probe " << k << " never ended";
                Take();
            }
        }
        return ::testing::AssertionSuccess();
    }
};

}  // namespace tovik::test
