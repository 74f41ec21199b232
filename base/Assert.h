#pragma once
// A failed internal check is reported and the program goes on: a service
// tool in the field is better left running than aborted. The report goes to
// the diagnostic channel (standard error) and to the hook, where the front
// end shows it in a message box.
#include <string>

namespace tovik {

// Receives the report text "condition (file, line N, address $X)".
using TAssertHook = void (*)(const std::string& report);
// nullptr restores the default (standard error only).
void SetAssertHook(TAssertHook hook);

// The report text; the address is the caller's return address.
std::string AssertionText(const char* condition, const char* file, int line, const void* address);
void AssertionFailed(const char* condition, const char* file, int line, const void* address);

// Failed checks since the program started (for tests).
unsigned AssertionCount();

}  // namespace tovik

// Checks an internal condition; a failure is reported and the program goes on.
#define TOVIK_ASSERT(condition)         \
    ((condition) ? static_cast<void>(0) \
                 : ::tovik::AssertionFailed(#condition, __FILE__, __LINE__, __builtin_return_address(0)))
