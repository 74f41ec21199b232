#include "base/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <vector>

namespace tovik {

std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a name stands for, its symbolic links followed to their end: a
// save replaces that file, in its own directory, and keeps the links. The
// file need not exist yet. nullopt, with errno in `error`, on a link that
// cannot be read or a loop.
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
        current = target.front() == '/' ? target : DirectoryOf(current) + "/" + target;
    }
    error = ELOOP;
    return std::nullopt;
}

namespace {

// The mode new files get from this process: 0666 less the umask.
mode_t NewFileMode() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool ReplaceFile(const std::string& path,
                 const std::function<bool(const std::string& newFile, std::string& reason)>& write,
                 std::string& reason) {
    int error = 0;
    const auto target = ResolveLinks(path, error);
    if (!target) {
        reason = SystemReason(error);
        return false;
    }
    // Renaming needs only the folder's permission: a file that may not be
    // written (or is no regular file) is not replaced behind its back.
    struct stat st {};
    mode_t mode = NewFileMode();
    if (::stat(target->c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            reason = SystemReason(EISDIR);
            return false;
        }
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0) {
            reason = SystemReason(S_ISREG(st.st_mode) ? EACCES : EPERM);
            return false;
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        reason = SystemReason(errno);
        return false;
    }

    // A hidden name in the same folder, so the rename stays on one file system.
    static std::atomic<unsigned> counter{0};
    const auto slash = target->find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : target->substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? *target : target->substr(slash + 1);
    std::string newFile;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        newFile = folder + "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(newFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    ::fchmod(fd, mode);
    ::close(fd);

    bool ok = write(newFile, reason);
    if (ok) {
        // What the writer closed is flushed before it takes the old name.
        fd = ::open(newFile.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            reason = SystemReason(errno);
            ok = false;
        }
        if (fd >= 0) ::close(fd);
    }
    if (ok && ::rename(newFile.c_str(), target->c_str()) != 0) {
        reason = SystemReason(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(newFile.c_str());
        return false;
    }
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool ReplaceFileBytes(const std::string& path, const std::string& bytes, std::string& reason) {
    return ReplaceFile(
        path,
        [&bytes](const std::string& newFile, std::string& why) {
            const int fd = ::open(newFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) {
                why = SystemReason(errno);
                return false;
            }
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    why = SystemReason(n < 0 ? errno : ENOSPC);
                    ::close(fd);
                    return false;
                }
                done += static_cast<size_t>(n);
            }
            if (::close(fd) != 0) {
                why = SystemReason(errno);
                return false;
            }
            return true;
        },
        reason);
}

std::optional<std::string> ReadFileBytes(const std::string& path, size_t limit, std::string& reason) {
    // The type is checked first: opening a FIFO waits for a writer, and
    // opening a serial line switches its modem lines.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        reason = SystemReason(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = SystemReason(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = SystemReason(errno);
        return std::nullopt;
    }
    std::string data;
    char chunk[65536];
    while (data.size() < limit) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - data.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = SystemReason(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

}  // namespace tovik
