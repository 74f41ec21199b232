#include "protocol/Outcome.h"

namespace tovik {

std::string ModbusExceptionText(uint8_t Code) {
    switch (Code) {
        case 1:
            return "недопустимая функция";
        case 2:
            return "недопустимый адрес данных";
        case 3:
            return "недопустимое значение";
        case 4:
            return "отказ устройства";
        case 5:
            return "запрос принят, выполняется";
        case 6:
            return "устройство занято";
        default:
            return "код " + std::to_string(Code);
    }
}

std::string OutcomeText(const TOutcome& Outcome) {
    switch (Outcome.Status) {
        case TReplyStatus::Answered:
            return "принят";
        case TReplyStatus::NoAnswer:
            return "нет ответа";
        case TReplyStatus::Damaged:
            return "ответ повреждён (контрольная сумма)";
        case TReplyStatus::Short:
            return "ответ короче ожидаемого";
        case TReplyStatus::Foreign:
            return "чужой ответ";
        case TReplyStatus::Late:
            return "запоздалый ответ";
        case TReplyStatus::Exception:
            return "исключение ModBus " + std::to_string(Outcome.ExceptionCode) + ": " +
                   ModbusExceptionText(Outcome.ExceptionCode);
        case TReplyStatus::NotSent:
            return "запрос не передан";
        case TReplyStatus::NoLine: {
            const std::string reason = OpenErrorText(Outcome.Line);
            return reason.empty() ? "порт недоступен" : "порт недоступен: " + reason;
        }
        case TReplyStatus::Stopped:
            return "обмен прерван";
    }
    return "?";
}

}  // namespace tovik
