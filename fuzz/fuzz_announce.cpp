// Feeds arbitrary bytes to the parser of simulator announcements, which the
// port dialog reads from files other processes wrote. Whatever parses must
// come back unchanged through its own text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ports/SerialLines.h"

using namespace tovik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto line = ParseAnnouncement(text);
    if (!line) return 0;
    if (line->Port.empty() || line->Pid <= 0 || line->Relays.empty() || line->Relays.size() > 250)
        std::abort();
    const auto reparsed = ParseAnnouncement(FormatAnnouncement(*line));
    if (!reparsed || !(*reparsed == *line)) std::abort();
    return 0;
}
