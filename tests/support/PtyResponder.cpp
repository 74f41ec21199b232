#include "support/PtyResponder.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "protocol/Modbus.h"

namespace tovik::test {

PtyResponder::PtyResponder(Handler handler) : OnRequest(std::move(handler)) {
    termios tio{};
    ::cfmakeraw(&tio);
    char name[64] = {};
    if (::openpty(&Master, &Slave, name, &tio, nullptr) != 0) throw std::runtime_error("openpty failed");
    ::fcntl(Master, F_SETFD, FD_CLOEXEC);
    ::fcntl(Slave, F_SETFD, FD_CLOEXEC);
    Name = name;
    if (Name.rfind("/dev/", 0) == 0) Name = Name.substr(5);
    Thread = std::thread([this] { Run(); });
}

PtyResponder::~PtyResponder() {
    Stop = true;
    if (Thread.joinable()) Thread.join();
    ::close(Master);
    ::close(Slave);
}

void PtyResponder::SetHandler(Handler handler) {
    std::lock_guard lock(Lock);
    OnRequest = std::move(handler);
}

std::vector<std::vector<uint8_t>> PtyResponder::Requests() const {
    std::lock_guard lock(Lock);
    return Log;
}

size_t PtyResponder::RequestCount() const {
    std::lock_guard lock(Lock);
    return Log.size();
}

bool PtyResponder::WaitForRequests(size_t count, int limitMs) const {
    std::unique_lock lock(Lock);
    return Arrived.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return Handled >= count; });
}

PtyResponder::TTally PtyResponder::Tally() const {
    std::lock_guard lock(Lock);
    return Done;
}

size_t PtyResponder::WriteOut(const uint8_t* bytes, size_t count) {
    const ssize_t n = count ? ::write(Master, bytes, count) : 0;
    return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t PtyResponder::WaitingAtPort() const {
    int n = 0;
    return ::ioctl(Slave, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

void PtyResponder::Inject(const std::vector<uint8_t>& bytes) {
    const size_t n = WriteOut(bytes.data(), bytes.size());
    std::lock_guard lock(Lock);
    Done.BytesSent += n;
}

void PtyResponder::Run() {
    std::vector<uint8_t> pending;
    while (!Stop) {
        pollfd pfd{Master, POLLIN, 0};
        // A request is what arrives before 2 ms of silence.
        const int r = ::poll(&pfd, 1, pending.empty() ? 5 : 2);
        if (r > 0 && (pfd.revents & POLLIN)) {
            uint8_t buf[512];
            const ssize_t n = ::read(Master, buf, sizeof buf);
            if (n > 0) {
                pending.insert(pending.end(), buf, buf + n);
                continue;
            }
        }
        if (r > 0 && !(pfd.revents & POLLIN)) {
            // No slave open at the moment (hang-up): wait for one.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (pending.empty()) continue;
        Handler handler;
        {
            std::lock_guard lock(Lock);
            Log.push_back(pending);
            handler = OnRequest;
        }
        std::vector<uint8_t> reply = handler ? handler(pending) : std::vector<uint8_t>{};
        pending.clear();
        {
            std::lock_guard lock(Lock);
            ++Handled;
        }
        Arrived.notify_all();
        size_t sent = 0;
        if (!reply.empty()) {
            if (DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs.load()));
            if (PacingUs == 0) {
                sent = WriteOut(reply.data(), reply.size());
            } else {
                auto next = std::chrono::steady_clock::now();
                for (uint8_t b : reply) {
                    std::this_thread::sleep_until(next);
                    sent += WriteOut(&b, 1);
                    next += std::chrono::microseconds(PacingUs.load());
                }
            }
            LastEndNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        }
        std::lock_guard lock(Lock);
        Done.BytesSent += sent;
        ++Done.Answered;
    }
}

std::vector<uint8_t> ModbusFrame(uint8_t address, uint8_t function, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f;
    f.reserve(payload.size() + 4);
    f.push_back(address);
    f.push_back(function);
    for (uint8_t b : payload) f.push_back(b);
    AppendCrc(f);
    return f;
}

}  // namespace tovik::test
