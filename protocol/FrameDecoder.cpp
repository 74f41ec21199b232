#include "protocol/FrameDecoder.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/Clock.h"
#include "base/DeviceTypes.h"
#include "protocol/Codecs.h"
#include "protocol/Commands.h"
#include "protocol/Frame.h"
#include "protocol/Modbus.h"
#include "protocol/Outcome.h"

namespace tovik {

namespace {

struct TCommandInfo {
    uint8_t Code;
    uint8_t Params;
    const char* Name;
};

constexpr std::array<TCommandInfo, 28> kCommands = {{
    {CmdPing, 0, "проверка связи"},
    {CmdStart, 0, "пуск"},
    {CmdStop, 0, "стоп"},
    {CmdReadUst, 0, "чтение уставок"},
    {CmdReadCell, 2, "чтение уставки"},
    {CmdWriteCell, 2, "запись уставки"},
    {CmdReadTimers, 0, "чтение таймеров защит"},
    {CmdReadAlarmCount, 0, "чтение числа аварий"},
    {CmdReadAlarm, 1, "чтение аварии"},
    {CmdClearAlarms, 0, "очистка журнала аварий"},
    {CmdReadCurrents, 0, "чтение токов фаз"},
    {CmdReadImax, 0, "чтение максимального тока"},
    {CmdReadTask, 1, "чтение задания"},
    {CmdWriteTask, 1, "запись задания"},
    {CmdReadAlarmCounters, 0, "чтение счётчиков аварий"},
    {CmdResetAlarmCounters, 0, "сброс счётчиков аварий"},
    {CmdReadState, 0, "чтение состояния"},
    {CmdReadClock, 0, "чтение часов"},
    {CmdSetClock, 0, "установка часов"},
    {CmdReadCalInfo, 0, "чтение калибровки"},
    {CmdDeleteTask, 0, "удаление задания"},
    {CmdAddTask, 0, "добавление задания"},
    {CmdClearTasks, 0, "очистка журнала заданий"},
    {CmdReadStatistics, 0, "чтение статистики работы"},
    {CmdReadTots, 2, "чтение уставки"},
    {CmdWriteTots, 2, "запись уставки"},
    {CmdReadDinProtocol, 2, "чтение уставки"},
    {CmdWriteDinProtocol, 2, "запись уставки"},
}};

const TCommandInfo* FindCommand(int code) {
    for (const auto& c : kCommands)
        if (c.Code == code) return &c;
    return nullptr;
}

// Short names of the setpoint items, by item number.
constexpr std::array<const char*, 25> kItemNames = {
    "Iпор",
    "Imin",
    "Inom",
    "Imax",
    "Iдисб",
    "Iотс",
    "Kтр",
    "Tmin",
    "Tnom",
    "Tmax",
    "Tдисб",
    "Tфаз",
    "Tп",
    "Tсз",
    "Tапв",
    "Nапв",
    "номер в магистрали",
    "НЗК/НРК",
    "АВТОМАТ",
    "модель",
    "дата изготовления",
    "серийный номер",
    "Tпс",
    "Tотс",
    "протокол дискретного входа",
};

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string Hex2(unsigned v) {
    return {kHexDigits[(v >> 4) & 15], kHexDigits[v & 15]};
}

std::string Hex4(unsigned v) {
    return "0x" + Hex2(v >> 8) + Hex2(v & 0xFF);
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    s.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) s += ' ';
        s += kHexDigits[bytes[i] >> 4];
        s += kHexDigits[bytes[i] & 15];
    }
    return s;
}

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

std::string Two(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02u", v % 100);
    return b;
}

// hour, minute, second, day, month, year - 2000
std::string DeviceTimeText(const uint8_t* t) {
    return Two(t[0]) + ":" + Two(t[1]) + ":" + Two(t[2]) + " " + Two(t[3]) + "." + Two(t[4]) + "." +
           std::to_string(2000 + t[5]);
}

