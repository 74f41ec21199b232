// The main of the test programs (all but the widget tests, which need a
// QApplication). It keeps the label "threaded" honest: a test that ctest
// runs as a single-threaded one (TOVIK_TEST_SINGLE_THREAD=1 in its
// environment, see tests/CMakeLists.txt) fails when it starts a thread or a
// process after all, so a suite missing from the threaded lists shows in
// the plain run instead of escaping the ThreadSanitizer build.
// TOVIK_TEST_THREAD_AUDIT=1 prints what every test started.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <spawn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<uint64_t> g_threads{0};
std::atomic<uint64_t> g_processes{0};

// The definition this program's own one stands in front of (the C
// library's, or a sanitizer's wrapper of it).
template <class TFunction>
TFunction Next(TFunction, const char* name) {
    return reinterpret_cast<TFunction>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

// Every thread and process a test starts goes through one of these, also
// from the shared libraries (std::thread, std::async, popen, system).
extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
    static const auto next = Next(&pthread_create, "pthread_create");
    g_threads.fetch_add(1, std::memory_order_relaxed);
    return next(thread, attr, start, arg);
}

pid_t fork() {
    static const auto next = Next(&fork, "fork");
    g_processes.fetch_add(1, std::memory_order_relaxed);
    return next();
}

int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
    static const auto next = Next(&posix_spawn, "posix_spawn");
    g_processes.fetch_add(1, std::memory_order_relaxed);
    return next(pid, path, actions, attr, argv, envp);
}

int posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
    static const auto next = Next(&posix_spawnp, "posix_spawnp");
    g_processes.fetch_add(1, std::memory_order_relaxed);
    return next(pid, file, actions, attr, argv, envp);
}

FILE* popen(const char* command, const char* mode) {
    static const auto next = Next(&popen, "popen");
    g_processes.fetch_add(1, std::memory_order_relaxed);
    return next(command, mode);
}

int system(const char* command) {
    static const auto next = Next(&system, "system");
    g_processes.fetch_add(1, std::memory_order_relaxed);
    return next(command);
}

}  // extern "C"

namespace {

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "1") == 0;
}

class ThreadGuard : public ::testing::EmptyTestEventListener {
public:
    ThreadGuard(bool singleThread, bool audit) : SingleThread(singleThread), Audit(audit) {}

    void OnTestStart(const ::testing::TestInfo&) override {
        Threads = g_threads.load();
        Processes = g_processes.load();
    }
    void OnTestEnd(const ::testing::TestInfo& test) override {
        const uint64_t threads = g_threads.load() - Threads;
        const uint64_t processes = g_processes.load() - Processes;
        if (Audit)
            std::printf("[thread audit] %s.%s threads=%llu processes=%llu\n", test.test_suite_name(),
                        test.name(), static_cast<unsigned long long>(threads),
                        static_cast<unsigned long long>(processes));
        if (SingleThread && threads + processes > 0)
            ADD_FAILURE()
                << "this test started " << threads << " thread(s) and " << processes
                << " process(es): list its suite among the threaded ones in tests/CMakeLists.txt, so "
                   "that the ThreadSanitizer build runs it";
    }

private:
    bool SingleThread;
    bool Audit;
    uint64_t Threads = 0;
    uint64_t Processes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const bool singleThread = EnvSet("TOVIK_TEST_SINGLE_THREAD");
    const bool audit = EnvSet("TOVIK_TEST_THREAD_AUDIT");
    if (singleThread || audit)
        ::testing::UnitTest::GetInstance()->listeners().Append(new ThreadGuard(singleThread, audit));
    return RUN_ALL_TESTS();
}
