#pragma once
// The simulator's request log as the benchmarks read it: what crossed the
// line (exchanges and bytes both ways) since the last look, and the line's
// floor for it.
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tovik::bench {

// What crossed the line, from the simulator's log lines since the last call.
struct Traffic {
    long Exchanges = 0;
    long Bytes = 0;
    long Unanswered = 0;
    std::vector<std::string> Lines;
};

inline std::optional<long> LogNumber(const std::string& line, const std::string& key) {
    const size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return std::nullopt;
    return std::stol(line.substr(at + key.size() + 3));
}

class LogReader {
public:
    explicit LogReader(std::string path) : Path(std::move(path)) {}
    Traffic Next() {
        Traffic t;
        std::ifstream f(Path);
        f.seekg(static_cast<std::streamoff>(Offset));
        for (std::string line; std::getline(f, line);) {
            if (f.eof()) break;  // still being written
            Offset += line.size() + 1;
            Add(line, t);
        }
        return t;
    }
    // One exchange of the log: its bytes both ways, and whether it was answered.
    static void Add(const std::string& line, Traffic& t) {
        t.Lines.push_back(line);
        ++t.Exchanges;
        t.Bytes += HexLength(line, "\"bytes\":\"") + HexLength(line, "\"reply\":\"");
        if (line.find("\"answered\":true") == std::string::npos) ++t.Unanswered;
    }

private:
    static long HexLength(const std::string& line, const std::string& tag) {
        const size_t at = line.find(tag);
        if (at == std::string::npos) return 0;
        const size_t begin = at + tag.size();
        return static_cast<long>((line.find('"', begin) - begin) / 2);
    }
    std::string Path;
    size_t Offset = 0;
};

inline std::string TempLog(const std::string& prefix) {
    std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd >= 0) ::close(fd);
    return tmpl;
}

// The least time the traffic takes on a line: every byte in either
// direction at 10 bits, plus the relay's response delay once per exchange.
inline double FloorMs(const Traffic& t, int baud, int delayMs) {
    return static_cast<double>(t.Bytes) * 10.0 * 1000.0 / baud + static_cast<double>(t.Exchanges) * delayMs;
}

}  // namespace tovik::bench
