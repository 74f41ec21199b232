#include "app/Configuration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>

#include "app/TovikDevice.h"
#include "base/Clock.h"
#include "base/Files.h"
#include "ports/ProtoUART.h"

namespace tovik {

namespace {

// Said of a FIFO, a device or a socket given as the configuration.
constexpr const char* kNotRegularFile = "не обычный файл";

// A file descriptor as a write-only stream, with an optional cap that
// stands in for a full disk. Error keeps the errno of a failed write.
class TFdWriter : public TStream {
public:
    TFdWriter(int fd, int64_t limit) : Fd(fd), Limit(limit) {}
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        if (count <= 0) return 0;
        int64_t allowed = count;
        if (Limit >= 0) allowed = std::min<int64_t>(count, std::max<int64_t>(0, Limit - Written));
        const auto* p = static_cast<const uint8_t*>(buffer);
        int64_t done = 0;
        while (done < allowed) {
            const ssize_t n = ::write(Fd, p + done, static_cast<size_t>(allowed - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                Error = n < 0 ? errno : ENOSPC;
                break;
            }
            done += n;
        }
        if (done < count && Error == 0) Error = ENOSPC;
        Written += done;
        return static_cast<int32_t>(done);
    }
    int Error = 0;

private:
    int Fd;
    int64_t Limit;
    int64_t Written = 0;
};

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Whether the file at `target` (no link) may be replaced. Renaming over a
// file needs only the directory's permission, so the file's own is checked
// here: a file without write permission stays as it is, even for root.
bool MayReplace(const std::string& target, std::optional<struct stat>& existing, std::string& reason) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        reason = SystemReason(errno);
        return false;
    }
    existing = st;
    if (S_ISDIR(st.st_mode)) {
        reason = SystemReason(EISDIR);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = kNotRegularFile;
        return false;
    }
    if ((st.st_mode & 0222) == 0) {
        reason = SystemReason(EACCES);
        return false;
    }
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    return true;
}

// Makes the new file beside `target` under a name nobody else uses; -1 on
// failure, with errno in `error`. It takes the mode and, where allowed, the
// owner of the file it is to replace.
int CreateNewFile(const std::string& target, const std::optional<struct stat>& existing, std::string& newPath,
                  int& error) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        newPath = target + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(newPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (existing) {
                ::fchmod(fd, existing->st_mode & 07777);
                [[maybe_unused]] const int owned = ::fchown(fd, existing->st_uid, existing->st_gid);
            }
            return fd;
        }
        if (errno != EEXIST) break;
    }
    error = errno;
    newPath.clear();
    return -1;
}

void SyncDirectory(const std::string& path) {
    const int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Flushes and closes the new file and renames it over `target`. The new
// file is removed on failure; `error` gets the errno of the failed step.
bool CommitNewFile(int fd, const std::string& newPath, const std::string& target, bool ok,
                   const std::function<void(const std::string&)>& beforeReplace, int& error) {
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        error = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && beforeReplace) beforeReplace(newPath);
    if (ok && ::rename(newPath.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(newPath.c_str());
        return false;
    }
    SyncDirectory(target);
    return true;
}

// The whole contents of a regular file. `opened` tells a file that could
// not be opened from one that could not be read; `reason` says why.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, bool& opened,
                                                  std::string& reason) {
    opened = false;
    // The type is checked before the file is opened: opening a FIFO waits
    // for a writer, and opening a serial line switches its modem lines.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        reason = SystemReason(errno);
        return std::nullopt;
    }
    auto notRegular = [&reason](const struct stat& s) {
        if (S_ISREG(s.st_mode)) return false;
        reason = S_ISDIR(s.st_mode) ? SystemReason(EISDIR) : kNotRegularFile;
        return true;
    };
    if (notRegular(st)) return std::nullopt;
    // Non-blocking, in case the name has been replaced by a FIFO meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = SystemReason(errno);
        return std::nullopt;
    }
    if (::fstat(fd, &st) != 0 || notRegular(st)) {
        if (reason.empty()) reason = SystemReason(errno);
        ::close(fd);
        return std::nullopt;
    }
    opened = true;
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = SystemReason(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.insert(data.end(), chunk, chunk + n);
    }
    ::close(fd);
    return data;
}

