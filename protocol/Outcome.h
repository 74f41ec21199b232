#pragma once
// How a request ended, in the operator's words: one short text per
// outcome, used for requests, the frame trace, the monitor and the bus
// scan alike. A front end that has a fixed message for a failure adds this
// text after it as the reason, never instead of it.
#include <cstdint>
#include <string>

#include "ports/Request.h"

namespace tovik {

// "нет ответа", "ответ повреждён (контрольная сумма)", "исключение ModBus 2:
// недопустимый адрес данных", "порт недоступен: нет такого устройства
// (No such file or directory)", ...; "принят" for Answered.
std::string OutcomeText(const TOutcome& Outcome);

// The meaning of a ModBus exception code: "недопустимый адрес данных", ...;
// "код N" for a code outside the standard set.
std::string ModbusExceptionText(uint8_t Code);

}  // namespace tovik
