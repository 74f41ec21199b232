// What the installed tools tell about themselves: their version, from the
// build's one version, and the bash completion's commands and options,
// which must be those their help lists.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
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

// The words of a completion script's `local name="..."` list.
std::set<std::string> CompletionList(const std::string& script, const std::string& name) {
    const std::string open = "local " + name + "=\"";
    const size_t from = script.find(open);
    if (from == std::string::npos) return {};
    const size_t begin = from + open.size();
    std::istringstream words(script.substr(begin, script.find('"', begin) - begin));
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || c == '-';
}

// The commands of a help text: the words that open a line, indented by two,
// in the sections whose heading names commands.
std::set<std::string> HelpCommands(const std::string& help) {
    std::set<std::string> out;
    std::istringstream in(help);
    bool inCommands = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != ' ')
            inCommands = line.back() == ':' && line.find("ommands") != std::string::npos;
        if (!inCommands || line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] < 'a' || line[2] > 'z')
            continue;
        size_t end = 2;
        while (end < line.size() && IsWordChar(line[end])) ++end;
        out.insert(line.substr(2, end - 2));
    }
    return out;
}

// Every option the help names ("--option=VALUE" only explains the form;
// an example that starts the simulator shows the simulator's options).
std::set<std::string> HelpOptions(const std::string& help) {
    std::set<std::string> out;
    std::istringstream in(help);
    for (std::string line; std::getline(in, line);) {
        if (line.find("tovik-sim ") != std::string::npos) continue;
        for (size_t at = line.find("--"); at != std::string::npos; at = line.find("--", at + 2)) {
            size_t end = at + 2;
            if (end >= line.size() || line[end] < 'a' || line[end] > 'z') continue;
            while (end < line.size() && IsWordChar(line[end])) ++end;
            while (line[end - 1] == '-') --end;
            const std::string option = line.substr(at, end - at);
            if (option != "--option") out.insert(option);
        }
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
