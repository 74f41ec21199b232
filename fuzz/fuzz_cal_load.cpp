// Feeds arbitrary bytes to the calibration file load. A file that loads
// stores back to a file that loads to the same entries; loaded into the
// tab of a relay with 2 to 10 points, every start either names its input
// error or gives a plan of ascending currents that are each phase's points.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "panel/Calibration.h"

using namespace tovik;

namespace {

const TLocaleFormat kRu{",", ".", ":"};

void CheckStart(const TCalFile& file, uint8_t maxPoints) {
    TCalibration cal(kRu);
    cal.SetupFixed();
    cal.OnInfo(maxPoints);
    cal.Apply(file);
    CHECK(cal.Columns() == static_cast<size_t>(maxPoints) + 1);
    for (int p = 0; p < kCalPhaseCount; ++p) {
        CHECK(cal.Checked(p) == file.Phases[static_cast<size_t>(p)]);
        CHECK(cal.Points(p) >= kCalMinPoints && cal.Points(p) <= maxPoints);
    }
    const auto message = cal.Start();
    if (message) {
        CHECK(!cal.Started());
        CHECK(cal.Schedule().empty());
        return;
    }
    CHECK(cal.Started() && cal.Step() == 0 && cal.Point() == -1);
    const TCalibrationSchedule& plan = cal.Schedule();
    for (size_t i = 1; i < plan.size(); ++i) CHECK(plan[i - 1].Current < plan[i].Current);
    for (size_t p = 0; p < kCalPhaseCount; ++p) {
        const auto& points = cal.PhaseCurrents()[p];
        CHECK(points.size() == (file.Phases[p] ? static_cast<size_t>(cal.Points(static_cast<int>(p))) : 0u));
        size_t used = 0;
        for (const TCalScheduleEntry& entry : plan) {
            const int at = entry.Position[p];
            if (at < 0) continue;
            CHECK(static_cast<size_t>(at) < points.size() &&
                  points[static_cast<size_t>(at)] == entry.Current);
            ++used;
        }
        CHECK(used == points.size());  // every point of the phase is in the plan once
    }
    CHECK(cal.PlanGrid().size() == plan.size() + 1);
    // A started run takes no more entries.
    cal.Apply(TCalFile{});
    CHECK(cal.Started() && cal.Checked(0) == file.Phases[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TCalFile file;
    file.Points = {7, 7, 7};
    std::string error;
    if (!DecodeCalFile(bytes, file, error)) {
        CHECK(!error.empty());
        CHECK(file.Points[0] == 7 && file.Texts[0].empty());  // a refused file changes nothing
        return 0;
    }
    CHECK(size >= 7);
    const size_t columns = file.Texts[0].size();
    CHECK(columns == data[6] && file.Texts[1].size() == columns && file.Texts[2].size() == columns);

    // Stored again: the same entries. A byte Windows-1251 has no character
    // for loads as U+FFFD, which the file cannot hold.
    std::string again;
    if (EncodeCalFile(file, again, error)) {
        CHECK(again.size() <= size);
        TCalFile back;
        CHECK(DecodeCalFile(again, back, error));
        CHECK(back.Phases == file.Phases && back.Points == file.Points && back.Texts == file.Texts);
    } else {
        CHECK(!error.empty());
    }

    for (const uint8_t maxPoints : {uint8_t{2}, uint8_t{4}, uint8_t{10}}) CheckStart(file, maxPoints);
    return 0;
}
