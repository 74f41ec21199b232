#pragma once
// One simulated RS-485 line: its relays (all of one wire format), the
// splitting of received bytes into request frames, the request parsing and
// reply building, injected faults, the request log and the operator's
// command input.
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/sim/SimRelay.h"

namespace tovik::sim {

// A whole number in [lo, hi] making up the whole text (options and commands).
template <typename T>
bool ParseWhole(const std::string& text, T& value, T lo, T hi) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi) return false;
    value = v;
    return true;
}

inline constexpr uint8_t kNoiseByte = 0xA5;
inline constexpr int kDefaultBaud = 19200;

// Faults waiting to be applied; counts drop as requests come in.
struct TFaults {
    int Ignore = 0;        // requests to our relays that go unheard
    int Corrupt = 0;       // replies sent with a broken CRC or final check byte
    int WrongAddress = 0;  // replies sent from another address
    int Noise = 0;         // replies preceded by a stray byte
    bool Silent = false;   // no replies at all
};

// Splits the received byte stream into request frames. A native frame's
// first byte gives its length; a ModBus request's length follows from its
// function and register count. Bytes that make no complete frame are taken
// out after a silence (TakePending) and reported as a damaged request.
class TFrameAssembler {
public:
    explicit TFrameAssembler(bool modbus) : Modbus(modbus) {}
    void Add(const uint8_t* data, size_t count, int64_t nowMs);
    // The next frame that is complete by its own length.
    std::optional<std::vector<uint8_t>> Next();
    bool Pending() const { return !Buffer.empty(); }
    // When the first byte of the waiting bytes arrived, and the last.
    int64_t FirstByteMs() const { return First; }
    int64_t LastByteMs() const { return Last; }
    std::vector<uint8_t> TakePending();
    // Silence that ends an incomplete frame.
    int GapMs() const { return Modbus ? 5 : 20; }

private:
    // Bytes the frame at the start of the buffer needs: 0 while unknown,
    // -1 when only a silence can end it.
    long Expected() const;

    bool Modbus;
    std::vector<uint8_t> Buffer;
    int64_t First = 0;
    int64_t Last = 0;
};

class TSimLine {
public:
    explicit TSimLine(bool modbus) : ModbusLine(modbus) {}
    TSimLine(const TSimLine&) = delete;
    TSimLine& operator=(const TSimLine&) = delete;

    bool Modbus() const { return ModbusLine; }
    // Adds a relay; false when the kind's wire format differs from the
    // line's or the address is taken.
    bool AddRelay(uint8_t kind, uint8_t address, int64_t nowMs, int64_t clockSeconds);
    TSimRelay* Find(uint8_t address);
    const std::vector<std::unique_ptr<TSimRelay>>& Relays() const { return RelayList; }
    // "KIND:ADDRESS" of every relay, one per element.
    std::vector<std::string> Describe() const;

    void Update(int64_t nowMs);

    struct TOutcome {
        std::vector<uint8_t> Reply;  // bytes to send; empty: no answer
        std::string Log;             // one JSON object, no line end
    };
    // Handles one received frame (complete or damaged).
    TOutcome HandleFrame(const std::vector<uint8_t>& frame, int64_t nowMs);

    // Runs one line of the command input; returns the answer ("ok ...",
    // "error: ...", or the status lines).
    std::string Command(const std::string& text, int64_t nowMs);
    static std::string CommandHelp();

    TFaults Faults;
    int Baud = kDefaultBaud;
    int DelayMs = 0;
    // Relay time: the line's clock plus what "advance" added; with a
    // manual clock the line's clock stands still.
    bool ManualClock = false;
    int64_t AdvancedMs = 0;

private:
    TOutcome HandleNative(const std::vector<uint8_t>& frame, int64_t nowMs);
    TOutcome HandleModbus(const std::vector<uint8_t>& frame, int64_t nowMs);
    // Whether a request to a relay is swallowed by a fault; notes why.
    bool Unheard(std::string& note);
    // Applies the reply faults to a finished native payload or ModBus frame.
    std::vector<uint8_t> FinishReply(std::vector<uint8_t> replyPayload, std::string& note);

    bool ModbusLine;
    std::vector<std::unique_ptr<TSimRelay>> RelayList;
};

// Lower-case hexadecimal text of bytes, no separators.
std::string Hex(const std::vector<uint8_t>& bytes);

}  // namespace tovik::sim
