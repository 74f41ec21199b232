// The port list's rules of every platform; the system's part is in
// SerialLinesPosix.cpp and SerialLinesWin32.cpp.
#include "ports/SerialLines.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "ports/ProtoUART.h"

namespace tovik {

// ---- Serial ports ----

namespace {

// "ttyS10" after "ttyS9": digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string& source) {
    std::vector<std::string> names;
    for (std::string& name : ReadSystemPortList(source))
        if (CheckPortName(name) == TPortNameCheck::Ok &&
            std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

// ---- Announcement text ----

namespace {

constexpr std::string_view kPtsPrefix = "pts/";
constexpr size_t kMaxPtsDigits = 5;  // "pts/" and five digits fill a port record's name

template <typename T>
bool WholeNumber(std::string_view text, T& value) {
    if (text.empty() || text.front() == '-') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<uint64_t> DigitsValue(std::string_view text) {
    uint64_t value = 0;
    if (!AllDigits(text) || !WholeNumber(text, value)) return std::nullopt;
    return value;
}

std::optional<unsigned> PtsIndex(std::string_view port) {
    if (port.substr(0, kPtsPrefix.size()) != kPtsPrefix) return std::nullopt;
    const std::string_view digits = port.substr(kPtsPrefix.size());
    unsigned index = 0;
    if (digits.size() > kMaxPtsDigits || !AllDigits(digits) || !WholeNumber(digits, index))
        return std::nullopt;
    return index;
}

std::string FormatAnnouncement(const TAnnouncedLine& line) {
    std::string text = "port=" + line.Port + "\npid=" + std::to_string(line.Pid) +
                       "\nstart=" + std::to_string(line.StartTicks) +
                       "\ndevice=" + std::to_string(line.Device) + "\n";
    for (const auto& [kind, address] : line.Relays)
        text += "relay=" + std::to_string(kind) + ":" + std::to_string(address) + "\n";
    return text;
}

std::optional<TAnnouncedLine> ParseAnnouncement(std::string_view text) {
    if (text.empty() || text.size() > kMaxAnnouncementSize || text.back() != '\n') return std::nullopt;
    TAnnouncedLine line;
    bool havePort = false, havePid = false, haveStart = false, haveDevice = false;
    bool seen[251] = {};
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        const std::string_view row = text.substr(0, eol);
        text.remove_prefix(eol + 1);
        const size_t eq = row.find('=');
        if (eq == std::string_view::npos || eq == 0) return std::nullopt;
        const std::string_view key = row.substr(0, eq), value = row.substr(eq + 1);
        if (key == "port") {
            if (havePort || !PtsIndex(value)) return std::nullopt;
            line.Port = std::string(value);
            havePort = true;
        } else if (key == "pid") {
            if (havePid || !AllDigits(value) || !WholeNumber(value, line.Pid) || line.Pid <= 0)
                return std::nullopt;
            havePid = true;
        } else if (key == "start") {
            if (haveStart || !AllDigits(value) || !WholeNumber(value, line.StartTicks)) return std::nullopt;
            haveStart = true;
        } else if (key == "device") {
            if (haveDevice || !AllDigits(value) || !WholeNumber(value, line.Device)) return std::nullopt;
            haveDevice = true;
        } else if (key == "relay") {
            const size_t colon = value.find(':');
            unsigned kind = 0, address = 0;
            if (colon == std::string_view::npos || !AllDigits(value.substr(0, colon)) ||
                !AllDigits(value.substr(colon + 1)) || !WholeNumber(value.substr(0, colon), kind) ||
                !WholeNumber(value.substr(colon + 1), address) || kind > 3 || address < 1 || address > 250 ||
                seen[address])
                return std::nullopt;
            // One line carries one wire format: kinds 0 and 2 native, 1 and 3 ModBus.
            if (!line.Relays.empty() && (line.Relays.front().first & 1) != (kind & 1)) return std::nullopt;
            seen[address] = true;
            line.Relays.emplace_back(static_cast<uint8_t>(kind), static_cast<uint8_t>(address));
        } else if (!std::all_of(key.begin(), key.end(),
                                [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; })) {
            return std::nullopt;
        }
        // Other keys belong to later simulators: they do not make the line unusable.
    }
    if (!havePort || !havePid || !haveStart || !haveDevice || line.Relays.empty()) return std::nullopt;
    return line;
}

std::vector<std::string> ListSerialLines(const std::string& source, const std::string& announceDir) {
    std::vector<std::string> names = ListSerialPorts(source);
    // Lines of running simulators, for training and tests without hardware.
    for (const auto& line : ListAnnouncedLines(announceDir)) {
        if (CheckPortName(line.Port) != TPortNameCheck::Ok) continue;
        if (std::find(names.begin(), names.end(), line.Port) == names.end()) names.push_back(line.Port);
    }
    return names;
}

}  // namespace tovik
