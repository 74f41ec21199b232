// base/Program.h on Windows.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdlib>

#include "base/Cp1251.h"
#include "base/Program.h"

namespace tovik {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        // An unpaired surrogate spells no text: then the arguments are
        // taken as the system gave them, every one in its place.
        auto utf8 = Utf16ToUtf8(reinterpret_cast<const char16_t*>(wide[i]));
        if (!utf8) break;
        args.push_back(std::move(*utf8));
    }
    ::LocalFree(wide);
    if (args.size() != static_cast<size_t>(count)) return std::vector<std::string>(argv, argv + argc);
    return args;
}

namespace {
UINT g_consoleCodePage = 0;
void RestoreConsole() {
    if (g_consoleCodePage != 0) ::SetConsoleOutputCP(g_consoleCodePage);
}
}  // namespace

void UseUtf8Console() {
    const UINT previous = ::GetConsoleOutputCP();
    if (previous == 0 || previous == CP_UTF8 || g_consoleCodePage != 0) return;  // no console, or done
    if (!::SetConsoleOutputCP(CP_UTF8)) return;
    g_consoleCodePage = previous;
    std::atexit(RestoreConsole);
}

void LowerThreadPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace tovik
