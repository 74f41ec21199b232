// base/Files.h on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <vector>

#include "base/Files.h"
#include "base/NewFileNames.h"

namespace tovik {

std::string SystemErrorText(int code) {
    return SystemReason(code);
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

namespace {

TFileKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return TFileKind::Regular;
    if (S_ISDIR(mode)) return TFileKind::Folder;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return TFileKind::Device;
    if (S_ISFIFO(mode)) return TFileKind::Fifo;
    if (S_ISSOCK(mode)) return TFileKind::Socket;
    return TFileKind::Other;
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ProcessRuns(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void RemoveLeftovers(const std::string& folder, const std::string& name) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> gone;
    while (const dirent* e = ::readdir(d)) {
        const long pid = NewFileWriter(e->d_name, name);
        if (pid != 0 && !ProcessRuns(pid)) gone.push_back(JoinPath(folder, e->d_name));
    }
    ::closedir(d);
    for (const auto& path : gone) ::unlink(path.c_str());
}

// Flushes what has been written to `path` (or to the folder) to the disk.
bool Sync(const std::string& path, int flags, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0 || ::fsync(fd) != 0) {
        error = errno;
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

TFileKind FileKindOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? KindOfMode(st.st_mode) : TFileKind::Missing;
}

std::optional<std::string> ResolveLinks(const std::string& path, int& error) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT) return current;
            error = errno;
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return current;
        std::vector<char> buffer(static_cast<size_t>(std::max<off_t>(st.st_size, 255)) + 1);
        const ssize_t n = ::readlink(current.c_str(), buffer.data(), buffer.size());
        if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) {
            error = n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG;
            return std::nullopt;
        }
        const std::string target(buffer.data(), static_cast<size_t>(n));
        // A relative target starts from the folder the link itself is in.
        current = target.front() == '/' ? target : JoinPath(DirectoryOf(current), target);
    }
    error = ELOOP;
    return std::nullopt;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool ReplaceFile(const std::string& path,
                 const std::function<bool(const std::string& newFile, std::string& reason)>& write,
                 std::string& reason) {
    int error = 0;
    const auto target = ResolveLinks(path, error);
    if (!target) {
        reason = SystemReason(error);
        return false;
    }
    std::optional<struct stat> existing;
    struct stat st {};
    if (::stat(target->c_str(), &st) == 0) {
        if (KindOfMode(st.st_mode) != TFileKind::Regular) {
            reason = NotRegularFileReason(KindOfMode(st.st_mode));
            return false;
        }
        if ((st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0) {
            reason = SystemReason(EACCES);
            return false;
        }
        existing = st;
    } else if (errno != ENOENT) {
        reason = SystemReason(errno);
        return false;
    }

    // A hidden name in the same folder, so the rename stays on one file system.
    const std::string folder = DirectoryOf(*target);
    const std::string name = BaseNameOf(*target);
    RemoveLeftovers(folder, name);
    static std::atomic<unsigned> counter{0};
    std::string newFile;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        newFile = JoinPath(folder, NewFileName(name, static_cast<long>(::getpid()), counter++));
        // A new file is made as any new file is (the umask applies); one that
        // replaces a file starts private and takes that file's mode.
        fd = ::open(newFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    existing ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    if (existing) {
        // The owner where this user may give it (root saving someone's file);
        // the mode after it, as a change of owner clears the set-id bits.
        if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid()) {
            [[maybe_unused]] const int owned = ::fchown(fd, existing->st_uid, existing->st_gid);
        }
        ::fchmod(fd, existing->st_mode & 07777);
    }
    ::close(fd);

    // What the writer closed is flushed before it takes the old name.
    bool ok = write(newFile, reason) && Sync(newFile, 0, error);
    if (ok && ::rename(newFile.c_str(), target->c_str()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        if (error != 0) reason = SystemReason(error);
        ::unlink(newFile.c_str());
        return false;
    }
    Sync(folder, O_DIRECTORY, error);
    return true;
}

bool WriteNewFile(const std::string& newFile, std::string_view bytes, std::string& reason) {
    const int fd = ::open(newFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = SystemReason(n < 0 ? errno : ENOSPC);
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        reason = SystemReason(errno);
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
    // The type is checked before the name is opened, and again on what was
    // opened, in case the name was replaced in between.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        reason = SystemReason(errno);
        return std::nullopt;
    }
    auto refused = [&reason](const struct stat& s) {
        reason = NotRegularFileReason(KindOfMode(s.st_mode));
        return !reason.empty();
    };
    if (refused(st)) return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = SystemReason(errno);
        return std::nullopt;
    }
    if (::fstat(fd, &st) != 0 || refused(st)) {
        if (reason.empty()) reason = SystemReason(errno);
        ::close(fd);
        return std::nullopt;
    }
    if (opened) *opened = true;
    std::string data;
    std::vector<char> chunk(65536);
    while (data.size() < limit) {
        const ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), limit - data.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = SystemReason(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(chunk.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

std::optional<std::string> NarrowFileName(const std::string& path, std::string&) {
    return path;
}

std::string ProgramFolder() {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return ".";
    return DirectoryOf(std::string(buffer.data(), static_cast<size_t>(n)));
}

std::string UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
        home = h;
    } else {
        std::vector<char> buffer(16384);
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    return home.empty() ? std::string() : JoinPath(home, ".config");
}

bool CanWriteFolder(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string probe =
            JoinPath(folder, ".tovik-probe-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool MakeFolders(const std::string& folder, std::string& reason) {
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = SystemReason(errno);
            return false;
        }
        if (end == std::string::npos) break;
    }
    const TFileKind kind = FileKindOf(folder);
    if (kind == TFileKind::Folder) return true;
    reason = kind == TFileKind::Missing ? SystemReason(ENOENT) : NotRegularFileReason(kind);
    return false;
}

// ---- the lock ----

namespace {

// The process id the holder wrote into the lock file; 0 when none.
int64_t ReadHolder(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    int64_t pid = 0;
    if (n <= 0) return 0;
    const auto [end, ec] = std::from_chars(text, text + n, pid);
    return ec == std::errc() && end != text && pid > 0 ? pid : 0;
}

}  // namespace

TFileLock::TFileLock(const std::string& path) : LockPath(path) {
    auto fail = [this](std::string why) {
        Status = TState::Failed;
        Why = std::move(why);
    };
    for (int attempt = 0; attempt < 20; ++attempt) {
        // Nothing but a regular file is opened: a device or a FIFO under
        // that name is not ours to open.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            fail(S_ISLNK(st.st_mode) ? SystemReason(ELOOP) : NotRegularFileReason(KindOfMode(st.st_mode)));
            return;
        }
        constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
        // Someone else's lock file: locking needs no write permission.
        if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | kFlags);
        if (fd < 0) {
            fail(SystemReason(errno));
            return;
        }
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int error = errno;
            ::close(fd);
            fail(S_ISREG(st.st_mode) ? SystemReason(error) : NotRegularFileReason(KindOfMode(st.st_mode)));
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                Status = TState::InUse;
                HolderId = ReadHolder(fd);
            } else {
                fail(SystemReason(error));
            }
            ::close(fd);
            return;
        }
        // The previous holder may have removed the file between our open and
        // our lock: then the lock is on a file nobody else will find.
        struct stat named {};
        if (::stat(path.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
            ::close(fd);
            continue;
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
        }
        Handle = fd;
        Status = TState::Held;
        return;
    }
    fail(SystemReason(EAGAIN));
}

void TFileLock::Release() {
    if (Handle >= 0) {
        // Removed while still held, so nobody locks a file on its way out.
        const int fd = static_cast<int>(Handle);
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(LockPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            ::unlink(LockPath.c_str());
        ::close(fd);
    }
    Handle = -1;
    Status = TState::None;
    HolderId = 0;
    Why.clear();
}

}  // namespace tovik
