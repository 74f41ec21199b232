#pragma once
// The setpoint items: how each is typed, scaled, shown, read and written.
#include <array>
#include <cstdint>

#include "ports/ProtoPort.h"

namespace tovik {

enum TUstItemType : uint8_t {
    UstU8 = 0,
    UstU16 = 1,
    UstU32 = 2,
    UstFloat = 3,
    UstDate = 4,      // day, month, year - 2000
    UstDateTime = 5,  // hour, minute, second, day, month, year - 2000
};

struct TTovikUstCell {
    uint8_t ItemType = UstU8;
    int32_t Precision = 10;
    float Scale = 1.0f;  // raw units per displayed unit
    int32_t Decimals = 0;
    bool ScalesWithKtr = false;
    bool ZeroAllowed = false;
    const char* ItemName = "";
    TCommandDescriptor ReadCommand;   // Param1 offset, Param2 size
    TCommandDescriptor WriteCommand;  // Param2 is also the number of data bytes
};

inline constexpr int kUstCellCount = 25;
inline constexpr int kUstModelRow = 19;
inline constexpr int kUstAutoRow = 18;
inline constexpr int kUstKtrRow = 6;

extern const std::array<TTovikUstCell, kUstCellCount> UstCells;

}  // namespace tovik
