// base/Program.h on POSIX systems.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/Program.h"

namespace tovik {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8Console() {}

void LowerThreadPriority() {
    // Linux gives every thread its own nice value, addressed by its id.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 1);
}

}  // namespace tovik
