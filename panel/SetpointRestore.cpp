#include "panel/SetpointRestore.h"

#include <algorithm>

#include "app/TovikDevice.h"
#include "panel/SettingsView.h"
#include "protocol/Commands.h"
#include "protocol/Outcome.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {

constexpr uint8_t kLevelReadOnly = 2;
constexpr int kBusNumberItem = 16;
constexpr int kDinProtocolItem = 24;

TUstRaw RelayRaw(const TRelaySetpoints& r, int item) {
    return MakeUstRaw(UstRawValue(SetpointRawValue(r.Block, item), SetpointItemBytes(item)));
}

uint16_t BlockKtr(const TSetpointBlock& b) {
    return static_cast<uint16_t>(b[kUstOffsetKtr] | b[kUstOffsetKtr + 1] << 8);
}

// An item's text for a raw value, as the grid shows it with this Kтр.
std::string ItemText(const TUstRaw& raw, int item, uint8_t kind, uint16_t ktr, const TLocaleFormat& locale) {
    if (item == kDinProtocolItem) return std::to_string(raw[0]);
    return FormatUstValue(raw, item, SetpointMultiplier(item, ktr), kind, locale);
}

std::string KindText(uint8_t kind) {
    return "\"" + std::string(DeviceKindName(kind)) + "\"";
}

std::string ModelText(uint8_t model, uint8_t kind) {
    const std::string name = ModelName(model, kind);
    return name.empty() ? "без модели (" + std::to_string(model) + ")"
                        : "\"" + name + "\" (" + std::to_string(model) + ")";
}

}  // namespace

int TSetpointComparison::Differing() const {
    return static_cast<int>(
        std::count_if(Items.begin(), Items.end(), [](const TSetpointDiff& d) { return d.Differs; }));
}

TSetpointComparison CompareSetpoints(const TSetpointFile& File, const TRelaySetpoints& Relay,
                                     const TLocaleFormat& Locale) {
    TSetpointComparison c;
    c.SameKind = File.DeviceKind == Relay.DeviceKind;
    c.SameModel = File.ModelByte == Relay.ModelByte;
    if (!c.SameKind)
        c.Notice = "Файл уставок сохранён с устройства другого типа: " + KindText(File.DeviceKind) +
                   ", а это устройство " + KindText(Relay.DeviceKind) + ". Сравниваются общие уставки.";
    else if (!c.SameModel)
        c.Notice = "Файл уставок сохранён с устройства другой модели: " +
                   ModelText(File.ModelByte, File.DeviceKind) + ", а у этого устройства " +
                   ModelText(Relay.ModelByte, Relay.DeviceKind) + ".";
    const uint16_t relayKtr = BlockKtr(Relay.Block);
    for (int i = 0; i < SetpointItemCount(Relay.DeviceKind); ++i) {
        TSetpointDiff d;
        d.Item = i;
        const TUstRaw now = RelayRaw(Relay, i);
        d.RelayText = ItemText(now, i, Relay.DeviceKind, relayKtr, Locale);
        if (const auto raw = File.ItemRaw(i)) {
            d.InFile = true;
            d.FileText = ItemText(*raw, i, File.DeviceKind, File.Ktr, Locale);
            d.Differs = *raw != now;
        } else {
            d.Differs = true;
        }
        c.Items.push_back(std::move(d));
    }
    return c;
}

bool UstRawWithinLimits(const TUstRaw& Raw, int Item, uint8_t ModelByte, uint8_t VariantByte) {
    if (Item < 0 || Item >= kUstCellCount) return false;
    const TTovikUstCell& cell = UstCells[static_cast<size_t>(Item)];
    const TUstLimits limits = UstCellLimits(ModelByte, Item, VariantByte);
    const int bytes = SetpointItemBytes(Item);
    if (cell.ItemType == UstDate) {
        // Day, month and year each within their own bounds.
        for (size_t k = 0; k < 3; ++k)
            if (Raw[k] < limits.Min[k] || Raw[k] > limits.Max[k])
                return cell.ZeroAllowed && UstRawValue(Raw, 3) == 0;
        return true;
    }
    const uint64_t v = UstRawValue(Raw, bytes);
    if (v == 0 && cell.ZeroAllowed) return true;
    return v >= UstRawValue(limits.Min, bytes) && v <= UstRawValue(limits.Max, bytes);
}

std::vector<int> TRestorePlan::ToWrite() const {
    std::vector<int> out;
    for (const TRestoreItem& i : Items)
        if (i.Action == TRestoreAction::Write) out.push_back(i.Item);
    return out;
}

