// The setpoint cell parser with whatever an operator may type, for every
// row, model byte, variant byte and multiplier: the raw value always lies
// within the row's limits (or is 0 where the row allows it), and the text
// the grid shows for it reads back as the same raw value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "protocol/UstTable.h"

using namespace tovik;

namespace {

const TLocaleFormat kLocales[] = {
    {",", ".", ":"}, {".", "/", ":"}, {",", ".", "."}, {"\u066B", "/", ":"}, {",", ". ", ":"},
};

int Width(uint8_t type) {
    switch (type) {
        case UstU8:
            return 1;
        case UstU16:
            return 2;
        case UstU32:
            return 4;
        case UstDate:
            return 3;
        case UstDateTime:
            return 6;
        default:
            return 8;
    }
}

// Within the limits, 0 where allowed; nothing beyond the item's bytes.
void CheckWithin(const TUstRaw& raw, const TTovikUstCell& cell, const TUstLimits& limits) {
    const int width = Width(cell.ItemType);
    for (int i = width; i < 8; ++i) CHECK(raw[static_cast<size_t>(i)] == 0);
    if (cell.ItemType == UstDate || cell.ItemType == UstDateTime) {
        for (int i = 0; i < width; ++i) {
            const auto b = static_cast<size_t>(i);
            CHECK(raw[b] >= limits.Min[b] && raw[b] <= limits.Max[b]);
        }
        return;
    }
    const uint64_t v = UstRawValue(raw, width);
    const uint64_t lo = UstRawValue(limits.Min, width);
    const uint64_t hi = UstRawValue(limits.Max, width);
    CHECK(v <= hi);
    CHECK(v >= lo || (v == 0 && cell.ZeroAllowed));
}

// The grid's text of a raw value; the model row shows its number here, as
// the model name does not read back.
std::string Shown(const TUstRaw& raw, int row, uint32_t multiplier, uint8_t kind,
                  const TLocaleFormat& locale) {
    if (row == kUstModelRow) return FormatUstItem(raw, UstCells[static_cast<size_t>(row)], 0, locale);
    return FormatUstValue(raw, row, multiplier, kind, locale);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const TLocaleFormat& locale = in.PickValueInArray(kLocales);
    const uint8_t kind = in.ConsumeIntegralInRange<uint8_t>(0, 3);
    const int which = in.ConsumeIntegralInRange<int>(0, kUstCellCount + 1);
    const uint8_t model = in.ConsumeIntegral<uint8_t>();
    const uint8_t variant = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint8_t>();
    // The settings tab passes the transformation ratio for the current rows
    // (the relay may report any 16-bit ratio, 0 included), 0 for the rest.
    uint32_t multiplier = 0;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            break;
        case 1:
            multiplier = in.ConsumeIntegral<uint16_t>();
            break;
        case 2:
            multiplier = in.ConsumeIntegralInRange<uint32_t>(1, 1998);
            break;
        default:
            multiplier = in.ConsumeIntegral<uint32_t>();
            break;
    }
    const std::string text = in.ConsumeRemainingBytesAsString();

    if (which >= kUstCellCount) {
        // The task log's date/time cells and the calibration current.
        const bool dateTime = which == kUstCellCount;
        const TTovikUstCell& cell = dateTime ? UstCellDateTime : UstCellCalCurrent;
        const TUstLimits& limits = dateTime ? UstDateTimeLimits : UstCalCurrentLimits;
        const TUstParse p = ParseUstValue(text, cell, limits, 1, locale);
        CheckWithin(p.Raw, cell, limits);
        const TUstParse back = ParseUstValue(FormatUstItem(p.Raw, cell, 1, locale), cell, limits, 1, locale);
        CHECK(back.Numeric && back.Raw == p.Raw);
        return 0;
    }

    const int row = which;
    const TTovikUstCell& cell = UstCells[static_cast<size_t>(row)];
    const TUstLimits limits = UstCellLimits(model, row, variant);
    const TUstParse p = ParseUstCell(text, model, row, variant, multiplier, locale);
    CheckWithin(p.Raw, cell, limits);

    const std::string shown = Shown(p.Raw, row, multiplier, kind, locale);
    const TUstParse back = ParseUstCell(shown, model, row, variant, multiplier, locale);
    CHECK(back.Numeric);
    CheckWithin(back.Raw, cell, limits);
    if (cell.ItemType == UstU32 && multiplier > 1) {
        // The grid shows the primary side to three digits; the relay keeps
        // the secondary side to the mA. A limit times the ratio may need
        // more digits than the grid shows, so the shown text reads back
        // only to a value that the grid shows the same way.
        CHECK(Shown(back.Raw, row, multiplier, kind, locale) == shown);
    } else {
        CHECK(back.Raw == p.Raw);
    }
    return 0;
}