// The command's name with the parameters of a request.
std::string CommandWithParams(int code, int p1, int p2) {
    std::string s = NativeCommandName(static_cast<uint8_t>(code));
    switch (code) {
        case CmdReadCell:
        case CmdWriteCell:
        case CmdReadTots:
        case CmdWriteTots:
        case CmdReadDinProtocol:
        case CmdWriteDinProtocol: {
            const std::string item = SetpointItemAt(p1);
            if (!item.empty()) s += " «" + item + "»";
            s += " (смещение " + std::to_string(p1) + ", размер " + std::to_string(p2) + ")";
            break;
        }
        case CmdReadAlarm:
            s += " № " + std::to_string(p1);
            break;
        case CmdReadTask:
        case CmdWriteTask:
            s += " № " + std::to_string(p1);
            break;
        default:
            break;
    }
    return s;
}

// The record's outcome in words: "передан" for a frame that went out
// whole, otherwise the outcome's own text, with the number that answered a
// request for another.
std::string RecordOutcomeText(const TFrameTraceRecord& r, int frameAddress) {
    if (r.Direction == TTraceDirection::Sent && r.Outcome.Ok()) return "передан";
    std::string text = OutcomeText(r.Outcome);
    if (r.Outcome.Status == TReplyStatus::Foreign && frameAddress >= 0 && frameAddress != r.Address)
        text += ": №" + std::to_string(frameAddress) + " вместо №" + std::to_string(r.Address);
    return text;
}

std::string ContextCommand(const TFrameTraceRecord& r) {
    return CommandWithParams(r.Command.Code, r.Command.Param1, r.Command.Param2);
}

// The data a native request carries, where it says more than its length.
std::string NativeRequestData(int code, const std::vector<uint8_t>& d) {
    if (code == CmdSetClock && d.size() >= 6) {
        // The clock command sends the year modulo 1000.
        return ": " + Two(d[0]) + ":" + Two(d[1]) + ":" + Two(d[2]) + " " + Two(d[3]) + "." + Two(d[4]) +
               "." + std::to_string(d[5]);
    }
    if (code == CmdDeleteTask && d.size() >= 2)
        return ": № " + std::to_string(d[0]) + " из " + std::to_string(d[1]);
    if (code == CmdAddTask && !d.empty()) return ": № " + std::to_string(d[0]);
    if ((code == CmdWriteCell || code == CmdWriteTots || code == CmdWriteDinProtocol) && !d.empty() &&
        d.size() <= 4) {
        uint32_t v = 0;
        for (size_t i = 0; i < d.size(); ++i) v |= static_cast<uint32_t>(d[i]) << (8 * i);
        return ": значение " + std::to_string(v);
    }
    if (!d.empty()) return ", данные " + std::to_string(d.size()) + " байт";
    return {};
}

std::string NativeReplyText(int code, const std::vector<uint8_t>& d, const TFrameTraceRecord& r) {
    std::string s = "ответ на «" + NativeCommandName(static_cast<uint8_t>(code)) + "»";
    const bool poll =
        code == CmdReadCell && r.Command.Code == CmdReadCell && r.Command.Param1 == kUstOffsetModel;
    if (poll && d.size() >= 4) {
        s += ": модель 0x" + Hex2(d[0]);
        if (IsKnownKind(r.DeviceKind)) {
            // The family the model byte tells, where it tells one.
            bool certain = false;
            const uint8_t told = ProposeKind(IsModbusKind(r.DeviceKind), d[0], &certain);
            const std::string name = ModelName(d[0], certain ? told : r.DeviceKind);
            if (!name.empty()) s += " (" + name + ")";
        }
        s += std::string(", изменены уставки: ") + (d[1] ? "да" : "нет") +
             ", журнал заданий: " + (d[2] ? "да" : "нет") + ", вариант " + std::to_string(d[3]);
        return s;
    }
    if (code == CmdReadState && d.size() >= 4) return s + ": " + StateText(d[kStateCodeByte]);
    if (code == CmdReadClock && d.size() >= 6) return s + ": " + DeviceTimeText(d.data());
    if (code == CmdReadAlarmCount && d.size() >= 2)
        return s + ": записей " + std::to_string(d[0]) + ", метка " + std::to_string(d[1]);
    if (code == CmdReadImax && d.size() >= 4) return s + ": " + std::to_string(U32(d.data())) + " мА";
    if (code == CmdReadCurrents && d.size() >= 12) {
        std::string t;
        for (int i = 0; i < 3; ++i) {
            float f;
            const uint32_t u = U32(d.data() + 4 * i);
            std::memcpy(&f, &u, sizeof f);
            char b[32];
            std::snprintf(b, sizeof b, "%s%.0f", i ? ", " : "", static_cast<double>(f));
            t += b;
        }
        return s + ": " + t + " мА";
    }
    if (d.empty()) return s + ": выполнено";
    return s + ": " + std::to_string(d.size()) + " байт";
}

