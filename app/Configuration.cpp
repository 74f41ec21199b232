#include "app/Configuration.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>

#include "app/TovikDevice.h"
#include "base/Clock.h"
#include "ports/ProtoUART.h"

namespace tovik {

namespace {

bool IsRegularFile(const std::string& path) {
    return FileKindOf(path) == TFileKind::Regular;
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies `from` over `to` the way a save replaces its file.
bool CopyFileAtomically(const std::string& from, const std::string& to) {
    if (to.empty()) return false;
    std::string reason;
    const auto data = ReadFileBytes(from, SIZE_MAX, reason);
    return data && ReplaceFileBytes(to, *data, reason);
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

std::string MessageWithReason(const std::string& message, const std::string& reason) {
    return reason.empty() ? message : message + "\n" + reason;
}

std::string ConfigFileMessage(const std::string& message, const std::string& path,
                              const std::string& reason) {
    return MessageWithReason(MessageWithReason(message, path), reason);
}

// ---- where the file lives ----

TConfigPlace ConfigPlaceIn(const std::string& dir) {
    TConfigPlace place;
    place.File = JoinPath(dir, kConfigFileName);
    place.Copy = JoinPath(dir, kConfigCopyName);
    return place;
}

TConfigPlace ConfigPlaceOfFile(const std::string& file) {
    TConfigPlace place;
    place.File = file;
    if (FileNameOf(file) == kConfigFileName) place.Copy = JoinPath(DirectoryOf(file), kConfigCopyName);
    place.Where = TConfigWhere::Explicit;
    return place;
}

TConfigSearch DefaultConfigSearch(std::optional<std::string> explicitFile) {
    TConfigSearch search;
    search.ExplicitFile = std::move(explicitFile);
    search.ProgramFolder = ProgramFolder();
    const std::string user = UserConfigFolder();
    if (!user.empty()) search.UserFolder = JoinPath(user, kConfigFolderName);
    search.CanWrite = CanWriteFolder;
    return search;
}

TConfigPlace FindConfiguration(const TConfigSearch& search) {
    if (search.ExplicitFile) return ConfigPlaceOfFile(*search.ExplicitFile);
    const bool writable =
        search.CanWrite ? search.CanWrite(search.ProgramFolder) : CanWriteFolder(search.ProgramFolder);
    // Files written by earlier versions beside the program keep working there.
    if (writable || search.UserFolder.empty()) return ConfigPlaceIn(search.ProgramFolder);
    TConfigPlace place = ConfigPlaceIn(search.UserFolder);
    place.Where = TConfigWhere::UserFolder;
    const std::string beside = JoinPath(search.ProgramFolder, kConfigFileName);
    if (FileKindOf(place.File) == TFileKind::Missing && FileKindOf(place.Copy) == TFileKind::Missing &&
        IsRegularFile(beside))
        place.Template = beside;
    return place;
}

std::string ConfigurationToRead(const TConfigPlace& place) {
    return place.Template.empty() ? place.File : place.Template;
}

TFileLock LockConfiguration(const std::string& file) {
    int error = 0;
    const auto target = ResolveLinks(file, error);
    // Nothing is made beside what is no file (a device, a FIFO): it is
    // refused when it is loaded or saved.
    const TFileKind kind = target ? FileKindOf(*target) : TFileKind::Other;
    if (kind != TFileKind::Regular && kind != TFileKind::Missing) return TFileLock();
    return TFileLock(*target + ".lock");
}

std::string ConfigInUseMessage(const std::string& file, const TFileLock& lock) {
    std::string text = ConfigFileMessage(kMsgConfigInUse, file);
    if (lock.Holder() > 0) text += "\nПроцесс " + std::to_string(lock.Holder()) + ".";
    return text + "\n" + kMsgConfigInUseEnd;
}

// ---- take-over, load and save ----

TMigrationResult MigratePreviousConfiguration(const std::string& dir) {
    return MigratePreviousConfiguration(ConfigPlaceIn(dir));
}

TMigrationResult MigratePreviousConfiguration(const TConfigPlace& place) {
    TMigrationResult result;
    const std::string& previous = place.Copy;
    const std::string& current = place.File;
    std::optional<std::string> previousFile;
    try {
        // A user's first start of a program installed with a file beside it.
        if (!place.Template.empty() && FileKindOf(current) == TFileKind::Missing &&
            (previous.empty() || FileKindOf(previous) == TFileKind::Missing))
            result.FromTemplate = CopyFileAtomically(place.Template, current);
        if (previous.empty() || !IsRegularFile(previous)) return result;
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
    if (result.TookOver) RemoveFile(*previousFile);
    return result;
}

TLoadResult LoadConfiguration(const std::string& dir, TConfigLists lists) {
    return LoadConfigurationFile(JoinPath(dir, kConfigFileName), lists);
}

TLoadResult LoadConfigurationFile(const std::string& path, TConfigLists lists) {
    std::string reason;
    std::optional<std::string> data;
    bool opened = false;
    try {
        data = ReadFileBytes(path, SIZE_MAX, reason, &opened);
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
    return LoadConfigurationBytes(reinterpret_cast<const uint8_t*>(data->data()), data->size(), lists);
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
    std::string reason;
    result.Saved = ReplaceFile(
        path,
        [&](const std::string& newFile, std::string& why) {
            result.Created = true;
            try {
                if (options.ClosePanel) options.ClosePanel();
                TMemoryStream plain;
                if (!BuildPlainBody(lists, plain)) return false;  // no file operation failed: no reason
                result.Seed = timeGetTime();
                TMemoryStream file;
                if (!file.WriteU32(kConfigMagic) || !file.WriteU32(result.Seed) ||
                    !ScrambleBody(plain, file, result.Seed))
                    return false;
                plain.Clear();
                const auto& bytes = file.Bytes();
                return WriteNewFile(newFile, {reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                                    why);
            } catch (const std::exception&) {
                return false;
            }
        },
        reason);
    if (!result.Created) {
        result.Messages.push_back(kMsgConfigCannotCreate);
        result.Reason = reason;
        return result;
    }
    if (!result.Saved) {
        result.Messages.push_back(kMsgConfigSaveFailed);
        result.Reason = reason;
    }
    const bool copy = options.Copy == TCopyPolicy::Always ||
                      (options.Copy == TCopyPolicy::IfExists && IsRegularFile(copyPath));
    if (copy) {
        int error = 0;
        const auto target = ResolveLinks(path, error);
        result.CopyRefreshed = target && CopyFileAtomically(*target, copyPath);
    }
    return result;
}

void ReleaseConfiguration(TConfigLists lists) {
    lists.Ports.StopAll();
    lists.Devices.Clear();
    lists.Ports.Clear();
    lists.Users.Clear();
}

}  // namespace tovik
