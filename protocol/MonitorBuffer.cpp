#include "protocol/MonitorBuffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
    auto fail = [&](const std::string& what, int code) {
        Error = what + ": " + std::strerror(code);
        return false;
    };
    if (Path.empty()) {
        Error = "не задано имя файла";
        return false;
    }
    std::string temp = Path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return fail(Path, errno);
    size_t done = 0;
    while (done < Text.size()) {
        const ssize_t n = ::write(fd, Text.data() + done, Text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(Path, code);
        }
        done += static_cast<size_t>(n);
    }
    // The file keeps the permissions of the one it replaces; a new one is
    // readable by all, not private as mkstemp makes it.
    struct stat old {};
    ::fchmod(fd, ::stat(Path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        const int code = !synced ? syncError : errno;
        ::unlink(temp.c_str());
        return fail(Path, code);
    }
    if (std::rename(temp.c_str(), Path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        return fail(Path, code);
    }
    return true;
}

}  // namespace tovik