void DecodeNative(const TFrameTraceRecord& r, TDecodedFrame& f) {
    const auto payload = NativeFramePayload(r.Bytes);
    if (!payload || payload->size() < 2) {
        f.Meaning = "кадр повреждён";
        return;
    }
    f.Intact = true;
    const auto& p = *payload;
    f.Address = p[0];
    f.Code = p[1];
    size_t at = 2;
    if (r.Direction == TTraceDirection::Sent) {
        const int params = NativeParamCount(p[1]);
        if (params >= 1 && at < p.size()) f.Param1 = p[at++];
        if (params >= 2 && at < p.size()) f.Param2 = p[at++];
    }
    f.Data.assign(p.begin() + static_cast<std::ptrdiff_t>(at), p.end());
    if (r.Direction == TTraceDirection::Sent)
        f.Meaning = CommandWithParams(f.Code, f.Param1, f.Param2) + NativeRequestData(f.Code, f.Data);
    else
        f.Meaning = NativeReplyText(f.Code, f.Data, r);
}

// Room for an address, a function and the CRC, and the CRC right.
bool CrcGood(const std::vector<uint8_t>& b) {
    return b.size() >= 4 && CrcMatches(b);
}

uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

std::string RegisterRange(int reg, int count) {
    return "регистры " + std::to_string(reg) + (count > 1 ? "–" + std::to_string(reg + count - 1) : "") +
           " (" + std::to_string(count) + " шт.)";
}

std::string WordsText(const std::vector<uint16_t>& values) {
    std::string s;
    constexpr size_t kShown = 8;
    for (size_t i = 0; i < values.size() && i < kShown; ++i) s += (i ? " " : "") + Hex4(values[i]);
    if (values.size() > kShown) s += " …";
    return s;
}

void DecodeModbus(const TFrameTraceRecord& r, TDecodedFrame& f) {
    const auto& b = r.Bytes;
    if (!CrcGood(b)) {
        f.Meaning = "кадр повреждён";
        return;
    }
    f.Intact = true;
    f.Address = b[0];
    f.Function = b[1];
    const size_t end = b.size() - 2;  // without the CRC
    std::string s;
    if (f.Function & kModbusExceptionBit) {
        f.Function &= ~kModbusExceptionBit;
        if (end >= 3) f.ExceptionCode = b[2];
        s = "ModBus " + std::to_string(f.Function) + ": исключение " + std::to_string(f.ExceptionCode) +
            " (" + ModbusExceptionText(static_cast<uint8_t>(f.ExceptionCode)) + ")";
    } else if (r.Direction == TTraceDirection::Sent && end >= 6) {
        f.Register = Word(b, 2);
        f.Count = Word(b, 4);
        if (f.Function == kModbusWrite) {
            for (size_t at = 7; at + 1 < end; at += 2) f.Values.push_back(Word(b, at));
            s = "ModBus 16: запись, " + RegisterRange(f.Register, f.Count) + " = " + WordsText(f.Values);
        } else if (f.Function == kModbusRead) {
            s = "ModBus 3: чтение, " + RegisterRange(f.Register, f.Count);
        } else {
            s = "ModBus " + std::to_string(f.Function);
        }
    } else if (r.Direction == TTraceDirection::Received && f.Function == kModbusRead && end >= 3) {
        for (size_t at = 3; at + 1 < end; at += 2) f.Values.push_back(Word(b, at));
        f.Count = static_cast<int>(f.Values.size());
        s = "ModBus 3: ответ, " + std::to_string(f.Values.size()) + " рег.: " + WordsText(f.Values);
    } else if (r.Direction == TTraceDirection::Received && f.Function == kModbusWrite && end >= 6) {
        f.Register = Word(b, 2);
        f.Count = Word(b, 4);
        s = "ModBus 16: запись подтверждена, " + RegisterRange(f.Register, f.Count);
    } else {
        s = "ModBus " + std::to_string(f.Function);
    }
    // The native command this step serves, as the request said.
    if (IsModbusKind(r.DeviceKind)) s += " — для «" + ContextCommand(r) + "»";
    f.Meaning = s;
}

}  // namespace