TRestorePlan PlanRestore(const TSetpointFile& File, const TRelaySetpoints& Relay, uint8_t AccessLevel,
                         const TLocaleFormat& Locale) {
    TRestorePlan plan;
    if (File.DeviceKind != Relay.DeviceKind) {
        plan.Refusal = "Файл уставок сохранён с устройства другого типа: " + KindText(File.DeviceKind) +
                       ", а это устройство " + KindText(Relay.DeviceKind) + ". Уставки не записаны.";
        return plan;
    }
    if (AccessLevel == kLevelReadOnly) {
        plan.Refusal = "Доступ только для чтения: уставки не записаны.";
        return plan;
    }
    const uint16_t relayKtr = BlockKtr(Relay.Block);
    for (const TSetpointFileItem& f : File.Items) {
        TRestoreItem item;
        item.Item = f.Item;
        item.FileRaw = MakeUstRaw(f.Raw);
        const TUstRaw now = RelayRaw(Relay, f.Item);
        item.RelayText = ItemText(now, f.Item, Relay.DeviceKind, relayKtr, Locale);
        item.FileText = ItemText(item.FileRaw, f.Item, File.DeviceKind, File.Ktr, Locale);
        if (item.FileRaw == now)
            item.Action = TRestoreAction::Equal;
        else if (!SetpointWriteAllowed(AccessLevel, f.Item))
            item.Action = TRestoreAction::Access;
        else if (f.Item == kBusNumberItem)
            // Another relay's number would move this one away from the
            // address it is reached at, maybe onto another relay's.
            item.Action = TRestoreAction::BusNumber;
        else if (!UstRawWithinLimits(item.FileRaw, f.Item, Relay.ModelByte, Relay.VariantByte))
            item.Action = TRestoreAction::OutOfLimits;
        else
            item.Action = TRestoreAction::Write;
        plan.Items.push_back(std::move(item));
    }
    return plan;
}

int TRestoreReport::NotMatching() const {
    return static_cast<int>(
        std::count_if(Items.begin(), Items.end(), [](const TRestoreResult& r) { return !r.Matches; }));
}

bool TRestoreReport::WrittenAllMatch() const {
    if (!ReadBack) return false;
    return std::all_of(Items.begin(), Items.end(), [](const TRestoreResult& r) {
        return r.Matches || r.Action == TRestoreAction::Access || r.Action == TRestoreAction::BusNumber;
    });
}

TRestoreReport VerifyRestore(const TRestorePlan& Plan, const std::optional<TRelaySetpoints>& After,
                             const TLocaleFormat& Locale) {
    TRestoreReport report;
    report.ReadBack = After.has_value();
    for (const TRestoreItem& item : Plan.Items) {
        if (item.Action == TRestoreAction::Equal) continue;
        TRestoreResult r;
        r.Item = item.Item;
        r.Action = item.Action;
        r.FileText = item.FileText;
        if (item.Action == TRestoreAction::Write) ++report.Written;
        if (After) {
            const TUstRaw now = RelayRaw(*After, item.Item);
            r.Matches = now == item.FileRaw;
            r.RelayText = ItemText(now, item.Item, After->DeviceKind, BlockKtr(After->Block), Locale);
        } else {
            r.RelayText = kNotAvailableText;
        }
        report.Items.push_back(std::move(r));
    }
    return report;
}

std::string RestoreActionText(TRestoreAction Action) {
    switch (Action) {
        case TRestoreAction::Write:
            return "записана";
        case TRestoreAction::Equal:
            return "не менялась";
        case TRestoreAction::Access:
            return "не записана: только на сервисном уровне доступа";
        case TRestoreAction::BusNumber:
            return "не записана: номер в магистрали из файла не переносится";
        case TRestoreAction::OutOfLimits:
            return "не записана: значение вне пределов модели устройства";
    }
    return {};
}

std::string RestoreReportText(const TRestoreReport& Report) {
    std::string out;
    if (Report.Items.empty()) return "Уставки устройства уже совпадают с файлом: ничего не записано.";
    if (!Report.ReadBack)
        out = "Записано уставок: " + std::to_string(Report.Written) +
              ". Уставки не удалось прочитать снова (" + OutcomeText(Report.ReadBackOutcome) +
              "): результат неизвестен.\n";
    else if (Report.NotMatching() == 0)
        out = "Записано уставок: " + std::to_string(Report.Written) + ". Все уставки совпадают с файлом.\n";
    else
        out = "Записано уставок: " + std::to_string(Report.Written) +
              ". Не совпадают с файлом: " + std::to_string(Report.NotMatching()) + ".\n";
    for (const TRestoreResult& r : Report.Items) {
        out += std::to_string(r.Item) + ". " + UstCellName(r.Item) + ": в файле " + r.FileText +
               ", в устройстве " + r.RelayText + " — " + (r.Matches ? "совпадает" : "не совпадает");
        if (r.Action != TRestoreAction::Write) out += " (" + RestoreActionText(r.Action) + ")";
        out += '\n';
    }
    return out;
}

}  // namespace tovik
