// What the installed tools tell about themselves: their version, from the
// build's one version, and the bash completion's commands and options,
// which must be those their help lists.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "base/Version.h"
#include "support/ChildProcess.h"

namespace tovik {
namespace {

struct TOutput {
    int Code = -1;
    std::string Out;
};

TOutput RunTool(const std::string& program, const std::vector<std::string>& args) {
    test::TChildProcess p(TOVIK_BINARY_DIR "/bin/" + program, args, test::TChildProcess::EStderr::Discard);
    TOutput o;
    o.Out = p.Stdout();
    o.Code = p.Wait();
    return o;
}

TEST(ProgramInfo, EveryToolAnswersItsVersion) {
    for (const char* program : {"tovik-cli", "tovik-config", "tovik-sim"}) {
        const TOutput o = RunTool(program, {"--version"});
        EXPECT_EQ(o.Code, 0) << program;
        EXPECT_EQ(o.Out, VersionLine(program)) << program;
        // The help says so.
        EXPECT_NE(RunTool(program, {"--help"}).Out.find("--version"), std::string::npos) << program;
    }
}

// The words of a completion script's `name="..."` list.
std::set<std::string> CompletionList(const std::string& script, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(script, m, std::regex("local " + name + "=\"([^\"]*)\""))) return {};
    std::istringstream words(m[1].str());
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

// The commands of a help text: the words that open a line, indented by two,
// in the sections whose heading names commands.
std::set<std::string> HelpCommands(const std::string& help) {
    std::set<std::string> out;
    std::istringstream in(help);
    bool inCommands = false;
    const std::regex heading("^(\\S.*)?[Cc]ommands.*:$"), command("^  ([a-z][a-z-]*)( .*)?$");
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != ' ') inCommands = std::regex_match(line, heading);
        std::smatch m;
        if (inCommands && std::regex_match(line, m, command)) out.insert(m[1]);
    }
    return out;
}

// Every option the help names ("--option=VALUE" only explains the form;
// an example that starts the simulator shows the simulator's options).
std::set<std::string> HelpOptions(const std::string& help) {
    std::set<std::string> out;
    const std::regex option("--[a-z][a-z-]*[a-z]");
    std::istringstream in(help);
    for (std::string line; std::getline(in, line);) {
        if (line.find("tovik-sim ") != std::string::npos) continue;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), option); it != std::sregex_iterator();
             ++it)
            if (it->str() != "--option") out.insert(it->str());
    }
    return out;
}

TEST(ProgramInfo, CompletionOffersWhatTheHelpLists) {
    for (const char* program : {"tovik-cli", "tovik-config"}) {
        std::ifstream file(std::string(TOVIK_SOURCE_DIR "/packaging/completion/") + program);
        ASSERT_TRUE(file) << program;
        const std::string script{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const std::string help = RunTool(program, {"--help"}).Out;
        const std::set<std::string> commands = HelpCommands(help);
        EXPECT_GT(commands.size(), 5u) << program;
        EXPECT_EQ(CompletionList(script, "commands"), commands) << program;
        EXPECT_EQ(CompletionList(script, "options"), HelpOptions(help)) << program;
    }
}

}  // namespace
}  // namespace tovik
