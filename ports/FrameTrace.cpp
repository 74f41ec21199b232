#include "ports/FrameTrace.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace tovik {

void TFrameTraceQueue::OnFrame(const TFrameTraceRecord& Record) {
    std::lock_guard lock(Lock);
    if (Records.size() >= Limit) {
        Records.pop_front();
        ++Dropped;
    }
    Records.push_back(Record);
}

std::vector<TFrameTraceRecord> TFrameTraceQueue::Take() {
    std::deque<TFrameTraceRecord> taken;
    {
        std::lock_guard lock(Lock);
        taken.swap(Records);
    }
    return {std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end())};
}

size_t TFrameTraceQueue::TakeDropped() {
    std::lock_guard lock(Lock);
    return std::exchange(Dropped, 0);
}

std::string TraceOutcomeText(const TFrameTraceRecord& Record) {
    const bool sent = Record.Direction == TTraceDirection::Sent;
    switch (Record.Outcome) {
        case TTraceOutcome::Ok:
            return sent ? "передан" : "принят";
        case TTraceOutcome::NoAnswer:
            return "нет ответа";
        case TTraceOutcome::BadCheck:
            return "ошибка контрольной суммы";
        case TTraceOutcome::WrongAddress:
            return "чужой адрес";
        case TTraceOutcome::ForeignReply:
            return "чужой ответ";
        case TTraceOutcome::Exception:
            return "исключение ModBus " + std::to_string(Record.ExceptionCode);
        case TTraceOutcome::WrongLength:
            return "неверная длина";
        case TTraceOutcome::NotSent:
            return "передан не полностью";
        case TTraceOutcome::Discarded:
            return "отброшен (поздний ответ)";
    }
    return "?";
}

std::string FormatTraceRecord(const TFrameTraceRecord& Record) {
    static const char kHex[] = "0123456789ABCDEF";
    const std::time_t seconds = static_cast<std::time_t>(Record.WallMs / 1000);
    const int ms = static_cast<int>(Record.WallMs % 1000);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  ms < 0 ? 0 : ms);

    std::string line = stamp;
    line += ' ' + Record.PortName;
    line += Record.Direction == TTraceDirection::Sent ? " TX" : " RX";
    line += " адр " + std::to_string(Record.Address);
    line += " ком " + std::to_string(Record.Command.Code);
    if (Record.Command.Param1 != -1) {
        line += '(' + std::to_string(Record.Command.Param1);
        if (Record.Command.Param2 != -1) line += ',' + std::to_string(Record.Command.Param2);
        line += ')';
    }
    if (Record.Try > 0) line += " попытка " + std::to_string(Record.Try);
    if (Record.Direction == TTraceDirection::Received && Record.ReplyMs >= 0)
        line += ' ' + std::to_string(Record.ReplyMs) + " мс";
    line += ':';
    for (uint8_t b : Record.Bytes) {
        line += ' ';
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    line += " — " + TraceOutcomeText(Record);
    return line;
}

}  // namespace tovik
