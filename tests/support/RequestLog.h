#pragma once
// The simulator's request log (tovik-sim --log FILE): one JSON object a line
// for every request that reached a relay of its line.
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tovik::test {

// One request of the simulator's log (one JSON object a line).
struct TLoggedRequest {
    std::string Line;
    long Address = -1;
    std::optional<long> Command;   // native
    std::optional<long> Function;  // ModBus
    std::optional<long> Register;
    std::string Data;  // a native request's data after its parameters, hex

    std::optional<long> Number(const std::string& key) const {
        const std::string tag = "\"" + key + "\":";
        const size_t at = Line.find(tag);
        if (at == std::string::npos) return std::nullopt;
        try {
            return std::stol(Line.substr(at + tag.size()));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
};

inline std::vector<TLoggedRequest> ReadRequestLog(const std::string& path) {
    std::vector<TLoggedRequest> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.back() != '}') continue;  // still being written
        TLoggedRequest r;
        r.Line = line;
        r.Address = r.Number("address").value_or(-1);
        r.Command = r.Number("command");
        r.Function = r.Number("function");
        r.Register = r.Number("register");
        const std::string tag = "\"data\":\"";
        if (const size_t at = line.find(tag); at != std::string::npos)
            r.Data = line.substr(at + tag.size(), line.find('"', at + tag.size()) - at - tag.size());
        out.push_back(r);
    }
    return out;
}

}  // namespace tovik::test
