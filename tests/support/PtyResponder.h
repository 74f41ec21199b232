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
    bool WaitForRequests(size_t count, int limitMs = 20000) const;
    // Steady-clock time (ns since its epoch) when the last reply byte was written.
    int64_t LastReplyEndNs() const { return LastEndNs.load(); }
    // Writes bytes to the line without a request (noise, late replies).
    void Inject(const std::vector<uint8_t>& bytes);

private:
    void Run();

    int Master = -1;
    int Slave = -1;
    std::string Name;
    mutable std::mutex Lock;
    mutable std::condition_variable Arrived;
    Handler OnRequest;
    std::vector<std::vector<uint8_t>> Log;
    size_t Handled = 0;  // requests whose handler has run
    std::atomic<int> PacingUs{0};
    std::atomic<int> DelayMs{0};
    std::atomic<bool> Stop{false};
    std::atomic<int64_t> LastEndNs{0};
    std::thread Thread;
};

// A ModBus reply frame: address, function, payload and CRC.
std::vector<uint8_t> ModbusFrame(uint8_t address, uint8_t function, const std::vector<uint8_t>& payload);

}  // namespace tovik::test
