#include "base/Assert.h"

#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

namespace tovik {

namespace {
std::atomic<TAssertHook> g_hook{nullptr};
std::atomic<unsigned> g_count{0};
}  // namespace

void SetAssertHook(TAssertHook hook) {
    g_hook.store(hook, std::memory_order_release);
}

std::string AssertionText(const char* condition, const char* file, int line, const void* address) {
    const auto addr = reinterpret_cast<uintptr_t>(address);
    char text[512];
    std::snprintf(text, sizeof text, "%s (%s, line %d, address $%" PRIxPTR ")", condition ? condition : "",
                  file ? file : "", line, addr ? addr - 1 : 0);
    return text;
}

void AssertionFailed(const char* condition, const char* file, int line, const void* address) {
    g_count.fetch_add(1, std::memory_order_relaxed);
    const std::string text = AssertionText(condition, file, line, address);
    std::fprintf(stderr, "%s\n", text.c_str());
    if (TAssertHook hook = g_hook.load(std::memory_order_acquire)) hook(text);
}

unsigned AssertionCount() {
    return g_count.load(std::memory_order_relaxed);
}

}  // namespace tovik