// Copies `from` over `to` the same way a save replaces its file.
bool CopyFileAtomically(const std::string& from, const std::string& to) {
    if (to.empty()) return false;
    bool opened = false;
    std::string reason;
    const auto data = ReadWholeFile(from, opened, reason);
    if (!data || data->size() > static_cast<size_t>(INT32_MAX)) return false;
    int error = 0;
    const auto target = ResolveLinks(to, error);
    std::optional<struct stat> existing;
    if (!target || !MayReplace(*target, existing, reason)) return false;
    std::string newPath;
    const int fd = CreateNewFile(*target, existing, newPath, error);
    if (fd < 0) return false;
    TFdWriter writer(fd, -1);
    const bool ok = data->empty() || writer.WriteExact(data->data(), static_cast<int32_t>(data->size()));
    return CommitNewFile(fd, newPath, *target, ok, nullptr, error);
}

}  // namespace

void RegisterBuiltInKinds() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterPortClass(TProtoUART::KindCode, [](std::shared_ptr<TRequestStats> stats) {
            return std::make_unique<TProtoUART>(std::move(stats));
        });
        RegisterTovikDeviceKinds();
    });
}

uint8_t ScrambleOffset(uint32_t seed, size_t index) {
    const auto i = static_cast<uint8_t>(index);
    const auto k = static_cast<uint8_t>(seed >> (8 * (index % 4)));
    return static_cast<uint8_t>(k * i + i);
}

bool ScrambleBody(TMemoryStream& plain, TStream& file, uint32_t seed) {
    plain.Seek(0);
    const auto& bytes = plain.Bytes();
    std::vector<uint8_t> chunk;
    constexpr size_t kChunk = 1 << 16;
    for (size_t start = 0; start < bytes.size(); start += kChunk) {
        const size_t n = std::min(kChunk, bytes.size() - start);
        chunk.resize(n);
        for (size_t j = 0; j < n; ++j)
            chunk[j] = static_cast<uint8_t>(bytes[start + j] + ScrambleOffset(seed, start + j));
        if (!file.WriteExact(chunk.data(), static_cast<int32_t>(n))) return false;
    }
    plain.Seek(bytes.size());
    return true;
}

void UnscrambleBody(TMemoryStream& stored, TMemoryStream& plain, uint32_t seed) {
    stored.Seek(0);
    const auto& in = stored.Bytes();
    auto& out = plain.Bytes();
    out.resize(in.size());
    for (size_t i = 0; i < in.size(); ++i) out[i] = static_cast<uint8_t>(in[i] - ScrambleOffset(seed, i));
    stored.Seek(in.size());
    plain.Seek(0);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string MessageWithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + "\n" + reason;
}

TMigrationResult MigratePreviousConfiguration(const std::string& dir) {
    TMigrationResult result;
    const std::string previous = JoinPath(dir, kConfigCopyName);
    const std::string current = JoinPath(dir, kConfigFileName);
    std::optional<std::string> previousFile;
    try {
        if (!FileExists(previous)) return result;
        // One file under both names (a link): nothing to take over, and
        // removing the copy would remove the configuration itself.
        if (SameFile(previous, current)) return result;
        int error = 0;
        previousFile = ResolveLinks(previous, error);
        if (!previousFile) return result;
        result.TookOver = CopyFileAtomically(*previousFile, current);
    } catch (const std::exception&) {
        result.Messages.push_back(kMsgPreviousConfigFailed);
    }
    // The copy stays until it has been taken over: a failed take-over is
    // tried again at the next start instead of losing the newer file.
    if (result.TookOver) ::unlink(previousFile->c_str());
    return result;
}

TLoadResult LoadConfiguration(const std::string& dir, TConfigLists lists) {
    return LoadConfigurationFile(JoinPath(dir, kConfigFileName), lists);
}

TLoadResult LoadConfigurationFile(const std::string& path, TConfigLists lists) {
    bool opened = false;
    std::string reason;
    std::optional<std::vector<uint8_t>> data;
    try {
        data = ReadWholeFile(path, opened, reason);
    } catch (const std::exception&) {
        data.reset();
    }
    if (!data) {
        TLoadResult result;
        result.Fatal = true;
        result.Messages.push_back(opened ? kMsgConfigDamaged : kMsgConfigCannotOpen);
        result.Reason = reason;
        return result;
    }
    return LoadConfigurationBytes(data->data(), data->size(), lists);
}

