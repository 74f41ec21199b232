// ports/SerialLines.h on Windows: the serial ports of the registry's serial
// communications map. Simulators play their relays on pseudo-terminals,
// which Windows has not: no line is ever announced here, and tests of the
// Windows programs run against a simulator on the machine that runs Wine.
#include <windows.h>

#include "base/Cp1251.h"
#include "ports/SerialLines.h"

namespace tovik {

std::string SystemPortListSource() {
    return "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
}

std::vector<std::string> ReadSystemPortList(const std::string& source) {
    std::vector<std::string> names;
    HKEY root = nullptr;
    std::string path;
    for (const auto& [prefix, key] : {std::pair{"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
                                      std::pair{"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}})
        if (source.rfind(prefix, 0) == 0) {
            root = key;
            path = source.substr(std::string(prefix).size());
        }
    const auto wide = Utf8ToUtf16(path);
    HKEY key = nullptr;
    if (!root || !wide ||
        ::RegOpenKeyExW(root, reinterpret_cast<const wchar_t*>(wide->c_str()), 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
        return names;
    // Each value names a port: "\Device\Serial0" = "COM1".
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = sizeof valueName / sizeof valueName[0];
        wchar_t data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;  // too long for a port name, or no text
        size_t length = dataSize / sizeof(wchar_t);
        while (length > 0 && data[length - 1] == L'\0') --length;
        if (auto name = Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(data), length)))
            names.push_back(std::move(*name));
    }
    ::RegCloseKey(key);
    return names;
}

std::string DefaultAnnounceDir() {
    return {};
}

std::optional<uint64_t> ProcessStartTicks(int) {
    return std::nullopt;
}

bool DescribeOwnLine(const std::string&, const std::vector<std::pair<uint8_t, uint8_t>>&, TAnnouncedLine&,
                     std::string& why) {
    why = "no pseudo-terminals on this system";
    return false;
}

bool WriteAnnouncement(const std::string&, const TAnnouncedLine&, std::string& why) {
    why = "no pseudo-terminals on this system";
    return false;
}

void RemoveAnnouncement(const std::string&, int) {}

TAnnouncedLineState CheckAnnouncedLine(const TAnnouncedLine&) {
    return TAnnouncedLineState::ProcessGone;
}

std::vector<TAnnouncedLine> ListAnnouncedLines(const std::string&) {
    return {};
}

}  // namespace tovik
