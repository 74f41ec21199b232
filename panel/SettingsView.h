#pragma once
// The settings grid as the panel fills it from the relay's setpoint block,
// and the access rule for writing an item.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/Codecs.h"
#include "protocol/UstTable.h"

namespace tovik {

inline constexpr std::array<const char*, 5> kSetpointGridHeader = {"Функция/наименование", "мин", "макс",
                                                                   "сейчас", "новое"};

// Items the grid shows for a device kind: 22, 23 or 25 (0 for an unknown kind).
int SetpointItemCount(uint8_t DeviceKind);

// The raw value of an item as the grid takes it from the block.
TUstRaw SetpointRawValue(const TSetpointBlock& Block, int Item);

// The "сейчас" text of an item; Ktr scales the items that scale with it.
std::string SetpointNowText(const TSetpointBlock& Block, int Item, uint8_t DeviceKind,
                            const TLocaleFormat& Locale);

// The multiplier the grid passes for an item: Ktr where it scales, else 0.
uint32_t SetpointMultiplier(int Item, uint32_t Ktr);

// One row of the grid without the "новое" column. Without a block (none
// read, or the read failed) the three value columns show "Н/Д".
struct TSetpointRow {
    std::string Name;
    std::string Min;
    std::string Max;
    std::string Now;
};
TSetpointRow SetpointRow(int Item, uint8_t DeviceKind, uint8_t ModelByte, uint8_t VariantByte,
                         const TSetpointBlock* Block, const TLocaleFormat& Locale);
// The same for a block of which only the first `Received` bytes arrived (a
// short reply): a row whose item bytes did not arrive, or that scales with
// Kтр when Kтр's bytes did not, shows "Н/Д" in its three value columns.
TSetpointRow SetpointRow(int Item, uint8_t DeviceKind, uint8_t ModelByte, uint8_t VariantByte,
                         const TSetpointBlock* Block, size_t Received, const TLocaleFormat& Locale);

// Whether the bytes an item's value needs lie within the first `Received`
// bytes of the block.
bool SetpointItemArrived(int Item, size_t Received);

// Whether a text typed for an item reads as its value (a number; a date
// for the date of manufacture): text that is not is never written.
bool SetpointTextIsValue(int Item, std::string_view Text, const TLocaleFormat& Locale);

// Whether an account of this access level may write the item: the service
// level always, full access (1, and any level above 2) all but the model,
// the date of manufacture and the serial number (items 19 to 21), read-only
// never.
bool SetpointWriteAllowed(uint8_t AccessLevel, int Item);

}  // namespace tovik
