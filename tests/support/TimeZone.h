#pragma once
// The process's time zone in a test's hand (TZ), back as it was at the end.
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tovik::test {

class ScopedTimeZone {
public:
    // A POSIX TZ text that the C runtime of Windows reads alike ("UTC0").
    explicit ScopedTimeZone(const std::string& zone) {
        if (const char* now = std::getenv("TZ")) Saved = now;
        Set(zone.c_str());
    }
    ~ScopedTimeZone() { Set(Saved ? Saved->c_str() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    static void Set(const char* zone) {
#ifdef _WIN32
        _putenv_s("TZ", zone ? zone : "");
        _tzset();
#else
        zone ? setenv("TZ", zone, 1) : unsetenv("TZ");
        tzset();
#endif
    }
    std::optional<std::string> Saved;
};

}  // namespace tovik::test
