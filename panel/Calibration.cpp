#include "panel/Calibration.h"

#include <algorithm>
#include <cmath>

#include "base/Cp1251.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {

constexpr size_t kHeaderSize = 7;
constexpr size_t kMaxTextBytes = 255;

// The Russian word for a count: 1 ток, 2 тока, 5 токов.
std::string Counted(size_t n, const char* one, const char* few, const char* many) {
    const size_t tens = n % 100;
    const size_t last = n % 10;
    const char* word = (tens >= 11 && tens <= 14) ? many
                       : last == 1                ? one
                       : (last >= 2 && last <= 4) ? few
                                                  : many;
    return std::to_string(n) + " " + word;
}

// Windows-1251 bytes as UTF-8; the one byte it leaves undefined shows as U+FFFD.
std::string TextFromFile(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto text = Cp1251ToUtf8(std::string_view(&c, 1));
        out += text ? *text : "\xEF\xBF\xBD";
    }
    return out;
}

std::string CurrentText(double amperes, const TLocaleFormat& Locale) {
    const double milli = std::nearbyint(amperes * 1000.0);
    const uint64_t raw = milli <= 0 ? 0 : static_cast<uint64_t>(milli);
    return FormatUstItem(MakeUstRaw(raw), UstCells[0], 0, Locale);
}

}  // namespace

std::string CalPhaseErrorText(int Phase) {
    return std::string("Ошибка ввода калибровочных токов фазы ") +
           kCalPhaseNames[static_cast<size_t>(Phase)] + ".";
}

// ---- the file ----

bool EncodeCalFile(const TCalFile& File, std::string& Bytes, std::string& Error) {
    const size_t columns = File.Texts[0].size();
    if (columns > 255 || File.Texts[1].size() != columns || File.Texts[2].size() != columns) {
        Error = "в таблице больше 255 точек";
        return false;
    }
    std::string out;
    for (const bool on : File.Phases) out += static_cast<char>(on ? 1 : 0);
    for (const uint8_t n : File.Points) out += static_cast<char>(n);
    out += static_cast<char>(columns);
    for (size_t p = 0; p < File.Texts.size(); ++p) {
        for (size_t k = 0; k < columns; ++k) {
            const std::string cell =
                std::string("точка ") + std::to_string(k + 1) + " фазы " + kCalPhaseNames[p];
            const auto bytes = Utf8ToCp1251(File.Texts[p][k]);
            if (!bytes) {
                Error = cell + ": символ, которого нет в кодировке Windows-1251";
                return false;
            }
            if (bytes->size() > kMaxTextBytes) {
                Error = cell + ": текст длиннее 255 символов";
                return false;
            }
            out += static_cast<char>(bytes->size());
            out += *bytes;
        }
    }
    Bytes = std::move(out);
    return true;
}

bool DecodeCalFile(std::string_view Bytes, TCalFile& File, std::string& Error) {
    const auto at = [&](size_t i) { return static_cast<uint8_t>(Bytes[i]); };
    const auto tooShort = [&] {
        Error = "файл короче своих данных (в нём " + Counted(Bytes.size(), "байт", "байта", "байт") + ")";
        return false;
    };
    if (Bytes.size() < kHeaderSize) return tooShort();
    TCalFile file;
    for (size_t p = 0; p < 3; ++p) {
        file.Phases[p] = at(p) != 0;
        file.Points[p] = at(3 + p);
    }
    const size_t columns = at(6);
    size_t pos = kHeaderSize;
    for (auto& row : file.Texts) {
        for (size_t k = 0; k < columns; ++k) {
            if (pos >= Bytes.size()) return tooShort();
            const size_t length = at(pos++);
            if (Bytes.size() - pos < length) return tooShort();
            row.push_back(TextFromFile(Bytes.substr(pos, length)));
            pos += length;
        }
    }
    if (pos != Bytes.size()) {
        Error = "файл длиннее своих данных (" + Counted(pos, "байт", "байта", "байт") + " данных, в файле " +
                std::to_string(Bytes.size()) + ")";
        return false;
    }
    File = std::move(file);
    return true;
}

