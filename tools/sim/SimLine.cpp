#include "tools/sim/SimLine.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <sstream>

#include "tools/common/Json.h"

namespace tovik::sim {

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

namespace {

// Local wall-clock time with milliseconds, ISO 8601.
std::string WallTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    char full[48];
    std::snprintf(full, sizeof full, "%s.%03d", buf, static_cast<int>(ms));
    return full;
}

// Builder of one log line.
class TLogLine {
public:
    explicit TLogLine(const std::vector<uint8_t>& frame) {
        Line["time"] = WallTime();
        Line["bytes"] = Hex(frame);
    }
    void Int(const char* key, long v) { Line[key] = v; }
    void Str(const char* key, const std::string& v) { Line[key] = v; }
    template <typename T>
    void Array(const char* key, const std::vector<T>& values) {
        Line[key] = values;
    }
    std::string Finish(bool answered, const std::vector<uint8_t>& reply, const std::string& note) {
        Line["answered"] = answered;
        if (answered) Str("reply", Hex(reply));
        if (!note.empty()) Str("note", note);
        return tool::JsonText(Line);
    }

private:
    tool::TJson Line;
};

}  // namespace

// ---- Frame assembly ----

void TFrameAssembler::Add(const uint8_t* data, size_t count, int64_t nowMs) {
    if (count == 0) return;
    if (Buffer.empty()) First = nowMs;
    Buffer.insert(Buffer.end(), data, data + count);
    Last = nowMs;
}

long TFrameAssembler::Expected() const {
    if (Buffer.empty()) return 0;
    if (!Modbus) {
        // A length below the shortest frame is a stray byte on its own.
        return Buffer[0] < 4 ? 1 : Buffer[0];
    }
    return ModbusRequestSize(Buffer);
}

std::optional<std::vector<uint8_t>> TFrameAssembler::Next() {
    const long n = Expected();
    if (n <= 0 || Buffer.size() < static_cast<size_t>(n)) return std::nullopt;
    std::vector<uint8_t> frame(Buffer.begin(), Buffer.begin() + n);
    Buffer.erase(Buffer.begin(), Buffer.begin() + n);
    First = Last;
    return frame;
}

std::vector<uint8_t> TFrameAssembler::TakePending() {
    std::vector<uint8_t> out;
    out.swap(Buffer);
    return out;
}

// ---- The line ----

bool TSimLine::AddRelay(uint8_t kind, uint8_t address, int64_t nowMs, int64_t clockSeconds) {
    if (kind > 3 || IsModbusKind(kind) != ModbusLine || address < 1 || address > 250 || Find(address))
        return false;
    auto relay = std::make_unique<TSimRelay>(kind, address, nowMs, clockSeconds);
    relay->CanTakeAddress = [this](uint8_t a) { return Find(a) == nullptr; };
    RelayList.push_back(std::move(relay));
    return true;
}

TSimRelay* TSimLine::Find(uint8_t address) {
    for (auto& r : RelayList)
        if (r->Address() == address) return r.get();
    return nullptr;
}

std::vector<std::string> TSimLine::Describe() const {
    std::vector<std::string> out;
    for (const auto& r : RelayList)
        out.push_back(std::to_string(r->Kind()) + ":" + std::to_string(r->Address()));
    return out;
}

void TSimLine::Update(int64_t nowMs) {
    for (auto& r : RelayList) r->Update(nowMs);
}

bool TSimLine::Unheard(std::string& note) {
    if (Faults.Silent) {
        note = "silent";
        return true;
    }
    if (Faults.Ignore > 0) {
        --Faults.Ignore;
        note = "ignored (fault)";
        return true;
    }
    return false;
}

