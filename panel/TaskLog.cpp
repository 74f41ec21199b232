#include "panel/TaskLog.h"

#include <algorithm>

#include "protocol/Commands.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {

uint8_t Byte(int v) {
    return static_cast<uint8_t>(v);
}

std::array<uint8_t, 6> TimeBytes(const TLocalTime& t) {
    return {Byte(t.Hour), Byte(t.Minute), Byte(t.Second), Byte(t.Day), Byte(t.Month), Byte(t.Year - 2000)};
}

}  // namespace

std::string TaskTimeText(std::span<const uint8_t, 6> Time, const TLocaleFormat& Locale) {
    const std::array<uint8_t, 6> t = {
        std::min<uint8_t>(Time[0], 23),      std::min<uint8_t>(Time[1], 59),
        std::min<uint8_t>(Time[2], 59),      std::clamp<uint8_t>(Time[3], 1, 31),
        std::clamp<uint8_t>(Time[4], 1, 12), std::min<uint8_t>(Time[5], 99),
    };
    return FormatDateTime(t, Locale);
}

TTaskEntry TaskEntryFromTimes(std::span<const uint8_t, 6> Start, std::span<const uint8_t, 6> End) {
    TTaskEntry e{};
    std::copy(Start.begin(), Start.end(), e.begin());
    std::copy(End.begin(), End.end(), e.begin() + 6);
    return e;
}

TTaskEdit ParseTaskEdit(std::string_view Start, std::string_view End, const TLocaleFormat& Locale) {
    TTaskEdit edit;
    std::array<TUstRaw, 2> raw{};
    const std::string_view texts[2] = {Start, End};
    for (size_t i = 0; i < 2; ++i) {
        const TUstParse parsed = ParseUstValue(texts[i], UstCellDateTime, UstDateTimeLimits, 1, Locale);
        if (!parsed.Numeric) {
            edit.Error = "\"" + std::string(texts[i]) + "\" не дата и время; задание не записано.";
            return edit;
        }
        raw[i] = parsed.Raw;
    }
    edit.Entry = TaskEntryFromTimes(std::span<const uint8_t, 6>(raw[0].data(), 6),
                                    std::span<const uint8_t, 6>(raw[1].data(), 6));
    edit.StartText = FormatUstItem(raw[0], UstCellDateTime, 0, Locale);
    edit.EndText = FormatUstItem(raw[1], UstCellDateTime, 0, Locale);
    return edit;
}

TTaskEntry MakeTaskEntry(const TLocalTime& Start, const TLocalTime& End) {
    const auto s = TimeBytes(Start);
    const auto e = TimeBytes(End);
    return TaskEntryFromTimes(s, e);
}

void TTaskLog::BeginRead() {
    Last = -1;
    Failed = false;
    Mismatch.clear();
}

std::optional<uint8_t> TTaskLog::OnTaskEntry(bool Ok, const TBlock* Data, uint8_t Asked) {
    if (!Ok || !Data || Data->size() < kTaskReplySize) {
        Failed = true;
        return std::nullopt;
    }
    const TBlock& d = *Data;
    const uint8_t index = d[kTaskIndexByte];
    const uint8_t count = d[kTaskCountByte];
    // A reply that names another entry answers another question: asking on
    // from it could go round for ever, and nothing of it is taken.
    if (index != Asked) {
        Failed = true;
        Mismatch = "Журнал заданий прочитан не полностью: на запрос задания " + std::to_string(Asked + 1) +
                   " устройство ответило заданием " + std::to_string(index + 1) + ".";
        return std::nullopt;
    }
    TaskCapacity = d[kTaskCapacityByte];
    Answered = true;
    if (Asked == 0) ChainCount = count;
    if (List.size() != count) List.resize(count, TTaskEntry{});
    if (count == 0) {
        Last = -1;
        return std::nullopt;
    }
    // An index outside the log it reports cannot be stored anywhere: the
    // chain ends there rather than asking on past the end.
    if (index >= count) {
        Failed = true;
        return std::nullopt;
    }
    std::copy_n(d.begin(), kTaskEntrySize, List[index].begin());
    Last = index;
    // No more reads than the log held when the chain began, however the
    // count grows under it.
    if (index + 1u >= std::min<size_t>(count, ChainCount)) return std::nullopt;
    return static_cast<uint8_t>(index + 1);
}

bool TTaskLog::SetEntry(size_t index, const TTaskEntry& entry) {
    if (index >= List.size()) return false;
    List[index] = entry;
    return true;
}

TTextGrid TTaskLog::Grid(const TLocaleFormat& Locale) const {
    TTextGrid grid;
    grid.emplace_back(kTaskGridHeader.begin(), kTaskGridHeader.end());
    if (List.empty()) {
        grid.emplace_back(kTaskGridHeader.size());
        return grid;
    }
    for (size_t i = 0; i < List.size(); ++i) {
        TTextRow row = {std::to_string(i + 1), "", ""};
        if (static_cast<int>(i) <= Last) {
            row[1] = TaskTimeText(std::span<const uint8_t, 6>(List[i].data(), 6), Locale);
            row[2] = TaskTimeText(std::span<const uint8_t, 6>(List[i].data() + 6, 6), Locale);
        }
        grid.push_back(std::move(row));
    }
    return grid;
}

}  // namespace tovik
