#pragma once
// Files, the seam every layer's files go through: a file is replaced whole
// or not at all, read whole without blocking on what is no regular file,
// and a running program holds a lock on its configuration. Also the folders
// the program lives in. The platform's part is chosen by CMake
// (FilesPosix.cpp); nothing here names a platform.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tovik {

// The system's text for an errno value.
std::string SystemReason(int error);
// The system's text for an error code its own calls report: errno on POSIX
// systems, GetLastError on Windows (whose texts follow the user's language).
std::string SystemErrorText(int code);

// The folder part of a path ("." without one; on Windows "\\" separates
// too).
std::string DirectoryOf(const std::string& path);
// `name` in `dir` (`name` alone for an empty `dir`).
std::string JoinPath(const std::string& dir, const std::string& name);

// What a name stands for, its symbolic links followed.
enum class TFileKind { Missing, Regular, Folder, Device, Fifo, Socket, Other };
TFileKind FileKindOf(const std::string& path);
// The reason given for a name that is there but no regular file
// ("это не обычный файл, а устройство"); empty for a regular or missing one.
std::string NotRegularFileReason(TFileKind kind);

// The file a name stands for, its symbolic links followed to their end (a
// relative link from the link's own folder): a save replaces that file, in
// its own folder, and keeps the links. The file need not exist yet. None,
// with the system's error code in `error` (SystemErrorText), on a link that
// cannot be read or a loop.
std::optional<std::string> ResolveLinks(const std::string& path, int& error);
// Whether two names stand for one file.
bool SameFile(const std::string& a, const std::string& b);
// Removes a name (a link itself, not its target); false when it was not there
// or could not go.
bool RemoveFile(const std::string& path);

// Replaces the file at `path` with what `write` puts into a new file beside
// it. `write` gets the new file's name (the file exists, empty) and returns
// false with a reason. The new file is flushed and renamed over the old one,
// so a failure at any step leaves an existing file as it was and no new file
// behind. A name that is a symbolic link is written through into the link's
// target; the new file takes the old one's permissions and owner. Only a
// regular file (or a name not yet taken) is ever replaced: a folder, a
// device, a FIFO or a socket is refused untouched, and so is a file without
// write permission, for every user (renaming over it would need only the
// folder's permission). New files left behind by writers that ended
// half-way (a crash, a kill) are removed on the way. False with the
// system's reason in `reason`.
bool ReplaceFile(const std::string& path,
                 const std::function<bool(const std::string& newFile, std::string& reason)>& write,
                 std::string& reason);
// Writes `bytes` into the new file ReplaceFile gave its writer.
bool WriteNewFile(const std::string& newFile, std::string_view bytes, std::string& reason);
// ReplaceFile with `bytes` as the whole contents.
bool ReplaceFileBytes(const std::string& path, std::string_view bytes, std::string& reason);
// Removes the new files ReplaceFile left in `folder` when its writer ended
// half-way and is no longer running.
void RemoveLeftoverNewFiles(const std::string& folder);

// The contents of a regular file, at most `limit` bytes of it; none with the
// reason. Anything but a regular file is refused without being opened or
// read: opening a FIFO waits for a writer, opening a serial line switches its
// modem lines, and a device may never end. `opened`, when given, tells a
// file that was opened but could not be read.
std::optional<std::string> ReadFileBytes(const std::string& path, size_t limit, std::string& reason,
                                         bool* opened = nullptr);

// The name by which a library's narrow-character calls (fopen, CreateFileA)
// reach the file `path` names, which must exist: the name itself on POSIX
// systems; on Windows the name in the ANSI code page, or the file's short
// name where that code page cannot spell the long one. None, with the
// system's reason, when no narrow name reaches it.
std::optional<std::string> NarrowFileName(const std::string& path, std::string& reason);

// The folder that holds the running program.
std::string ProgramFolder();
// The user's folder for configuration files ($XDG_CONFIG_HOME, by default
// ~/.config; on Windows the roaming application data, %APPDATA%); empty
// when there is no home to put it in.
std::string UserConfigFolder();
// Whether this process can make files in `folder` (tried, not guessed from
// the permission bits: a read-only disk, or a folder root may not write
// either, says no).
bool CanWriteFolder(const std::string& folder);
// Makes `folder` and the folders above it that are missing (private to the
// user); false with the reason.
bool MakeFolders(const std::string& folder, std::string& reason);

// An exclusive hold on a lock file, tried once and never waited for. It
// lasts as long as the object, and the system lets go of it when the
// process ends, however it ends. The file is made when missing and removed
// when the hold ends; the holder writes its process id into it.
class TFileLock {
public:
    enum class TState {
        None,    // nothing tried, or let go
        Held,    // this object holds it
        InUse,   // someone else does
        Failed,  // it could not be tried (no lock file can be made there)
    };

    TFileLock() = default;  // holds nothing
    explicit TFileLock(const std::string& path);
    ~TFileLock();
    TFileLock(TFileLock&& other) noexcept;
    TFileLock& operator=(TFileLock&& other) noexcept;
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    TState State() const { return Status; }
    bool Held() const { return Status == TState::Held; }
    // InUse: the process that holds it, as it wrote (0: not known).
    int64_t Holder() const { return HolderId; }
    // Failed: the system's reason.
    const std::string& Reason() const { return Why; }
    const std::string& Path() const { return LockPath; }
    // Lets go now (the destructor does it otherwise).
    void Release();

private:
    std::string LockPath;
    TState Status = TState::None;
    int64_t HolderId = 0;
    std::string Why;
    intptr_t Handle = -1;
};

}  // namespace tovik
