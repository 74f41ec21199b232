#include "protocol/UstTable.h"

namespace tovik {

namespace {

constexpr TUstRaw Raw(uint64_t v) {
    TUstRaw r{};
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(v >> (8 * i));
    return r;
}

constexpr TUstLimits Pair(uint64_t lo, uint64_t hi) {
    return {Raw(lo), Raw(hi)};
}

constexpr TUstLimits DatePair(uint8_t d0, uint8_t m0, uint8_t y0, uint8_t d1, uint8_t m1, uint8_t y1) {
    return {{d0, m0, y0}, {d1, m1, y1}};
}

// Rows 0 to 6 by model code: threshold current minimum, minimum of the
// other currents, imbalance minimum, the currents' maximum (mA), and the
// transformation ratio's maximum.
struct TModelRange {
    uint32_t ThresholdMin;
    uint32_t CurrentMin;
    uint32_t ImbalanceMin;
    uint32_t CurrentMax;
    uint32_t KtrMax;
};
constexpr std::array<TModelRange, kUstModelCount> kModelRanges = {{
    {0, 0, 0, 0, 0},
    {50, 200, 10, 50000, 1998},
    {100, 800, 50, 100000, 999},
    {200, 1600, 100, 250000, 1},
    {400, 3000, 200, 600000, 1},
    {1000, 6000, 500, 1250000, 1},
    {2000, 10000, 1000, 2500000, 1},
    {5000, 30000, 2000, 6250000, 1},
}};

constexpr std::array<std::array<TUstLimits, kUstCellCount>, kUstModelCount> BuildLimits() {
    std::array<std::array<TUstLimits, kUstCellCount>, kUstModelCount> all{};
    // No model: everything pinned to 0 but the model byte, which must stay
    // writable, and the date of manufacture.
    all[0][kUstModelRow] = Pair(0, 255);
    all[0][20] = DatePair(1, 1, 0, 1, 1, 0);

    for (int m = 1; m < kUstModelCount; ++m) {
        auto& rows = all[static_cast<size_t>(m)];
        const TModelRange& r = kModelRanges[static_cast<size_t>(m)];
        rows[0] = Pair(r.ThresholdMin, r.CurrentMax);
        rows[1] = Pair(r.CurrentMin, r.CurrentMax);
        rows[2] = Pair(r.CurrentMin, r.CurrentMax);
        rows[3] = Pair(r.CurrentMin, r.CurrentMax);
        rows[4] = Pair(r.ImbalanceMin, r.CurrentMax);
        rows[5] = Pair(r.CurrentMin, r.CurrentMax);
        rows[6] = Pair(1, r.KtrMax);
        for (int row = 7; row <= 12; ++row) rows[static_cast<size_t>(row)] = Pair(5, 65000);
        rows[13] = Pair(15, 65000);
        rows[14] = Pair(50, 65000);
        rows[15] = Pair(0, 65000);
        rows[16] = Pair(1, 250);
        rows[17] = Pair(0, 1);
        rows[18] = Pair(0, 1);
        rows[19] = Pair(1, 255);
        rows[20] = DatePair(1, 1, 0, 31, 12, 99);
        rows[21] = Pair(0, 65535);
        rows[22] = Pair(5, 65000);
        rows[23] = Pair(0, 25);
        rows[24] = Pair(0, 3);
    }
    return all;
}

// An item outside the setpoint block: no commands.
constexpr TTovikUstCell AuxCell(uint8_t type, int32_t precision, float scale, int32_t decimals,
                                bool zeroAllowed, const char* name) {
    TTovikUstCell cell;
    cell.ItemType = type;
    cell.Precision = precision;
    cell.Scale = scale;
    cell.Decimals = decimals;
    cell.ZeroAllowed = zeroAllowed;
    cell.ItemName = name;
    return cell;
}

}  // namespace

constinit const std::array<std::array<TUstLimits, kUstCellCount>, kUstModelCount> UstLimits = BuildLimits();

constinit const TUstLimits UstVariantTszLimits = Pair(0, 65000);

constinit const TTovikUstCell UstCellDateTime = AuxCell(UstDateTime, 10, 1.0f, 0, true, "дата/время");
// 0:00:00 on 1.01.2000 to 23:59:59 on 31.12.2255.
constinit const TUstLimits UstDateTimeLimits = {{0, 0, 0, 1, 1, 0}, {23, 59, 59, 31, 12, 255}};

constinit const TTovikUstCell UstCellCalCurrent = AuxCell(UstU32, 3, 1000.0f, 3, false, "ток калибровки");
// 0,010 A to 9999 A.
constinit const TUstLimits UstCalCurrentLimits = Pair(10, 9999000);

}  // namespace tovik
