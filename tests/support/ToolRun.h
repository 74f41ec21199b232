#pragma once
// One of the tools run to its end as a user would from a shell: its exit
// code and everything it wrote, and the text helpers its output needs.
#include <string>
#include <vector>

namespace tovik::test {

struct TToolRun {
    int Code = -1;  // -1 after a signal or the hang limit
    std::string Out;
    std::string Err;
};

// Runs `program` with `args`, standard input at its end, under the locale
// `locale` (LC_ALL); as the unprivileged user "nobody" when `asNobody` and
// this process is root. Killed after the hang limit.
TToolRun RunTool(const std::string& program, const std::vector<std::string>& args,
                 const std::string& locale = "ru_RU.UTF-8", bool asNobody = false);

// The lines of a text without their ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace tovik::test