int NativeParamCount(uint8_t code) {
    const TCommandInfo* c = FindCommand(code);
    return c ? c->Params : 0;
}

std::string NativeCommandName(uint8_t code) {
    const TCommandInfo* c = FindCommand(code);
    return c ? c->Name : "команда " + std::to_string(code);
}

std::string SetpointItemAt(int offset) {
    for (size_t item = 0; item < kSetpointFields.size(); ++item)
        if (kSetpointFields[item].Offset == offset) return kItemNames[item];
    return {};
}

TDecodedFrame DecodeFrame(const TFrameTraceRecord& Record) {
    TDecodedFrame f;
    if (Record.Bytes.empty()) return f;
    if (IsKnownKind(Record.DeviceKind)) {
        f.Format = IsModbusKind(Record.DeviceKind) ? TWireFormat::Modbus : TWireFormat::Native;
    } else if (NativeFramePayload(Record.Bytes)) {
        f.Format = TWireFormat::Native;
    } else if (CrcGood(Record.Bytes)) {
        f.Format = TWireFormat::Modbus;
    } else {
        f.Meaning = "кадр не распознан";
        return f;
    }
    if (f.Format == TWireFormat::Native)
        DecodeNative(Record, f);
    else
        DecodeModbus(Record, f);
    return f;
}

std::string LocalTimeText(int64_t WallMs) {
    const std::time_t seconds = static_cast<std::time_t>(WallMs / 1000);
    int ms = static_cast<int>(WallMs % 1000);
    if (ms < 0) ms = 0;
    const std::tm tm = LocalCalendarTime(seconds);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return stamp;
}

TFrameColumns FrameColumns(const TFrameTraceRecord& Record) {
    TFrameColumns c;
    const TDecodedFrame f = DecodeFrame(Record);
    const bool sent = Record.Direction == TTraceDirection::Sent;
    c.Time = LocalTimeText(Record.WallMs);
    c.Direction = sent ? "передача" : "приём";
    c.Address = f.Address >= 0 ? f.Address : Record.Address;
    c.Hex = HexBytes(Record.Bytes);
    c.Meaning = f.Meaning;
    if (!sent && Record.ReplyMs >= 0) c.ReplyTime = std::to_string(Record.ReplyMs) + " мс";
    if (!Record.Outcome.Ok()) c.Problem = RecordOutcomeText(Record, f.Address);
    if (Record.Try > 1)
        c.Problem += (c.Problem.empty() ? "" : ", ") + std::string("попытка ") + std::to_string(Record.Try);
    return c;
}

std::string DecodedTraceLine(const TFrameTraceRecord& Record) {
    return DecodedTraceLine(Record, FrameColumns(Record));
}

std::string DecodedTraceLine(const TFrameTraceRecord& Record, const TFrameColumns& c) {
    const bool sent = Record.Direction == TTraceDirection::Sent;
    std::string line =
        c.Time + " " + Record.PortName + (sent ? " TX" : " RX") + " №" + std::to_string(c.Address);
    if (Record.Try > 0) line += " попытка " + std::to_string(Record.Try);
    if (!c.ReplyTime.empty()) line += " " + c.ReplyTime;
    line += ":";
    if (!c.Hex.empty()) line += " " + c.Hex;
    if (!c.Meaning.empty()) line += " — " + c.Meaning;
    return line + " — " + RecordOutcomeText(Record, c.Address);
}

}  // namespace tovik