std::vector<uint8_t> TSimLine::FinishReply(std::vector<uint8_t> reply, std::string& note) {
    auto addNote = [&](const char* text) { note += note.empty() ? text : std::string(", ") + text; };
    if (Faults.WrongAddress > 0) {
        --Faults.WrongAddress;
        reply[0] = static_cast<uint8_t>(reply[0] % 250 + 1);
        addNote("wrong address (fault)");
    }
    std::vector<uint8_t> frame;
    if (ModbusLine) {
        frame = std::move(reply);
        AppendModbusCrc(frame);
    } else {
        frame = MakeNativeFrame(reply);
    }
    if (Faults.Corrupt > 0) {
        --Faults.Corrupt;
        frame.back() ^= 0x5A;
        addNote(ModbusLine ? "corrupt CRC (fault)" : "corrupt check byte (fault)");
    }
    if (Faults.Noise > 0) {
        --Faults.Noise;
        frame.insert(frame.begin(), kNoiseByte);
        addNote("noise byte first (fault)");
    }
    return frame;
}

TSimLine::TOutcome TSimLine::HandleFrame(const std::vector<uint8_t>& frame, int64_t nowMs) {
    return ModbusLine ? HandleModbus(frame, nowMs) : HandleNative(frame, nowMs);
}

TSimLine::TOutcome TSimLine::HandleNative(const std::vector<uint8_t>& frame, int64_t nowMs) {
    TOutcome out;
    TLogLine log(frame);
    std::string note;
    const auto payload = ParseNativeFrame(frame, note);
    if (!payload || payload->size() < 2) {
        if (payload) note = "payload without a command";
        out.Log = log.Finish(false, {}, note);
        return out;
    }
    const uint8_t address = (*payload)[0], command = (*payload)[1];
    log.Int("address", address);
    log.Int("command", command);
    const size_t paramCount = std::min(NativeParamCount(command), payload->size() - 2);
    std::vector<int> params(payload->begin() + 2, payload->begin() + 2 + static_cast<long>(paramCount));
    if (!params.empty()) log.Array("params", params);
    const std::vector<uint8_t> data(payload->begin() + 2 + static_cast<long>(paramCount), payload->end());
    if (!data.empty()) log.Str("data", Hex(data));

    TSimRelay* relay = Find(address);
    if (!relay) {
        out.Log = log.Finish(false, {}, "no relay at this address");
        return out;
    }
    if (Unheard(note)) {
        out.Log = log.Finish(false, {}, note);
        return out;
    }
    TNativeResult result = relay->HandleNative(*payload, nowMs);
    if (!result.Answered) {
        out.Log = log.Finish(false, {}, result.Note);
        return out;
    }
    std::vector<uint8_t> reply = {address, command};
    reply.insert(reply.end(), result.Data.begin(), result.Data.end());
    out.Reply = FinishReply(std::move(reply), note);
    out.Log = log.Finish(true, out.Reply, note);
    return out;
}

TSimLine::TOutcome TSimLine::HandleModbus(const std::vector<uint8_t>& frame, int64_t nowMs) {
    TOutcome out;
    TLogLine log(frame);
    if (frame.size() < 4) {
        out.Log = log.Finish(false, {}, "damaged frame: too short");
        return out;
    }
    if (!ModbusCrcMatches(frame)) {
        out.Log = log.Finish(false, {}, "damaged frame: CRC");
        return out;
    }
    TModbusRequest request;
    std::string note;
    uint8_t exception = DecodeModbusRequest(frame, request, note);
    log.Int("address", request.Address);
    log.Int("function", request.Function);
    if (frame.size() >= 8 && exception != kIllegalFunction) {
        log.Int("register", request.First);
        log.Int("count", request.Count);
    }
    if (!exception && request.Function == kWriteMultiple) log.Array("values", request.Values);

    TSimRelay* relay = Find(request.Address);
    if (!relay) {
        out.Log = log.Finish(false, {}, "no relay at this address");
        return out;
    }
    std::string fault;
    if (Unheard(fault)) {
        out.Log = log.Finish(false, {}, fault);
        return out;
    }
    std::vector<uint8_t> reply;
    if (!exception) {
        const TModbusResult result = request.Function == kReadHolding
                                         ? relay->ReadRegisters(request.First, request.Count, nowMs)
                                         : relay->WriteRegisters(request.First, request.Values, nowMs);
        exception = result.Exception;
        note = result.Note;
        if (!exception)
            reply = request.Function == kReadHolding
                        ? ModbusReadReply(request.Address, result.Values)
                        : ModbusWriteReply(request.Address, request.First, request.Count);
    }
    if (exception) {
        reply = ModbusExceptionReply(request.Address, request.Function, exception);
        log.Int("exception", exception);
    }
    if (!fault.empty()) note += (note.empty() ? "" : ", ") + fault;
    out.Reply = FinishReply(std::move(reply), note);
    out.Log = log.Finish(true, out.Reply, note);
    return out;
}

