// base/Files.h on Windows: every name goes through the wide-character calls
// (UTF-8 in, UTF-16 to the system), so Cyrillic names work whatever the ANSI
// code page.
#include <windows.h>
// windows.h names its own ReplaceFileW so; this file defines tovik::ReplaceFile.
#undef ReplaceFile

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cwchar>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/Cp1251.h"
#include "base/Files.h"
#include "base/NewFileNames.h"

namespace tovik {

namespace {

// UTF-16 of a UTF-8 name; none for a name that is no valid UTF-8.
std::optional<std::wstring> Wide(const std::string& utf8) {
    const auto utf16 = Utf8ToUtf16(utf8);
    if (!utf16) return std::nullopt;
    return std::wstring(utf16->begin(), utf16->end());
}

std::string Narrow(const wchar_t* text, size_t length) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length)).value_or("");
}

std::string LastReason() {
    return SystemErrorText(static_cast<int>(::GetLastError()));
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An open handle, closed with its owner.
class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE h) : H(h) {}
    ~THandle() { Close(); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    THandle(THandle&& other) noexcept : H(std::exchange(other.H, INVALID_HANDLE_VALUE)) {}
    THandle& operator=(THandle&& other) noexcept {
        if (this != &other) {
            Close();
            H = std::exchange(other.H, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    bool Valid() const { return H != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return H; }
    // Hands the handle over to the caller.
    HANDLE Release() { return std::exchange(H, INVALID_HANDLE_VALUE); }
    void Close() {
        if (Valid()) ::CloseHandle(std::exchange(H, INVALID_HANDLE_VALUE));
    }

private:
    HANDLE H = INVALID_HANDLE_VALUE;
};

THandle Open(const std::wstring& name, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0) {
    return THandle(::CreateFileW(name.c_str(), access, share, nullptr, disposition,
                                 flags | FILE_ATTRIBUTE_NORMAL, nullptr));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Names that stand for devices whatever folder they are in ("NUL",
// "com3.txt", "C:\x\con"), and the device namespace ("\\.\COM3",
// "\\.\pipe\x"): what they are is told by the name alone, since opening one
// (even to look) may take a pipe's connection or a line's modem lines.
std::optional<TFileKind> KindOfDeviceName(const std::string& path) {
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
        (path[2] == '.' || path[2] == '?') && IsSeparator(path[3])) {
        std::string rest = path.substr(4);
        std::transform(rest.begin(), rest.end(), rest.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (rest.rfind("pipe\\", 0) == 0 || rest.rfind("pipe/", 0) == 0) return TFileKind::Fifo;
        // "\\?\C:\..." is an ordinary long name.
        if (path[2] == '?' && rest.size() >= 2 && rest[1] == ':') return std::nullopt;
        return TFileKind::Device;
    }
    std::string base = BaseNameOf(path);
    if (base.size() >= 2 && base[1] == ':' && path.size() == 2) return std::nullopt;
    base = base.substr(0, base.find('.'));
    while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
    std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) { return std::toupper(c); });
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == device) return TFileKind::Device;
    if (base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
        base[3] <= '9')
        return TFileKind::Device;
    return std::nullopt;
}

TFileKind KindOfHandle(HANDLE h) {
    switch (::GetFileType(h)) {
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION info{};
            if (!::GetFileInformationByHandle(h, &info)) return TFileKind::Other;
            return info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? TFileKind::Folder : TFileKind::Regular;
        }
        case FILE_TYPE_CHAR:
            return TFileKind::Device;
        case FILE_TYPE_PIPE:
            return TFileKind::Fifo;
        default:
            return TFileKind::Other;
    }
}

bool ProcessRuns(long pid) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;  // someone else's, running
    DWORD code = 0;
    const bool runs = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return runs;
}

