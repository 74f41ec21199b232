#pragma once
// A pseudo-terminal with a scripted device on its master side. The port
// under test opens the slave side by name ("pts/N"), exactly like a serial
// line.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Wait.h"

namespace tovik::test {

class PtyResponder {
public:
    // Gets one request (the bytes that arrived before a short silence) and
    // returns the reply to send; an empty reply sends nothing.
    using Handler = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request)>;

    explicit PtyResponder(Handler handler = {});
    ~PtyResponder();
    PtyResponder(const PtyResponder&) = delete;
    PtyResponder& operator=(const PtyResponder&) = delete;

    // Port name relative to /dev, e.g. "pts/4".
    const std::string& PortName() const { return Name; }

    void SetHandler(Handler handler);
    // Microseconds between reply bytes (0: the whole reply in one write).
    void SetBytePacingUs(int us) { PacingUs = us; }
    void SetResponseDelayMs(int ms) { DelayMs = ms; }
    // Requests received so far.
    std::vector<std::vector<uint8_t>> Requests() const;
    size_t RequestCount() const;
    // Waits until `count` requests have arrived and the handler has run for
    // each (its reply may still be on its way). The limit only guards
    // against a hang; false when it passed.
    bool WaitForRequests(size_t count, int limitMs = kHangLimitMs) const;
    // Steady-clock time (ns since its epoch) when the last reply byte was written.
    int64_t LastReplyEndNs() const { return LastEndNs.load(); }
    // Writes bytes to the line without a request (noise, late replies).
    void Inject(const std::vector<uint8_t>& bytes);
    // Bytes that have reached the port's side of the line and wait there to
    // be read (bytes still in the terminal's own buffers are not counted).
    size_t WaitingAtPort() const;

    // What the device has done so far: requests dealt with (handled and
    // their reply, if any, written whole) and every byte it wrote, injected
    // ones included. Taken together, so that a test can tell a settled line
    // (see LineClock.h).
    struct TTally {
        uint64_t Answered = 0;
        uint64_t BytesSent = 0;
    };
    TTally Tally() const;

private:
    void Run();
    // Writes to the line; the bytes written.
    size_t WriteOut(const uint8_t* bytes, size_t count);

    int Master = -1;
    int Slave = -1;
    std::string Name;
    mutable std::mutex Lock;
    mutable std::condition_variable Arrived;
    Handler OnRequest;
    std::vector<std::vector<uint8_t>> Log;
    size_t Handled = 0;  // requests whose handler has run
    TTally Done;         // requests whose reply went out, bytes written
    std::atomic<int> PacingUs{0};
    std::atomic<int> DelayMs{0};
    std::atomic<bool> Stop{false};
    std::atomic<int64_t> LastEndNs{0};
    std::thread Thread;
};

// A ModBus reply frame: address, function, payload and CRC.
std::vector<uint8_t> ModbusFrame(uint8_t address, uint8_t function, const std::vector<uint8_t>& payload);

}  // namespace tovik::test
