#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace tovik::test {
namespace {

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string EnvName(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

// This process's environment with `extra` added; entries of the same name
// are replaced.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> all;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& x : extra) replaced = replaced || EnvName(x) == EnvName(entry);
        if (!replaced) all.push_back(entry);
    }
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             EStderr stderrMode, const std::vector<std::string>& env) {
    // Everything the child needs is made here: between fork and exec only
    // async-signal-safe calls are allowed, and the test process has threads.
    std::vector<std::string> argStrings = {program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    const std::vector<char*> argv = Pointers(argStrings);
    std::vector<std::string> envStrings = MergedEnvironment(env);
    const std::vector<char*> envp = Pointers(envStrings);

    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    int devnull = -1;
    auto closeAll = [&] {
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1], &devnull}) CloseFd(*fd);
    };
    bool ready = ::pipe2(in, O_CLOEXEC) == 0 && ::pipe2(out, O_CLOEXEC) == 0;
    if (ready && stderrMode == EStderr::Capture) ready = ::pipe2(err, O_CLOEXEC) == 0;
    if (ready && stderrMode == EStderr::Discard)
        ready = (devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC)) >= 0;
    if (!ready) {
        closeAll();
        return;
    }
    const int errTarget = stderrMode == EStderr::Capture ? err[1] : devnull;

    ChildPid = ::fork();
    if (ChildPid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        if (errTarget >= 0) ::dup2(errTarget, 2);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (ChildPid < 0) {
        ChildPid = -1;
        closeAll();
        return;
    }
    In = in[1];
    Out = out[0];
    Err = err[0];
    in[1] = out[0] = err[0] = -1;  // kept
    closeAll();                    // the child's ends
}

TChildProcess::~TChildProcess() {
    if (ChildPid > 0 && !Exited) {
        ::kill(ChildPid, SIGKILL);
        ::waitpid(ChildPid, nullptr, 0);
    }
    CloseFd(In);
    CloseFd(Out);
    CloseFd(Err);
}

std::optional<std::string> TChildProcess::ReadLine(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t eol = OutText.find('\n');
        if (eol != std::string::npos) {
            std::string line = OutText.substr(0, eol);
            OutText.erase(0, eol + 1);
            return line;
        }
        if (Out < 0) return std::nullopt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{Out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[512];
        const ssize_t n = ::read(Out, buf, sizeof buf);
        if (n <= 0) return std::nullopt;
        OutText.append(buf, static_cast<size_t>(n));
    }
}

std::string TChildProcess::Command(const std::string& line) {
    const std::string text = line + "\n";
    if (In < 0 || ::write(In, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return "write failed";
    return ReadLine().value_or("no answer");
}

void TChildProcess::CloseInput() {
    CloseFd(In);
}

int TChildProcess::Wait(int timeoutMs) {
    if (ChildPid <= 0 || Exited) return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(ChildPid, &status, WNOHANG) == ChildPid) {
            Exited = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

std::string TChildProcess::ErrorText() {
    std::string text;
    if (Err < 0) return text;
    ::fcntl(Err, F_SETFL, O_NONBLOCK);
    char buf[512];
    for (ssize_t n; (n = ::read(Err, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    return text;
}

std::string TChildProcess::Stdout() {
    std::string text = std::move(OutText);
    OutText.clear();
    if (Out < 0) return text;
    char buf[4096];
    for (ssize_t n; (n = ::read(Out, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    return text;
}

TSimProcess::TSimProcess(const std::string& binary, const std::vector<std::string>& args, EStderr stderrMode,
                         const std::vector<std::string>& env)
    : TChildProcess(binary, args, stderrMode, env) {
    PortName = ReadLine().value_or("");
}

std::string SimBinaryBesideThisProgram() {
    if (const char* env = std::getenv("TOVIK_SIM")) return env;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "tovik-sim";
    const std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "tovik-sim";
}

}  // namespace tovik::test