// ---- Command input ----

std::string TSimLine::CommandHelp() {
    return "Commands on standard input (one per line; each is answered with \"ok\" or \"error: ...\"):\n"
           "  ignore N              the next N requests to our relays go unanswered\n"
           "  corrupt N             the next N replies carry a broken CRC (ModBus) or final check byte\n"
           "  wrong-address N       the next N replies come from another address\n"
           "  noise N               the next N replies are preceded by the stray byte 0xA5\n"
           "  silent | speak        stop answering / answer again\n"
           "  load ADDR|* IA [IB IC]  phase currents in mA as the relay measures them (one value: all "
           "phases)\n"
           "  trip ADDR|* [CAUSE]   trip now with the event code CAUSE (default 2, maximum current)\n"
           "  start ADDR|*          start the installation; stop ADDR|* stops it\n"
           "  clock ADDR|* HH:MM:SS DD.MM.YYYY   set the relay clock\n"
           "  variant ADDR|* N      the variant byte reported by the state poll\n"
           "  delay MS              response delay; baud N: line rate (0: no pacing)\n"
           "  advance MS            relay time jumps MS ahead: start-up, protection timers, clock\n"
           "  status                one line per relay; help: this text\n";
}

std::string TSimLine::Command(const std::string& text, int64_t nowMs) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return "";
    const std::string& verb = words[0];
    auto error = [](const std::string& why) { return "error: " + why; };

    auto count = [&](int& field) -> std::string {
        int n = 0;
        if (words.size() != 2 || !ParseWhole(words[1], n, 0, 1000000)) return error("usage: " + verb + " N");
        field = n;
        return "ok";
    };
    if (verb == "ignore") return count(Faults.Ignore);
    if (verb == "corrupt") return count(Faults.Corrupt);
    if (verb == "wrong-address") return count(Faults.WrongAddress);
    if (verb == "noise") return count(Faults.Noise);
    if (verb == "silent" || verb == "speak") {
        if (words.size() != 1) return error("usage: " + verb);
        Faults.Silent = verb == "silent";
        return "ok";
    }
    if (verb == "delay") {
        int ms = 0;
        if (words.size() != 2 || !ParseWhole(words[1], ms, 0, 60000))
            return error("usage: delay MS (0..60000)");
        DelayMs = ms;
        return "ok";
    }
    if (verb == "baud") {
        int baud = 0;
        if (words.size() != 2 || !ParseWhole(words[1], baud, 0, 4000000))
            return error("usage: baud N (0..4000000)");
        Baud = baud;
        return "ok";
    }
    if (verb == "advance") {
        int ms = 0;
        if (words.size() != 2 || !ParseWhole(words[1], ms, 0, 86400000))
            return error("usage: advance MS (0..86400000)");
        AdvancedMs += ms;
        Update(nowMs + ms);
        return "ok";
    }
    if (verb == "help") return CommandHelp();
    if (verb == "status") {
        std::string out;
        for (const auto& r : RelayList) {
            r->Update(nowMs);
            const auto c = r->Currents();
            char line[200];
            std::snprintf(line, sizeof line,
                          "relay %u kind %u state %u %s currents %.0f %.0f %.0f alarms %zu tasks %zu",
                          r->Address(), r->Kind(), r->State(), StateName(r->State()), c[0], c[1], c[2],
                          r->AlarmCount(), r->TaskCount());
            out += std::string(out.empty() ? "" : "\n") + line;
        }
        return out;
    }

    // Relay commands: the second word is an address or "*".
    if (words.size() < 2) return error("unknown command \"" + verb + "\" (try help)");
    std::vector<TSimRelay*> targets;
    if (words[1] == "*") {
        for (auto& r : RelayList) targets.push_back(r.get());
    } else {
        int address = 0;
        if (!ParseWhole(words[1], address, 1, 250) || !Find(static_cast<uint8_t>(address)))
            return error("no relay at address \"" + words[1] + "\"");
        targets.push_back(Find(static_cast<uint8_t>(address)));
    }
    if (verb == "load") {
        uint32_t a = 0, b = 0, c = 0;
        const bool one = words.size() == 3 && ParseWhole(words[2], a, 0u, kOverflowCurrent);
        const bool three = words.size() == 5 && ParseWhole(words[2], a, 0u, kOverflowCurrent) &&
                           ParseWhole(words[3], b, 0u, kOverflowCurrent) &&
                           ParseWhole(words[4], c, 0u, kOverflowCurrent);
        if (!one && !three) return error("usage: load ADDR|* IA [IB IC] (mA, 0..100000000)");
        if (one) b = c = a;
        for (auto* r : targets) r->SetLoad(a, b, c, nowMs);
        return "ok";
    }
    if (verb == "trip") {
        int cause = CauseMaximum;
        if (words.size() > 3 || (words.size() == 3 && !ParseWhole(words[2], cause, 0, 127)))
            return error("usage: trip ADDR|* [CAUSE 0..127]");
        for (auto* r : targets) r->Trip(static_cast<uint8_t>(cause), nowMs);
        return "ok";
    }
    if (verb == "start" || verb == "stop") {
        if (words.size() != 2) return error("usage: " + verb + " ADDR|*");
        for (auto* r : targets) verb == "start" ? r->Start(nowMs) : r->Stop(nowMs);
        return "ok";
    }
    if (verb == "variant") {
        int v = 0;
        if (words.size() != 3 || !ParseWhole(words[2], v, 0, 255))
            return error("usage: variant ADDR|* N (0..255)");
        for (auto* r : targets) r->SetVariant(static_cast<uint8_t>(v));
        return "ok";
    }
    if (verb == "clock") {
        int h = 0, mi = 0, s = 0, d = 0, mo = 0, y = 0;
        char c1 = 0, c2 = 0, c3 = 0, c4 = 0, extra = 0;
        const std::string when = words.size() == 4 ? words[2] + " " + words[3] : "";
        const int got = std::sscanf(when.c_str(), "%2d%c%2d%c%2d %2d%c%2d%c%4d%c", &h, &c1, &mi, &c2, &s, &d,
                                    &c3, &mo, &c4, &y, &extra);
        std::optional<int64_t> seconds;
        if (got == 10 && c1 == ':' && c2 == ':' && c3 == '.' && c4 == '.' && y >= 2000 && y <= 2255 &&
            h >= 0 && mi >= 0 && s >= 0 && d >= 0 && mo >= 0)
            seconds = DeviceTimeToSeconds({static_cast<uint8_t>(h), static_cast<uint8_t>(mi),
                                           static_cast<uint8_t>(s), static_cast<uint8_t>(d),
                                           static_cast<uint8_t>(mo), static_cast<uint8_t>(y - 2000)});
        if (!seconds) return error("usage: clock ADDR|* HH:MM:SS DD.MM.YYYY (a real time, years 2000..2255)");
        for (auto* r : targets) r->SetClock(*seconds, nowMs);
        return "ok";
    }
    return error("unknown command \"" + verb + "\" (try help)");
}

}  // namespace tovik::sim
