#pragma once
// The calibration tab without its window: the phases chosen and their
// point counts, the grid of point currents, the calibration file (.cal) and
// the plan of a run (its schedule of currents).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/TextGrid.h"
#include "protocol/Codecs.h"

namespace tovik {

inline constexpr int kCalPhaseCount = 3;
inline constexpr std::array<const char*, kCalPhaseCount> kCalPhaseNames = {"A", "B", "C"};
// A phase has at least the 0 A point and one more.
inline constexpr int kCalMinPoints = 2;
inline constexpr const char* kCalStepReady = "Готово";
inline constexpr const char* kMsgCalNoPhase = "Выберите калибруемые токи.";
// "Ошибка ввода калибровочных токов фазы A." and the like.
std::string CalPhaseErrorText(int Phase);

// The calibration file: three choice bytes, three point counts, the number
// M of point columns, then per phase row A, B, C and per column 1..M the
// cell's text, a length byte and that many Windows-1251 bytes.
struct TCalFile {
    std::array<bool, kCalPhaseCount> Phases{};
    std::array<uint8_t, kCalPhaseCount> Points{};
    // Texts (UTF-8) of the phase rows, columns 1..M; M is the size of each.
    std::array<std::vector<std::string>, kCalPhaseCount> Texts;
};
// The longest file there can be: M = 255 and every text 255 bytes long.
inline constexpr size_t kMaxCalFileSize = 7 + 3 * 255 * 256;

// The file's bytes. False with a message naming the cell when a text cannot
// be stored: longer than 255 bytes, or with a character outside Windows-1251.
bool EncodeCalFile(const TCalFile& File, std::string& Bytes, std::string& Error);
// False with a message when the bytes end before the data their counts
// announce, or run on past it; `File` is then left as it was.
bool DecodeCalFile(std::string_view Bytes, TCalFile& File, std::string& Error);

// One current of a run and, per phase, the position of that current among
// the phase's points (-1: the phase has no such point).
struct TCalScheduleEntry {
    float Current = 0;
    std::array<int, kCalPhaseCount> Position{-1, -1, -1};
    bool operator==(const TCalScheduleEntry&) const = default;
};
using TCalibrationSchedule = std::vector<TCalScheduleEntry>;

// Every current of the phases (A, then B, then C) once, ascending.
TCalibrationSchedule BuildCalibrationSchedule(const std::array<std::vector<float>, kCalPhaseCount>& Points);

// A cell after Enter: the current parsed and shown in amperes, held within
// 0,010 to 9999 A; none for a text that is not a number (left as typed, so
// that the start refuses it rather than take it for the smallest current).
std::optional<std::string> NormaliseCalCurrent(std::string_view Text, const TLocaleFormat& Locale);

// The currents of a phase row's columns 1..Count (`Texts[0]` is column 1);
// none when a text is missing, empty or not a number, or the currents do
// not rise strictly.
std::optional<std::vector<float>> ReadPhaseCurrents(const std::vector<std::string>& Texts, int Count,
                                                    const TLocaleFormat& Locale);

// The tab's state. Row 0 of the grid is its header, rows 1..3 the phases;
// column 0 names the phase, column 1 is the fixed 0 A point.
class TCalibration {
public:
    explicit TCalibration(const TLocaleFormat& Locale);

    bool Checked(int Phase) const { return Check[Index(Phase)]; }
    int Points(int Phase) const { return Spin[Index(Phase)]; }
    int PointsMax() const { return SpinMax; }
    bool GroupEnabled() const { return Group && !Started(); }
    bool GridEnabled() const { return GridOn && !Started(); }
    bool PointsEnabled(int Phase) const { return GroupEnabled() && Checked(Phase); }
    // The run started: the tab is used up for the panel's life.
    bool Started() const { return CalStep >= 0; }
    const TTextGrid& Grid() const { return Cells; }
    size_t Columns() const { return Cells.empty() ? 0 : Cells[0].size(); }
    // Moves each time the tab writes the cell (not when the operator types).
    uint32_t CellRevision(size_t Row, size_t Column) const;
    const std::string& StepInfo() const { return Info; }
    int32_t Step() const { return CalStep; }
    int32_t Point() const { return CalPoint; }
    const std::array<std::vector<float>, kCalPhaseCount>& PhaseCurrents() const { return Currents; }
    const TCalibrationSchedule& Schedule() const { return Plan; }
    // The plan as a table: "Ток, A", "Фаза A", "Фаза B", "Фаза C", then one
    // row per current with "точка k" (the grid's column) or "—" per phase.
    TTextGrid PlanGrid() const;

    // The set-up after every setpoint read: phase names, header "1", "0,00".
    void SetupFixed();
    // The relay's calibration information: the largest number of points per
    // phase, or none after a failed read.
    void OnInfo(std::optional<uint8_t> MaxPoints);
    void SetChecked(int Phase, bool On);
    void SetPoints(int Phase, int Value);
    // What the operator typed into a cell; the fixed column keeps its text.
    void SetCellText(size_t Row, size_t Column, std::string Text);
    // Enter in a cell; false when its text is not a number.
    bool NormaliseCell(size_t Row, size_t Column);

    TCalFile ToFile() const;
    // A file's entries: boxes (as if clicked), spin values within their
    // limits, the texts of the columns the grid has.
    void Apply(const TCalFile& File);

    // The checks of a start and, when they pass, the run's plan; the
    // message of the first check that failed otherwise.
    std::optional<std::string> Start();

private:
    static size_t Index(int Phase) { return static_cast<size_t>(Phase < 0 ? 0 : Phase > 2 ? 2 : Phase); }
    void SetCell(size_t Row, size_t Column, const std::string& Text);
    void Resize(size_t Columns);
    void UpdateGridEnabled();

    TLocaleFormat Locale;
    std::array<bool, kCalPhaseCount> Check{};
    std::array<int, kCalPhaseCount> Spin{kCalMinPoints, kCalMinPoints, kCalMinPoints};
    int SpinMax = kCalMinPoints;
    bool Group = true;
    bool GridOn = false;
    TTextGrid Cells;
    std::vector<std::vector<uint32_t>> Revs;
    std::string Info = kCalStepReady;
    int32_t CalStep = -1;
    int32_t CalPoint = -1;
    std::array<std::vector<float>, kCalPhaseCount> Currents;
    TCalibrationSchedule Plan;
};

}  // namespace tovik