void RemoveLeftovers(const std::string& folder, const std::string& name) {
    const auto pattern = Wide(JoinPath(folder, name.empty() ? ".*" : "." + name + ".*"));
    if (!pattern) return;
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW(pattern->c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> gone;
    do {
        const std::string entryName = Narrow(entry.cFileName, std::wcslen(entry.cFileName));
        const long pid = NewFileWriter(entryName, name);
        if (pid != 0 && !ProcessRuns(pid)) gone.push_back(JoinPath(folder, entryName));
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    for (const auto& path : gone) RemoveFile(path);
}

// Flushes what has been written to `name` to the disk.
bool Sync(const std::wstring& name, std::string& reason) {
    THandle h = Open(name, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    if (!h.Valid() || !::FlushFileBuffers(h.Get())) {
        reason = LastReason();
        return false;
    }
    return true;
}

}  // namespace

std::string SystemErrorText(int code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? Narrow(text, length) : std::string();
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(static_cast<unsigned long>(code)) : message;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    const bool drive = path.size() >= 2 && path[1] == ':';
    if (slash == std::string::npos) return drive ? path.substr(0, 2) : ".";
    if (slash == 0) return path.substr(0, 1);
    if (drive && slash == 2) return path.substr(0, 3);  // "C:\"
    return path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return IsSeparator(dir.back()) ? dir + name : dir + "\\" + name;
}

TFileKind FileKindOf(const std::string& path) {
    if (const auto device = KindOfDeviceName(path)) return *device;
    const auto name = Wide(path);
    if (!name) return TFileKind::Missing;
    // Opened for its attributes only, links followed.
    THandle h = Open(*name, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    return h.Valid() ? KindOfHandle(h.Get()) : TFileKind::Missing;
}

std::optional<std::string> ResolveLinks(const std::string& path, int& error) {
    const auto name = Wide(path);
    if (!name) {
        error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    const DWORD attributes = ::GetFileAttributesW(name->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    // A symbolic link (or a junction): the system follows it to its end.
    THandle h = Open(*name, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (!h.Valid()) {
        error = static_cast<int>(::GetLastError());
        // A link to a file not made yet: the file is made where it points.
        return error == ERROR_FILE_NOT_FOUND ? std::optional<std::string>(path) : std::nullopt;
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(h.Get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED);
        if (n == 0) {
            error = static_cast<int>(::GetLastError());
            return std::nullopt;
        }
        if (n < buffer.size()) {
            std::string target = Narrow(buffer.data(), n);
            // "\\?\C:\..." as an ordinary name; "\\?\UNC\server\..." as "\\server\...".
            if (target.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + target.substr(8);
            if (target.rfind("\\\\?\\", 0) == 0) return target.substr(4);
            return target;
        }
        buffer.resize(n + 1);
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& path) -> std::optional<std::tuple<DWORD, DWORD, DWORD>> {
        const auto name = Wide(path);
        if (!name) return std::nullopt;
        THandle h = Open(*name, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info)) return std::nullopt;
        return std::tuple{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    };
    if (KindOfDeviceName(a) || KindOfDeviceName(b)) return false;
    const auto first = identity(a);
    return first && first == identity(b);
}

bool RemoveFile(const std::string& path) {
    const auto name = Wide(path);
    return name && ::DeleteFileW(name->c_str());
}

bool ReplaceFile(const std::string& path,
                 const std::function<bool(const std::string& newFile, std::string& reason)>& write,
                 std::string& reason) {
    int error = 0;
    const auto target = ResolveLinks(path, error);
    if (!target) {
        reason = SystemErrorText(error);
        return false;
    }
    const auto targetName = Wide(*target);
    if (!targetName) {
        reason = SystemErrorText(ERROR_INVALID_NAME);
        return false;
    }
    const TFileKind kind = FileKindOf(*target);
    if (kind != TFileKind::Regular && kind != TFileKind::Missing) {
        reason = NotRegularFileReason(kind);
        return false;
    }
    if (kind == TFileKind::Regular) {
        // A read-only file is refused, as it is for every user elsewhere.
        const DWORD attributes = ::GetFileAttributesW(targetName->c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            reason = SystemErrorText(ERROR_ACCESS_DENIED);
            return false;
        }
    }

    // A hidden name in the same folder, so the move stays on one volume.
    const std::string folder = DirectoryOf(*target);
    const std::string name = BaseNameOf(*target);
    RemoveLeftovers(folder, name);
    static std::atomic<unsigned> counter{0};
    std::string newFile;
    std::optional<std::wstring> newName;
    bool made = false;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        newFile = JoinPath(folder, NewFileName(name, static_cast<long>(::GetCurrentProcessId()), counter++));
        newName = Wide(newFile);
        THandle h = Open(*newName, GENERIC_WRITE, 0, CREATE_NEW);
        made = h.Valid();
        if (!made && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (!made) {
        reason = LastReason();
        return false;
    }

    // What the writer closed is flushed before it takes the old name.
    bool ok = write(newFile, reason) && Sync(*newName, reason);
    if (ok && !::MoveFileExW(newName->c_str(), targetName->c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        reason = LastReason();
        ok = false;
    }
    if (!ok) ::DeleteFileW(newName->c_str());
    return ok;
}

bool WriteNewFile(const std::string& newFile, std::string_view bytes, std::string& reason) {
    const auto name = Wide(newFile);
    THandle h = name ? Open(*name, GENERIC_WRITE, 0, TRUNCATE_EXISTING) : THandle();
    if (!h.Valid()) {
        reason = name ? LastReason() : SystemErrorText(ERROR_INVALID_NAME);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(h.Get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            reason = written == 0 && ::GetLastError() == ERROR_SUCCESS ? SystemErrorText(ERROR_DISK_FULL)
                                                                       : LastReason();
            return false;
        }
        done += written;
    }
    if (!::CloseHandle(h.Release())) {
        reason = LastReason();
        return false;
    }
    return true;
}

void RemoveLeftoverNewFiles(const std::string& folder) {
    RemoveLeftovers(folder, {});
}

std::optional<std::string> ReadFileBytes(const std::string& path, size_t limit, std::string& reason,
                                         bool* opened) {
    if (opened) *opened = false;
    // The kind is checked before the name is opened, and again on what was
    // opened, in case the name was replaced in between.
    if (const auto device = KindOfDeviceName(path)) {
        reason = NotRegularFileReason(*device);
        return std::nullopt;
    }
    const auto name = Wide(path);
    THandle h =
        name ? Open(*name, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS) : THandle();
    if (!h.Valid()) {
        reason = name ? LastReason() : SystemErrorText(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    reason = NotRegularFileReason(KindOfHandle(h.Get()));
    if (!reason.empty()) return std::nullopt;
    if (opened) *opened = true;
    std::string data;
    std::vector<char> chunk(65536);
    while (data.size() < limit) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(chunk.size(), limit - data.size()));
        if (!::ReadFile(h.Get(), chunk.data(), want, &n, nullptr)) {
            reason = LastReason();
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(chunk.data(), n);
    }
    return data;
}

std::optional<std::string> NarrowFileName(const std::string& path, std::string& reason) {
    // Where the ANSI code page is UTF-8 (a Windows option), UTF-8 names pass.
    if (::GetACP() == CP_UTF8) return path;
    auto ansi = [](const std::wstring& name) -> std::optional<std::string> {
        BOOL lost = FALSE;
        const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(),
                                            static_cast<int>(name.size()), nullptr, 0, nullptr, &lost);
        if (n <= 0 || lost) return std::nullopt;
        std::string text(static_cast<size_t>(n), '\0');
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), static_cast<int>(name.size()),
                              text.data(), n, nullptr, nullptr);
        return text;
    };
    const auto name = Wide(path);
    if (!name) {
        reason = SystemErrorText(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    if (auto narrow = ansi(*name)) return narrow;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetShortPathNameW(name->c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            reason = LastReason();
            return std::nullopt;
        }
        if (n < buffer.size()) {
            if (auto narrow = ansi(std::wstring(buffer.data(), n))) return narrow;
            reason = SystemErrorText(ERROR_NO_UNICODE_TRANSLATION);
            return std::nullopt;
        }
        buffer.resize(n);
    }
}

std::string ProgramFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return ".";
        if (n < buffer.size()) return DirectoryOf(Narrow(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string UserConfigFolder() {
    auto variable = [](const wchar_t* name) {
        std::vector<wchar_t> buffer(32768);
        const DWORD n = ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        return n > 0 && n < buffer.size() ? Narrow(buffer.data(), n) : std::string();
    };
    if (std::string roaming = variable(L"APPDATA"); !roaming.empty()) return roaming;
    const std::string profile = variable(L"USERPROFILE");
    return profile.empty() ? std::string() : JoinPath(profile, "AppData\\Roaming");
}

bool CanWriteFolder(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto probe = Wide(JoinPath(folder, ".tovik-probe-" + std::to_string(::GetCurrentProcessId()) +
                                                     "-" + std::to_string(counter++)));
        if (!probe) return false;
        THandle h = Open(*probe, GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
        if (h.Valid()) return true;
        if (::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

bool MakeFolders(const std::string& folder, std::string& reason) {
    const TFileKind kind = FileKindOf(folder);
    if (kind == TFileKind::Folder) return true;
    if (kind != TFileKind::Missing) {
        reason = NotRegularFileReason(kind);
        return false;
    }
    const std::string parent = DirectoryOf(folder);
    if (parent != folder && parent != "." && !MakeFolders(parent, reason)) return false;
    const auto name = Wide(folder);
    if (!name || (!::CreateDirectoryW(name->c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)) {
        reason = name ? LastReason() : SystemErrorText(ERROR_INVALID_NAME);
        return false;
    }
    if (FileKindOf(folder) == TFileKind::Folder) return true;
    reason = SystemErrorText(ERROR_PATH_NOT_FOUND);
    return false;
}

// ---- the lock ----

namespace {

// The lock is on one byte far beyond the process id the holder writes, so
// that others may read the id while it is held.
constexpr DWORD kLockedByteHigh = 1;

int64_t ReadHolder(HANDLE h) {
    char text[32] = {};
    OVERLAPPED at{};
    DWORD n = 0;
    if (!::ReadFile(h, text, sizeof text - 1, &n, &at) || n == 0) return 0;
    int64_t pid = 0;
    const auto [end, ec] = std::from_chars(text, text + n, pid);
    return ec == std::errc() && end != text && pid > 0 ? pid : 0;
}

bool DeletePending(HANDLE h) {
    FILE_STANDARD_INFO info{};
    return ::GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info) && info.DeletePending;
}

}  // namespace

TFileLock::TFileLock(const std::string& path) : LockPath(path) {
    auto fail = [this](std::string why) {
        Status = TState::Failed;
        Why = std::move(why);
    };
    const auto name = Wide(path);
    if (!name) {
        fail(SystemErrorText(ERROR_INVALID_NAME));
        return;
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        // Nothing but a regular file is opened: a device or a pipe under
        // that name is not ours to open.
        if (const TFileKind kind = FileKindOf(path);
            kind != TFileKind::Regular && kind != TFileKind::Missing) {
            fail(NotRegularFileReason(kind));
            return;
        }
        THandle h = Open(*name, GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll, OPEN_ALWAYS);
        // Someone else's lock file: locking needs no write permission.
        if (!h.Valid() && ::GetLastError() == ERROR_ACCESS_DENIED)
            h = Open(*name, GENERIC_READ, kShareAll, OPEN_EXISTING);
        if (!h.Valid()) {
            // The name of a lock file on its way out (its holder let go):
            // it is gone in a moment.
            if (::GetLastError() == ERROR_ACCESS_DENIED && attempt + 1 < 20) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            fail(LastReason());
            return;
        }
        if (KindOfHandle(h.Get()) != TFileKind::Regular) {
            fail(NotRegularFileReason(KindOfHandle(h.Get())));
            return;
        }
        OVERLAPPED at{};
        at.OffsetHigh = kLockedByteHigh;
        if (!::LockFileEx(h.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            if (::GetLastError() == ERROR_LOCK_VIOLATION || ::GetLastError() == ERROR_IO_PENDING) {
                Status = TState::InUse;
                HolderId = ReadHolder(h.Get());
                return;
            }
            fail(LastReason());
            return;
        }
        // The previous holder removed the file between our open and our
        // lock: then the lock is on a file nobody else will find.
        if (DeletePending(h.Get())) continue;
        const std::string pid = std::to_string(::GetCurrentProcessId()) + "\n";
        DWORD written = 0;
        if (::SetFilePointer(h.Get(), 0, nullptr, FILE_BEGIN) == 0 && ::SetEndOfFile(h.Get()))
            ::WriteFile(h.Get(), pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
        Handle = reinterpret_cast<intptr_t>(h.Release());
        Status = TState::Held;
        return;
    }
    fail(SystemErrorText(ERROR_SHARING_VIOLATION));
}

void TFileLock::Release() {
    if (Handle != -1) {
        // Removed while still held, so nobody locks a file on its way out.
        const HANDLE h = reinterpret_cast<HANDLE>(Handle);
        FILE_DISPOSITION_INFO dispose{};
        dispose.DeleteFile = TRUE;
        ::SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose);
        ::CloseHandle(h);
    }
    Handle = -1;
    Status = TState::None;
    HolderId = 0;
    Why.clear();
}

}  // namespace tovik
