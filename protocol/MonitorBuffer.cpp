#include "protocol/MonitorBuffer.h"

#include "base/Files.h"

namespace tovik {

size_t TMonitorBuffer::Append(const std::vector<TFrameTraceRecord>& Records) {
    size_t removed = 0;
    // Records that would be pushed out again at once are not decoded.
    const size_t skip = Records.size() > Limit ? Records.size() - Limit : 0;
    for (size_t i = skip; i < Records.size(); ++i) {
        const TFrameTraceRecord& r = Records[i];
        TMonitorRow row;
        row.Serial = Next++;
        row.RequestAddress = r.Address;
        row.Columns = FrameColumns(r);
        row.Line = DecodedTraceLine(r, row.Columns);
        if (Rows.size() >= Limit) {
            Rows.pop_front();
            ++removed;
        }
        Rows.push_back(std::move(row));
    }
    DroppedCount += removed + skip;
    return removed;
}

const TMonitorRow* TMonitorBuffer::Find(uint64_t Serial) const {
    if (Rows.empty() || Serial < Rows.front().Serial || Serial > Rows.back().Serial) return nullptr;
    return &Rows[static_cast<size_t>(Serial - Rows.front().Serial)];
}

void TMonitorBuffer::Clear() {
    Rows.clear();
    DroppedCount = 0;
}

std::string TMonitorBuffer::Text(int Bus, const std::string& PortName) const {
    std::string text = "Монитор обмена, порт " + PortName;
    if (Bus != 0) text += ", устройство " + std::to_string(Bus);
    text += "\n";
    if (DroppedCount) text += "Пропущено кадров: " + std::to_string(DroppedCount) + "\n";
    for (const TMonitorRow& row : Rows)
        if (row.Matches(Bus)) text += row.Line + "\n";
    return text;
}

bool SaveMonitorText(const std::string& Path, const std::string& Text, std::string& Error) {
    if (Path.empty()) {
        Error = "не задано имя файла";
        return false;
    }
    std::string reason;
    if (ReplaceFileBytes(Path, Text, reason)) return true;
    Error = Path + ": " + reason;
    return false;
}

}  // namespace tovik
