#pragma once
// A program run as a child process with pipes to its standard input and
// output, for tests and benchmarks that drive the tools as a user would.
// The child is killed and reaped when the object goes, unless it was seen
// to exit, so a failed assertion never leaves a process behind.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/Wait.h"

namespace tovik::test {

class TChildProcess {
public:
    // What becomes of the child's standard error.
    enum class EStderr {
        Inherit,  // shared with this process
        Capture,  // kept in a pipe, read with ErrorText()
        Discard,  // sent to /dev/null
    };

    // Starts `program` (a path, not looked up in PATH) with `args`. `env`
    // holds "NAME=value" entries added to (or replacing) this process's
    // environment. On failure Pid() is -1 and every read comes back empty.
    TChildProcess(const std::string& program, const std::vector<std::string>& args,
                  EStderr stderrMode = EStderr::Inherit, const std::vector<std::string>& env = {});
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return ChildPid; }

    // One line of standard output without its newline; nullopt after the
    // time-out or at the end of the output.
    std::optional<std::string> ReadLine(int timeoutMs = kHangLimitMs);
    // Writes a line to standard input and returns the first line of the
    // answer ("write failed" or "no answer" when there is none).
    std::string Command(const std::string& line);
    // Ends standard input: the child reads end of file.
    void CloseInput();
    // Waits for the exit: the exit code, or -1 after a signal or the time-out.
    int Wait(int timeoutMs = kHangLimitMs);
    // What the child has written to standard error so far (Capture only).
    std::string ErrorText();
    // The rest of standard output up to its end, lines not yet read included.
    std::string Stdout();

private:
    pid_t ChildPid = -1;
    int In = -1;
    int Out = -1;
    int Err = -1;
    std::string OutText;  // read from Out, not yet returned
    bool Exited = false;
};

// tovik-sim as a child process. Its first output line names its line's
// pseudo-terminal (e.g. "pts/3"), read at the start.
class TSimProcess : public TChildProcess {
public:
    TSimProcess(const std::string& binary, const std::vector<std::string>& args,
                EStderr stderrMode = EStderr::Inherit, const std::vector<std::string>& env = {});

    // The port name relative to /dev; empty when the simulator did not start.
    const std::string& Port() const { return PortName; }

private:
    std::string PortName;
};

// The tovik-sim beside the running program (tools, tests and benchmarks all
// land in one folder), or the one TOVIK_SIM names.
std::string SimBinaryBesideThisProgram();

}  // namespace tovik::test
