#pragma once
// The relay's task log as the panel keeps it: the entries read entry by
// entry, the relay's capacity, the grid texts and the tab's messages.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "panel/TextGrid.h"
#include "protocol/Builders.h"
#include "protocol/Codecs.h"

namespace tovik {

inline constexpr const char* kMsgTaskLogFull = "Больше нет свободного места в журнале заданий.";
inline constexpr const char* kMsgSelectTaskRow = "Выберите ячейку строки удаляемого задания.";
inline constexpr const char* kMsgTaskWriteFailed = "Ошибка задания.";
inline constexpr const char* kMsgTaskAddFailed = "Ошибка добавления задания.";
inline constexpr const char* kMsgTaskDeleteFailed = "Ошибка удаления задания.";
inline constexpr const char* kMsgTaskClearFailed = "Ошибка очистки журнала.";

inline constexpr std::array<const char*, 3> kTaskGridHeader = {"№", "Начало", "Окончание"};

// The text of a task time stamp: each byte first brought into range (hour
// at most 23, minute and second at most 59, day and month at least 1 and at
// most 31 and 12, year byte at most 99).
std::string TaskTimeText(std::span<const uint8_t, 6> Time, const TLocaleFormat& Locale);

// The entry's start and end: hour, minute, second, day, month, year - 2000.
TTaskEntry MakeTaskEntry(const TLocalTime& Start, const TLocalTime& End);
TTaskEntry TaskEntryFromTimes(std::span<const uint8_t, 6> Start, std::span<const uint8_t, 6> End);

// An entry as the operator typed it: its start and end texts read as time
// stamps, and each shown as it will be stored. `Error` names the text that is
// not a date and time (nothing is to be written then).
struct TTaskEdit {
    TTaskEntry Entry{};
    std::string StartText;
    std::string EndText;
    std::string Error;
};
TTaskEdit ParseTaskEdit(std::string_view Start, std::string_view End, const TLocaleFormat& Locale);

// Whether a grid row (1 = the first entry) names an entry of the log.
inline bool TaskRowSelected(int Row, size_t Count) {
    return Row >= 1 && static_cast<size_t>(Row) <= Count;
}

class TTaskLog {
public:
    // Takes the reply to the read of entry `Asked` (15 bytes: entry, its
    // index, the number of entries, the capacity). Returns the index to read
    // next, or none when the chain ends: the last entry came, the read
    // failed, or the reply was damaged (an index outside the log, a block cut
    // short because the reply did not bring all 15 bytes), in which case
    // nothing of it is stored. A reply that names another entry than the one
    // asked ends the chain too, with a Problem(); and a chain reads no more
    // entries than the log held when it began.
    std::optional<uint8_t> OnTaskEntry(bool Ok, const TBlock* Data, uint8_t Asked);

    const std::vector<TTaskEntry>& Entries() const { return List; }
    size_t Count() const { return List.size(); }
    uint8_t Capacity() const { return TaskCapacity; }
    bool IsFull() const { return List.size() >= TaskCapacity; }
    // A reply of the relay has been taken: the count and the capacity are its own.
    bool Known() const { return Answered; }
    // Index of the last entry received in the running or last chain; -1
    // before the first.
    int LastReceived() const { return Last; }
    // The last chain ended on a failed or damaged reply.
    bool ReadFailed() const { return Failed; }
    // Why the last chain ended on a reply that named another entry, for the
    // operator; empty otherwise.
    const std::string& Problem() const { return Mismatch; }

    // Starts a new chain: entries already held stay until replies replace them.
    void BeginRead();
    // Replaces entry `index` (an edit of the grid).
    bool SetEntry(size_t index, const TTaskEntry& entry);

    // The grid: header, then "№", start and end per entry; entries not yet
    // received in this chain show only their number; an empty log one
    // empty row.
    TTextGrid Grid(const TLocaleFormat& Locale) const;

private:
    std::vector<TTaskEntry> List;
    uint8_t TaskCapacity = 0;
    int Last = -1;
    bool Failed = false;
    bool Answered = false;
    size_t ChainCount = 0;  // entries the log held when the chain began
    std::string Mismatch;
};

}  // namespace tovik
