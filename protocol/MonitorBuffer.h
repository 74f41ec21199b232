#pragma once
// The communication monitor's list: the frames of one port, decoded, in
// the order they crossed the line. It is bounded: beyond its capacity the
// oldest rows go, and the rows lost (here or before they reached it) are
// counted, so the window can say how many are missing.
//
// The records come from the port's frame trace through a TFrameTraceQueue,
// which never holds up the worker; the buffer itself belongs to the thread
// that shows it.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ports/FrameTrace.h"
#include "protocol/FrameDecoder.h"

namespace tovik {

struct TMonitorRow {
    uint64_t Serial = 0;     // consecutive, counting on across drops and clears
    int RequestAddress = 0;  // the bus number the request was for
    TFrameColumns Columns;   // Columns.Address: the frame's own number where it can be read
    std::string Line;        // the row as one line of text

    // Bus number 0 matches every row; otherwise the row's frame or its
    // request must be for that number.
    bool Matches(int Bus) const { return Bus == 0 || Columns.Address == Bus || RequestAddress == Bus; }
};

class TMonitorBuffer {
public:
    static constexpr size_t kDefaultCapacity = 5000;
    explicit TMonitorBuffer(size_t Capacity = kDefaultCapacity) : Limit(Capacity ? Capacity : 1) {}

    // Decodes and appends the records; returns how many of the oldest rows
    // went to make room.
    size_t Append(const std::vector<TFrameTraceRecord>& Records);
    // Frames lost before they reached the buffer.
    void CountDropped(size_t Count) { DroppedCount += Count; }

    size_t Size() const { return Rows.size(); }
    size_t Capacity() const { return Limit; }
    const TMonitorRow& Row(size_t Index) const { return Rows[Index]; }
    // The row with this serial number, or null when it has gone.
    const TMonitorRow* Find(uint64_t Serial) const;
    // The serial number the next row will get.
    uint64_t NextSerial() const { return Next; }
    uint64_t Dropped() const { return DroppedCount; }
    // Empties the list and the count of dropped frames.
    void Clear();

    // The rows that match the bus number (0: all), one line each, after a
    // heading that names the port and what is missing.
    std::string Text(int Bus, const std::string& PortName) const;

private:
    size_t Limit;
    std::deque<TMonitorRow> Rows;
    uint64_t DroppedCount = 0;
    uint64_t Next = 0;
};

// Writes `Text` to `Path` through a temporary file beside it: a failed save
// never leaves half a file where a good one was. On failure `Error` holds
// the reason.
bool SaveMonitorText(const std::string& Path, const std::string& Text, std::string& Error);

}  // namespace tovik
