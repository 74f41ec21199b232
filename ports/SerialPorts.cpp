#include "ports/SerialPorts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ports/ProtoUART.h"

namespace tovik {

namespace fs = std::filesystem;

namespace {

// "ttyS10" after "ttyS9": digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
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

std::string ReadFirstLine(const fs::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const std::string& sysfsTtyRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysfsTtyRoot, ec)) {
        const fs::path dir = entry.path();
        const std::string name = dir.filename().string();
        std::error_code e2;
        if (!fs::exists(dir / "device", e2)) continue;  // virtual terminals, consoles
        const fs::path driver = fs::read_symlink(dir / "device" / "driver", e2);
        if (!e2 && driver.filename() == "serial8250" && ReadFirstLine(dir / "type") == "0") continue;
        if (CheckPortName(name) != TPortNameCheck::Ok) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

}  // namespace tovik
