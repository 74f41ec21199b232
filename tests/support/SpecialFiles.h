#pragma once
// What tests put where a file is expected: folders, FIFOs, sockets, device
// nodes, write-protected files, links; a picture of a name to tell whether
// it was touched; and a cap on file sizes that stands in for a full disk.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace tovik::test {

enum class TSpecial { Folder, Fifo, Socket, Device, LinkToFifo, WriteProtected };

inline const char* SpecialName(TSpecial kind) {
    switch (kind) {
        case TSpecial::Folder:
            return "a folder";
        case TSpecial::Fifo:
            return "a FIFO";
        case TSpecial::Socket:
            return "a socket";
        case TSpecial::Device:
            return "a device";
        case TSpecial::LinkToFifo:
            return "a link to a FIFO";
        case TSpecial::WriteProtected:
            return "a write-protected file";
    }
    return "?";
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Makes `kind` at `path`; false when it could not. The device is the full
// device (a character device whose writes fail): as root a node of its own
// in the test's folder, for anyone else a link to /dev/full, which only
// root could replace.
inline bool MakeSpecial(TSpecial kind, const std::string& path) {
    switch (kind) {
        case TSpecial::Folder:
            return ::mkdir(path.c_str(), 0755) == 0;
        case TSpecial::Fifo:
            return ::mkfifo(path.c_str(), 0600) == 0;
        case TSpecial::Socket: {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            if (path.size() >= sizeof address.sun_path) return false;
            std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool bound =
                fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            if (fd >= 0) ::close(fd);
            return bound;
        }
        case TSpecial::Device:
            if (::geteuid() == 0) return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
            return ::symlink("/dev/full", path.c_str()) == 0;
        case TSpecial::LinkToFifo:
            return ::mkfifo((path + ".fifo").c_str(), 0600) == 0 &&
                   ::symlink((path + ".fifo").c_str(), path.c_str()) == 0;
        case TSpecial::WriteProtected: {
            std::ofstream(path) << "protected";
            return ::chmod(path.c_str(), 0444) == 0;
        }
    }
    return false;
}

// What a name is: its type, its mode and, for a regular file, its
// contents. Equal pictures: the name was left as it was.
inline std::string Picture(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "missing";
    std::string picture = std::to_string(st.st_mode) + ":" + std::to_string(st.st_ino);
    if (S_ISREG(st.st_mode)) picture += ":" + ReadText(path);
    return picture;
}

// The names in a folder.
inline std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.insert(e.path().filename());
    return names;
}

// While it lives, no file this process writes grows past `bytes`: a write
// beyond fails (EFBIG) as it does on a full disk.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &Before);
        OldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = Before;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &Before);
        ::signal(SIGXFSZ, OldHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit Before{};
    sighandler_t OldHandler = SIG_DFL;
};

}  // namespace tovik::test
