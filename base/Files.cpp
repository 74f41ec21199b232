// The parts of base/Files.h that are the same on every platform.
#include "base/Files.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "base/NewFileNames.h"

namespace tovik {

std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

std::string NotRegularFileReason(TFileKind kind) {
    switch (kind) {
        case TFileKind::Missing:
        case TFileKind::Regular:
            return {};
        case TFileKind::Folder:
            return "это не обычный файл, а папка";
        case TFileKind::Device:
            return "это не обычный файл, а устройство";
        case TFileKind::Fifo:
            return "это не обычный файл, а канал (FIFO)";
        case TFileKind::Socket:
            return "это не обычный файл, а сокет";
        case TFileKind::Other:
            break;
    }
    return "это не обычный файл";
}

bool ReplaceFileBytes(const std::string& path, std::string_view bytes, std::string& reason) {
    return ReplaceFile(
        path,
        [bytes](const std::string& newFile, std::string& why) { return WriteNewFile(newFile, bytes, why); },
        reason);
}

namespace {
bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
}  // namespace

std::string NewFileName(const std::string& name, long pid, unsigned number) {
    return "." + name + "." + std::to_string(pid) + "-" + std::to_string(number);
}

long NewFileWriter(const std::string& entry, const std::string& name) {
    if (entry.size() < 5 || entry.front() != '.') return 0;
    const auto dot = entry.rfind('.');
    const auto dash = entry.find('-', dot);
    if (dot == 0 || dash == std::string::npos) return 0;
    if (!name.empty() && (dot - 1 != name.size() || entry.compare(1, name.size(), name) != 0)) return 0;
    const std::string_view view(entry);
    const std::string_view pid = view.substr(dot + 1, dash - dot - 1);
    long value = 0;
    if (!AllDigits(pid) || !AllDigits(view.substr(dash + 1)) || pid.size() > 9) return 0;
    std::from_chars(pid.data(), pid.data() + pid.size(), value);
    return value;
}

// ---- the lock (the platform holds it) ----

TFileLock::~TFileLock() {
    Release();
}

TFileLock::TFileLock(TFileLock&& other) noexcept
    : LockPath(std::move(other.LockPath)),
      Status(other.Status),
      HolderId(other.HolderId),
      Why(std::move(other.Why)),
      Handle(other.Handle) {
    other.Handle = -1;
    other.Status = TState::None;
}

TFileLock& TFileLock::operator=(TFileLock&& other) noexcept {
    if (this != &other) {
        Release();
        LockPath = std::move(other.LockPath);
        Status = other.Status;
        HolderId = other.HolderId;
        Why = std::move(other.Why);
        Handle = other.Handle;
        other.Handle = -1;
        other.Status = TState::None;
    }
    return *this;
}

}  // namespace tovik
