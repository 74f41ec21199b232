#include "tools/cli/CliSession.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "base/Signals.h"
#include "ports/ProtoUART.h"
#include "protocol/FrameDecoder.h"

namespace tovik::cli {

std::atomic<bool> Interrupted{false};

namespace {

void OnSignal(int) {
    Interrupted.store(true);
}

}  // namespace

int64_t SilenceLimitMs(int32_t replyTimeout) {
    constexpr int64_t kLongestExtra = 700;
    constexpr int64_t kStepsTimesTries = 12;
    return (static_cast<int64_t>(replyTimeout) + kLongestExtra) * kStepsTimesTries + 2000;
}

void InstallInterruptHandlers() {
    InstallEndSignals(OnSignal);
}

TCliSession::TCliSession(const TLineSettings& settings)
    : Settings(settings), StatsRef(std::make_shared<TRequestStats>()) {}

TCliSession::~TCliSession() {
    if (Port) Port->StopWorker();
    FlushTrace();
    // Port goes next: the line is closed and its exclusive-use mark lifted,
    // on an interrupted run too.
}

void PrintTrace(TFrameTraceQueue* Queue) {
    if (!Queue) return;
    for (const TFrameTraceRecord& r : Queue->Take())
        std::fprintf(stderr, "%s\n", DecodedTraceLine(r).c_str());
    if (const size_t dropped = Queue->TakeDropped())
        std::fprintf(stderr, "трассировка: пропущено кадров: %zu\n", dropped);
    std::fflush(stderr);
}

void TCliSession::FlushTrace() {
    PrintTrace(TraceQueue.get());
}

bool TCliSession::Open(std::string& error) {
    auto uart = std::make_unique<TProtoUART>(StatsRef);
    if (!uart->SetPortName(Settings.PortName)) {
        error = "недопустимое имя порта \"" + Settings.PortName + "\"";
        return false;
    }
    if (!uart->IsOpen()) {
        error = "не удалось открыть порт " + DefaultDeviceFolder() + Settings.PortName;
        const std::string reason = OpenErrorText(uart->LastOpenError());
        if (!reason.empty()) error += ": " + reason;
        return false;
    }
    uart->Bus = Settings.BusMode;
    uart->ReplyTimeout = Settings.ReplyTimeout;
    uart->RequestInterval = Settings.RequestInterval;
    if (Settings.Trace) {
        TraceQueue = std::make_shared<TFrameTraceQueue>();
        uart->SetFrameTrace(TraceQueue);
    }
    Port = std::move(uart);
    return true;
}

}  // namespace tovik::cli