// ---- the schedule and the texts ----

TCalibrationSchedule BuildCalibrationSchedule(const std::array<std::vector<float>, kCalPhaseCount>& Points) {
    std::vector<float> currents;
    for (const auto& phase : Points)
        for (const float current : phase)
            if (std::find(currents.begin(), currents.end(), current) == currents.end())
                currents.push_back(current);
    std::sort(currents.begin(), currents.end());
    TCalibrationSchedule schedule;
    for (const float current : currents) {
        TCalScheduleEntry entry;
        entry.Current = current;
        for (size_t p = 0; p < Points.size(); ++p) {
            const auto it = std::find(Points[p].begin(), Points[p].end(), current);
            entry.Position[p] = it == Points[p].end() ? -1 : static_cast<int>(it - Points[p].begin());
        }
        schedule.push_back(entry);
    }
    return schedule;
}

std::optional<std::string> NormaliseCalCurrent(std::string_view Text, const TLocaleFormat& Locale) {
    const TUstParse parsed = ParseUstValue(Text, UstCellCalCurrent, UstCalCurrentLimits, 1, Locale);
    if (!parsed.Numeric) return std::nullopt;
    return FormatUstItem(parsed.Raw, UstCells[0], 0, Locale);
}

std::optional<std::vector<float>> ReadPhaseCurrents(const std::vector<std::string>& Texts, int Count,
                                                    const TLocaleFormat& Locale) {
    if (Count < 0 || static_cast<size_t>(Count) > Texts.size()) return std::nullopt;
    std::vector<float> currents;
    for (int i = 0; i < Count; ++i) {
        const auto value = ParseNumber(Texts[static_cast<size_t>(i)], Locale);
        if (!value || !std::isfinite(static_cast<float>(*value))) return std::nullopt;
        const auto current = static_cast<float>(*value);
        if (!currents.empty() && !(current > currents.back())) return std::nullopt;
        currents.push_back(current);
    }
    return currents;
}

// ---- the tab ----

TCalibration::TCalibration(const TLocaleFormat& Locale) : Locale(Locale) {
    Resize(static_cast<size_t>(kCalMinPoints) + 1);
    SetupFixed();
}

uint32_t TCalibration::CellRevision(size_t Row, size_t Column) const {
    return Row < Revs.size() && Column < Revs[Row].size() ? Revs[Row][Column] : 0;
}

void TCalibration::SetCell(size_t Row, size_t Column, const std::string& Text) {
    if (Row >= Cells.size() || Column >= Cells[Row].size()) return;
    // What the tab writes replaces whatever the cell shows.
    Cells[Row][Column] = Text;
    ++Revs[Row][Column];
}

void TCalibration::Resize(size_t Columns) {
    Cells.resize(1 + kCalPhaseCount);
    Revs.resize(Cells.size());
    for (size_t r = 0; r < Cells.size(); ++r) {
        Cells[r].resize(Columns);
        Revs[r].resize(Columns, 1);
    }
}

void TCalibration::SetupFixed() {
    SetCell(0, 0, "");
    SetCell(0, 1, "1");
    for (size_t p = 0; p < kCalPhaseCount; ++p) {
        SetCell(p + 1, 0, kCalPhaseNames[p]);
        SetCell(p + 1, 1, CurrentText(0, Locale));
    }
}

void TCalibration::OnInfo(std::optional<uint8_t> MaxPoints) {
    if (Started()) return;
    if (!MaxPoints) {
        Group = false;
        GridOn = false;
        return;
    }
    Group = true;
    GridOn = true;
    // The spin boxes never go below their minimum of two points; a grid
    // without a second column has nothing to calibrate, which the start says.
    const int points = *MaxPoints;
    SpinMax = std::max(points, kCalMinPoints);
    for (int& value : Spin) value = std::clamp(value, kCalMinPoints, SpinMax);
    Resize(static_cast<size_t>(std::max(points, 1)) + 1);
    for (int k = 2; k <= points; ++k) SetCell(0, static_cast<size_t>(k), std::to_string(k));
}

