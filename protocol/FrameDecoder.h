#pragma once
// What a frame on the line means: the native command with its parameters,
// or the ModBus function with its registers and the native command the
// step serves. Read from the frame's own bytes (the trace record adds only
// the request's context), so a frame that does not parse says so instead
// of being shown as what was meant.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ports/FrameTrace.h"

namespace tovik {

enum class TWireFormat : uint8_t { Unknown, Native, Modbus };

struct TDecodedFrame {
    TWireFormat Format = TWireFormat::Unknown;
    // Length and check bytes (native) or CRC (ModBus) are good.
    bool Intact = false;
    // The frame's own bus number; -1 when it cannot be read.
    int Address = -1;

    // Native: the command code, the parameters of a request (-1: absent)
    // and the bytes after them (request data, or the reply data).
    int Code = -1;
    int Param1 = -1;
    int Param2 = -1;
    std::vector<uint8_t> Data;

    // ModBus: function, first register and count (requests and write
    // echoes), register values (write requests and read replies), the
    // exception code of an exception reply.
    int Function = -1;
    int Register = -1;
    int Count = -1;
    std::vector<uint16_t> Values;
    int ExceptionCode = -1;

    // The meaning in words, e.g. "чтение уставки «модель» (смещение 49,
    // размер 1)"; empty for an empty frame.
    std::string Meaning;
};

// How many parameter bytes a native request of this command carries.
int NativeParamCount(uint8_t code);
// "чтение состояния", "установка часов", ...; "команда N" for codes
// outside the command set.
std::string NativeCommandName(uint8_t code);
// "Iпор", "модель", ... for an item offset of the setpoint block; empty
// for an offset no item starts at.
std::string SetpointItemAt(int offset);

// Decodes one traced frame. The record's device kind picks the wire
// format; without it (kTraceKindUnknown) the bytes decide.
TDecodedFrame DecodeFrame(const TFrameTraceRecord& Record);

// The columns the monitor shows for a frame.
struct TFrameColumns {
    std::string Time;       // local time with milliseconds
    std::string Direction;  // "передача" or "приём"
    int Address = -1;       // the frame's bus number, or the request's
    std::string Hex;        // the bytes, "08 07 01 E6"
    std::string Meaning;
    std::string ReplyTime;  // "14 мс" for replies
    std::string Problem;    // what went wrong (OutcomeText), the try number of a retry
};
TFrameColumns FrameColumns(const TFrameTraceRecord& Record);

// "12:04:05.120" in local time.
std::string LocalTimeText(int64_t WallMs);

// One decoded frame as one line of text (for tovik-cli --trace and the
// monitor's saved list): local time, port, TX or RX, the bus number, the
// try, the reply time, the bytes, what they mean and the outcome:
//   12:04:05.120 pts/3 TX №1 попытка 1: 06 05 01 EA 17 F2 — чтение состояния — передан
//   12:04:05.134 pts/3 RX №1 попытка 1 14 мс: 0A 09 01 E2 17 00 00 DF 00 05 E2 — ответ на «чтение состояния»:
//   ... — принят
std::string DecodedTraceLine(const TFrameTraceRecord& Record);
// The same from columns already made for the record.
std::string DecodedTraceLine(const TFrameTraceRecord& Record, const TFrameColumns& Columns);

}  // namespace tovik