TLoadResult LoadConfigurationBytes(const uint8_t* data, size_t size, TConfigLists lists) {
    TLoadResult result;
    TMemoryStream file(std::vector<uint8_t>(data, data + size));
    uint32_t magic = 0;
    if (!file.ReadU32(magic) || magic != kConfigMagic || !file.ReadU32(result.Seed)) {
        result.Fatal = true;
        result.Messages.push_back(kMsgConfigDamaged);
        return result;
    }
    TMemoryStream plain;
    {
        TMemoryStream stored(std::vector<uint8_t>(data + kConfigHeaderSize, data + size));
        UnscrambleBody(stored, plain, result.Seed);
    }
    auto attempt = [](auto&& step) {
        try {
            return step();
        } catch (const std::exception&) {
            return false;
        }
    };
    result.UsersLoaded = attempt([&] { return lists.Users.LoadFromStream(plain); });
    if (!result.UsersLoaded) {
        result.Fatal = true;
        result.Messages.push_back(kMsgConfigDamaged);
    }
    result.PortsLoaded = attempt([&] { return lists.Ports.LoadFromStream(plain); });
    if (!result.PortsLoaded) result.Messages.push_back(kMsgPortsLoadFailed);
    result.DevicesLoaded = attempt([&] { return lists.Devices.LoadFromStream(plain, &lists.Ports); });
    if (!result.DevicesLoaded) result.Messages.push_back(kMsgDevicesLoadFailed);
    return result;
}

bool BuildPlainBody(TConfigLists lists, TMemoryStream& plain) {
    return lists.Users.SaveToStream(plain) && lists.Ports.SaveToStream(plain) &&
           lists.Devices.SaveToStream(plain);
}

TSaveResult SaveConfiguration(const std::string& dir, TConfigLists lists, const TSaveOptions& options) {
    return SaveConfigurationFile(JoinPath(dir, kConfigFileName), JoinPath(dir, kConfigCopyName), lists,
                                 options);
}

TSaveResult SaveConfigurationFile(const std::string& path, const std::string& copyPath, TConfigLists lists,
                                  const TSaveOptions& options) {
    TSaveResult result;
    auto cannotCreate = [&result](std::string reason) {
        result.Messages.push_back(kMsgConfigCannotCreate);
        result.Reason = std::move(reason);
        return result;
    };
    int error = 0;
    const auto target = ResolveLinks(path, error);
    if (!target) return cannotCreate(SystemReason(error));
    std::optional<struct stat> existing;
    std::string reason;
    if (!MayReplace(*target, existing, reason)) return cannotCreate(reason);
    std::string newPath;
    const int fd = CreateNewFile(*target, existing, newPath, error);
    if (fd < 0) return cannotCreate(SystemReason(error));
    result.Created = true;

    TMemoryStream plain;
    bool ok = false;
    try {
        if (options.ClosePanel) options.ClosePanel();
        if (BuildPlainBody(lists, plain)) {
            result.Seed = timeGetTime();
            TFdWriter file(fd, options.WriteLimit);
            ok = file.WriteU32(kConfigMagic) && file.WriteU32(result.Seed) &&
                 ScrambleBody(plain, file, result.Seed);
            if (!ok) error = file.Error;
        }
    } catch (const std::exception&) {
        ok = false;
    }
    plain.Clear();
    result.Saved = CommitNewFile(fd, newPath, *target, ok, options.BeforeReplace, error);
    if (!result.Saved) {
        result.Messages.push_back(kMsgConfigSaveFailed);
        if (error != 0) result.Reason = SystemReason(error);
    }

    const bool copy = options.Copy == TCopyPolicy::Always ||
                      (options.Copy == TCopyPolicy::IfExists && FileExists(copyPath));
    if (copy) result.CopyRefreshed = CopyFileAtomically(*target, copyPath);
    return result;
}

void ReleaseConfiguration(TConfigLists lists) {
    lists.Ports.StopAll();
    lists.Devices.Clear();
    lists.Ports.Clear();
    lists.Users.Clear();
}

}  // namespace tovik
