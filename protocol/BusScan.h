#pragma once
// Finding the relays on a line. Every bus number of a range is asked the
// state poll of each wire format chosen, one format after the other: the
// native model poll (command 4, offset 49) and the ModBus read of the model
// register. The probes are jobs
// on the port's own queue, run by its worker like every other request, so
// a scan never interleaves bytes with other traffic on the line; each has
// one try and the scan's own short time-out.
//
// A probe listens for its whole time-out, so that a second answer to the
// same number (two relays set to one number) shows up as damaged or
// disagreeing replies instead of passing unnoticed. Replies are taken only
// from the number asked, whatever the port's bus mode.
//
// TBusScan lives in the user-interface thread: Start queues the first
// probes, Pump takes the outcomes from the scan's result list and queues
// the next ones, Cancel stops it at once (the probe on the line ends within
// one read wait, the queued ones never reach the line).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/DeviceTypes.h"
#include "ports/ProtoPort.h"
#include "protocol/Codecs.h"

namespace tovik {

inline constexpr int32_t kScanDefaultTimeoutMs = 50;
inline constexpr int32_t kScanMinTimeoutMs = 10;
inline constexpr int32_t kScanMaxTimeoutMs = 2000;

struct TScanOptions {
    int From = kMinBusAddress;
    int To = kMaxBusAddress;
    bool Native = true;
    bool Modbus = true;
    int32_t TimeoutMs = kScanDefaultTimeoutMs;
};

// Empty when the options can be scanned; otherwise what is wrong with them.
std::string CheckScanOptions(const TScanOptions& Options);

enum TScanFlag : uint32_t {
    ScanBothFormats = 1u << 0,     // answered natively and over ModBus
    ScanDisagree = 1u << 1,        // two valid answers with different contents
    ScanExtraReply = 1u << 2,      // more than one valid answer to one request
    ScanDamaged = 1u << 3,         // damaged or foreign frames came to its request
    ScanLate = 1u << 4,            // its answer came during a later request
    ScanForeignAddress = 1u << 5,  // another number answered its request
    ScanException = 1u << 6,       // a ModBus exception instead of the register
};

struct TScanFinding {
    uint8_t Address = 0;
    bool Native = false;  // a valid native answer
    bool Modbus = false;  // a valid ModBus answer (an exception counts)
    bool HasModel = false;
    uint8_t ModelByte = 0;
    uint8_t ProposedKind = kKindTovik;
    bool KindCertain = false;  // the model byte tells the family
    uint32_t Flags = 0;
    uint8_t ExceptionCode = 0;
    uint8_t ForeignAddress = 0;  // with ScanForeignAddress
    int32_t ReplyMs = -1;        // of the first valid answer

    bool Answered() const { return Native || Modbus; }
};

// "Товик-25-M3"; "модель 0x00" for a model byte without a model; empty
// without an answer that carried one.
std::string FindingModelText(const TScanFinding& Finding);
// "собственный", "ModBus RTU" or both.
std::string FindingFormatText(const TScanFinding& Finding);
// The flags in words, joined by "; ".
std::string FindingNotesText(const TScanFinding& Finding);

struct TScanProgress {
    int Done = 0;     // probes finished
    int Total = 0;    // probes in the scan
    int Address = 0;  // bus number of the last probe finished
    int NotSent = 0;  // probes the line did not take
};

struct TScanShared;

class TBusScan {
public:
    // The port must outlive the scan.
    TBusScan(TProtoPort& Port, const TScanOptions& Options);
    ~TBusScan();
    TBusScan(const TBusScan&) = delete;
    TBusScan& operator=(const TBusScan&) = delete;

    // Queues the first probes. False when the options are bad (see
    // CheckScanOptions) or the scan has been started before.
    bool Start();
    // Hands the outcomes that have arrived to the scan and queues the next
    // probes. True while the scan runs.
    bool Pump();
    // Waits until an outcome is waiting for Pump, at most `LimitMs`.
    bool WaitForOutcome(int LimitMs) const;
    // Stops at once; the findings so far stay.
    void Cancel();

    bool Running() const { return Started && !Ended; }
    bool Finished() const { return Ended && !WasCancelled; }
    bool Cancelled() const { return WasCancelled; }
    TScanProgress Progress() const { return ProgressNow; }
    // Every number that answered or showed something, by bus number.
    std::vector<TScanFinding> Findings() const;
    int AnsweredCount() const;
    const TScanOptions& Options() const { return Opts; }
    TProtoPort& Port() const { return PortRef; }

private:
    struct TProbe {
        uint8_t Address;
        bool Modbus;
    };
    void QueueMore();
    void OnProbe(size_t index, const TBlock* data);
    TScanFinding& FindingFor(uint8_t address);

    TProtoPort& PortRef;
    TScanOptions Opts;
    std::shared_ptr<TScanShared> Shared;
    std::shared_ptr<TResultEventsList> Results;
    int32_t Owner = -1;
    std::vector<TProbe> Probes;
    size_t NextProbe = 0;
    int Outstanding = 0;
    bool Started = false;
    bool Ended = false;
    bool WasCancelled = false;
    TScanProgress ProgressNow;
    std::map<uint8_t, TScanFinding> Found;
};

}  // namespace tovik
