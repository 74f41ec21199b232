// tovik-sim: a line of simulated relays on a pseudo-terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "base/Version.h"
#include "tools/sim/SimServer.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tovik::sim::TSimOptions options;
    const std::string error = tovik::sim::ParseOptions(args, options);
    if (!error.empty()) {
        std::fprintf(stderr, "tovik-sim: %s\nSee tovik-sim --help.\n", error.c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(tovik::sim::HelpText().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::fputs(tovik::VersionLine("tovik-sim").c_str(), stdout);
        return 0;
    }
    return tovik::sim::RunSimulator(options);
}
