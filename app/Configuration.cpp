#include "app/Configuration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <mutex>
#include <optional>

#include "app/TovikDevice.h"
#include "base/Clock.h"
#include "ports/ProtoUART.h"

namespace tovik {

namespace {

// A file descriptor as a write-only stream, with an optional cap that
// stands in for a full disk.
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
            if (n <= 0) break;
            done += n;
        }
        Written += done;
        return static_cast<int32_t>(done);
    }

private:
    int Fd;
    int64_t Limit;
    int64_t Written = 0;
};

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Makes the new file beside `path` under a name nobody else uses; -1 on
// failure. It takes the mode of the file it is to replace.
int CreateNewFile(const std::string& path, std::string& newPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        newPath = path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(newPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, st.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST) break;
    }
    newPath.clear();
    return -1;
}

void SyncDirectory(const std::string& path) {
    const int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Flushes and closes the new file and renames it over `path`. The new file
// is removed on failure.
bool CommitNewFile(int fd, const std::string& newPath, const std::string& path, bool ok,
                   const std::function<void(const std::string&)>& beforeReplace) {
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && beforeReplace) beforeReplace(newPath);
    if (ok && ::rename(newPath.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(newPath.c_str());
        return false;
    }
    SyncDirectory(path);
    return true;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, bool& opened) {
    opened = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
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
    bool opened = false;
    const auto data = ReadWholeFile(from, opened);
    if (!data || data->size() > static_cast<size_t>(INT32_MAX)) return false;
    std::string newPath;
    const int fd = CreateNewFile(to, newPath);
    if (fd < 0) return false;
    TFdWriter writer(fd, -1);
    const bool ok = data->empty() || writer.WriteExact(data->data(), static_cast<int32_t>(data->size()));
    return CommitNewFile(fd, newPath, to, ok, nullptr);
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

TMigrationResult MigratePreviousConfiguration(const std::string& dir) {
    TMigrationResult result;
    const std::string previous = JoinPath(dir, kConfigCopyName);
    try {
        if (!FileExists(previous)) return result;
        result.TookOver = CopyFileAtomically(previous, JoinPath(dir, kConfigFileName));
    } catch (const std::exception&) {
        result.Messages.push_back(kMsgPreviousConfigFailed);
    }
    // The copy stays until it has been taken over: a failed take-over is
    // tried again at the next start instead of losing the newer file.
    if (result.TookOver) ::unlink(previous.c_str());
    return result;
}

TLoadResult LoadConfiguration(const std::string& dir, TConfigLists lists) {
    return LoadConfigurationFile(JoinPath(dir, kConfigFileName), lists);
}

TLoadResult LoadConfigurationFile(const std::string& path, TConfigLists lists) {
    bool opened = false;
    std::optional<std::vector<uint8_t>> data;
    try {
        data = ReadWholeFile(path, opened);
    } catch (const std::exception&) {
        data.reset();
    }
    if (!data) {
        TLoadResult result;
        result.Fatal = true;
        result.Messages.push_back(opened ? kMsgConfigDamaged : kMsgConfigCannotOpen);
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
    TMemoryStream plain;
    std::string newPath;
    const int fd = CreateNewFile(path, newPath);
    if (fd < 0) {
        result.Messages.push_back(kMsgConfigCannotCreate);
        return result;
    }
    result.Created = true;
    bool ok = false;
    try {
        if (options.ClosePanel) options.ClosePanel();
        if (BuildPlainBody(lists, plain)) {
            result.Seed = timeGetTime();
            TFdWriter file(fd, options.WriteLimit);
            ok = file.WriteU32(kConfigMagic) && file.WriteU32(result.Seed) &&
                 ScrambleBody(plain, file, result.Seed);
        }
    } catch (const std::exception&) {
        ok = false;
    }
    plain.Clear();
    result.Saved = CommitNewFile(fd, newPath, path, ok, options.BeforeReplace);
    if (!result.Saved) result.Messages.push_back(kMsgConfigSaveFailed);

    const bool copy = options.Copy == TCopyPolicy::Always ||
                      (options.Copy == TCopyPolicy::IfExists && FileExists(copyPath));
    if (copy) result.CopyRefreshed = CopyFileAtomically(path, copyPath);
    return result;
}

void ReleaseConfiguration(TConfigLists lists) {
    lists.Ports.StopAll();
    lists.Devices.Clear();
    lists.Ports.Clear();
    lists.Users.Clear();
}

}  // namespace tovik
