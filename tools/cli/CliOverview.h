#pragma once
// "tovik-cli overview": the plant overview (panel/PlantOverview.h) of every
// device of the configuration file, each of its ports read by its own
// worker, so the lines are read in parallel as the window reads them.
#include <optional>

#include "app/DeviceList.h"
#include "ports/ProtoPortList.h"
#include "protocol/Codecs.h"

namespace tovik::cli {

struct TOverviewOptions {
    bool Json = false;
    bool Trace = false;  // every frame on every line to standard error
    bool Watch = false;  // a table per round until Ctrl+C or Count rounds
    std::optional<long> Count;
    int IntervalMs = 1000;  // watch: from the start of one round to the next
};

// Reads the devices through lines of their own made from the ports'
// records, prints the table (or one JSON object) after each round and
// returns the exit status: 0 when in the last round every relay answered
// and none is in an alarm state, 1 otherwise.
int RunOverview(const TOverviewOptions& Options, const TLocaleFormat& Locale, TProtoPortList& Ports,
                const TDeviceList& Devices);

}  // namespace tovik::cli
