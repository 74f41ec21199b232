#include "panel/SettingsView.h"

#include "protocol/Commands.h"

namespace tovik {

namespace {

// Access levels of the accounts: service, full access, read-only.
constexpr uint8_t kLevelService = 0;
constexpr uint8_t kLevelReadOnly = 2;

constexpr int kDinProtocolItem = 24;

}  // namespace

int SetpointItemCount(uint8_t DeviceKind) {
    switch (DeviceKind) {
        case kKindTovik:
        case kKindTovikModbus:
            return 22;
        case kKindTovikM:
            return 23;
        case kKindTovikMModbus:
            return 25;
        default:
            return 0;
    }
}

TUstRaw SetpointRawValue(const TSetpointBlock& Block, int Item) {
    TUstRaw raw{};
    if (Item < 0 || Item >= kUstCellCount) return raw;
    const TSetpointField field = kSetpointFields[static_cast<size_t>(Item)];
    // Kтр is the 16-bit value of its field; the upper half belongs to items
    // 23 and 24 on TovikM relays.
    const size_t size = Item == kUstKtrRow ? 2 : field.Size;
    for (size_t i = 0; i < size; ++i) raw[i] = Block[field.Offset + i];
    return raw;
}

uint32_t SetpointMultiplier(int Item, uint32_t Ktr) {
    if (Item < 0 || Item >= kUstCellCount) return 0;
    return UstCells[static_cast<size_t>(Item)].ScalesWithKtr ? Ktr : 0;
}

std::string SetpointNowText(const TSetpointBlock& Block, int Item, uint8_t DeviceKind,
                            const TLocaleFormat& Locale) {
    const TUstRaw raw = SetpointRawValue(Block, Item);
    if (Item == kDinProtocolItem) return std::to_string(raw[0]);
    const uint32_t ktr = static_cast<uint32_t>(Block[kUstOffsetKtr] | Block[kUstOffsetKtr + 1] << 8);
    return FormatUstValue(raw, Item, SetpointMultiplier(Item, ktr), DeviceKind, Locale);
}

bool SetpointItemArrived(int Item, size_t Received) {
    if (Item < 0 || Item >= kUstCellCount) return false;
    const TSetpointField field = kSetpointFields[static_cast<size_t>(Item)];
    const size_t size = Item == kUstKtrRow ? 2 : field.Size;
    if (field.Offset + size > Received) return false;
    return !UstCells[static_cast<size_t>(Item)].ScalesWithKtr || kUstOffsetKtr + 2u <= Received;
}

TSetpointRow SetpointRow(int Item, uint8_t DeviceKind, uint8_t ModelByte, uint8_t VariantByte,
                         const TSetpointBlock* Block, const TLocaleFormat& Locale) {
    return SetpointRow(Item, DeviceKind, ModelByte, VariantByte, Block, kSetpointBlockSize, Locale);
}

TSetpointRow SetpointRow(int Item, uint8_t DeviceKind, uint8_t ModelByte, uint8_t VariantByte,
                         const TSetpointBlock* Block, size_t Received, const TLocaleFormat& Locale) {
    TSetpointRow row;
    row.Name = UstCellName(Item);
    if (!Block || !SetpointItemArrived(Item, Received)) {
        row.Min = row.Max = row.Now = kNotAvailableText;
        return row;
    }
    const uint32_t ktr = static_cast<uint32_t>((*Block)[kUstOffsetKtr] | (*Block)[kUstOffsetKtr + 1] << 8);
    row.Min = UstMinText(ModelByte, Item, ktr, DeviceKind, VariantByte, Locale);
    row.Max = UstMaxText(ModelByte, Item, ktr, DeviceKind, VariantByte, Locale);
    row.Now = SetpointNowText(*Block, Item, DeviceKind, Locale);
    return row;
}

bool SetpointTextIsValue(int Item, std::string_view Text, const TLocaleFormat& Locale) {
    // Whether a text is a value does not depend on the model or Kтр, which
    // only bound and scale it.
    return ParseUstCell(Text, 1, Item, 0, 0, Locale).Numeric;
}

bool SetpointWriteAllowed(uint8_t AccessLevel, int Item) {
    if (AccessLevel == kLevelService) return true;
    // Any other level read from a file has full access, like level 1.
    if (AccessLevel != kLevelReadOnly) return Item < kUstFirstFactoryRow || Item > kUstLastFactoryRow;
    return false;
}

}  // namespace tovik