void TCalibration::UpdateGridEnabled() {
    GridOn = Check[0] || Check[1] || Check[2];
}

void TCalibration::SetChecked(int Phase, bool On) {
    if (Started()) return;
    Check[Index(Phase)] = On;
    UpdateGridEnabled();
}

void TCalibration::SetPoints(int Phase, int Value) {
    if (Started()) return;
    Spin[Index(Phase)] = std::clamp(Value, kCalMinPoints, SpinMax);
}

void TCalibration::SetCellText(size_t Row, size_t Column, std::string Text) {
    if (Started() || Row < 1 || Row >= Cells.size() || Column < 2 || Column >= Cells[Row].size()) return;
    Cells[Row][Column] = std::move(Text);
}

bool TCalibration::NormaliseCell(size_t Row, size_t Column) {
    if (Row < 1 || Row >= Cells.size() || Column < 2 || Column >= Cells[Row].size()) return true;
    const auto text = NormaliseCalCurrent(Cells[Row][Column], Locale);
    if (!text) return false;
    SetCell(Row, Column, *text);
    return true;
}

TCalFile TCalibration::ToFile() const {
    TCalFile file;
    for (size_t p = 0; p < kCalPhaseCount; ++p) {
        file.Phases[p] = Check[p];
        file.Points[p] = static_cast<uint8_t>(Spin[p]);
        file.Texts[p].assign(Cells[p + 1].begin() + 1, Cells[p + 1].end());
    }
    return file;
}

void TCalibration::Apply(const TCalFile& File) {
    if (Started()) return;
    for (size_t p = 0; p < kCalPhaseCount; ++p) {
        SetChecked(static_cast<int>(p), File.Phases[p]);
        SetPoints(static_cast<int>(p), File.Points[p]);
        for (size_t k = 1; k <= File.Texts[p].size() && k < Columns(); ++k)
            SetCell(p + 1, k, File.Texts[p][k - 1]);
    }
}

std::optional<std::string> TCalibration::Start() {
    if (Started()) return std::nullopt;
    if (!Check[0] && !Check[1] && !Check[2]) return std::string(kMsgCalNoPhase);
    for (size_t r = 1; r < Cells.size(); ++r)
        for (size_t c = 2; c < Cells[r].size(); ++c)
            if (!Cells[r][c].empty()) NormaliseCell(r, c);
    std::array<std::vector<float>, kCalPhaseCount> currents;
    for (size_t p = 0; p < kCalPhaseCount; ++p) {
        if (!Check[p]) continue;
        const std::vector<std::string> texts(Cells[p + 1].begin() + 1, Cells[p + 1].end());
        auto read = ReadPhaseCurrents(texts, Spin[p], Locale);
        if (!read) return CalPhaseErrorText(static_cast<int>(p));
        currents[p] = std::move(*read);
    }
    Currents = std::move(currents);
    Plan = BuildCalibrationSchedule(Currents);
    CalStep = 0;
    CalPoint = -1;
    std::string phases;
    size_t chosen = 0;
    for (size_t p = 0; p < kCalPhaseCount; ++p)
        if (Check[p]) {
            phases += std::string(chosen++ ? ", " : "") + kCalPhaseNames[p];
        }
    // The relay has no calibration commands to send: the run is its plan.
    Info = "План калибровки: " + Counted(Plan.size(), "ток", "тока", "токов") +
           (chosen > 1 ? ", фазы " : ", фаза ") + phases + ". Устройству ничего не отправлено.";
    return std::nullopt;
}

TTextGrid TCalibration::PlanGrid() const {
    TTextGrid grid;
    grid.push_back({"Ток, A", "Фаза A", "Фаза B", "Фаза C"});
    for (const TCalScheduleEntry& entry : Plan) {
        TTextRow row = {CurrentText(entry.Current, Locale)};
        for (const int position : entry.Position)
            row.push_back(position < 0 ? "—" : "точка " + std::to_string(position + 1));
        grid.push_back(std::move(row));
    }
    return grid;
}

}  // namespace tovik
