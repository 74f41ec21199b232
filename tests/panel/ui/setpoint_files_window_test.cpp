// The panel's setpoint files, report and current trend in the main window,
// against tovik-sim: save, change, compare and restore on every kind with
// the writes read back from the simulator's request log, the refusals, the
// report's PDF read back as text, and the trend's samples and CSV.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Configuration.h"
#include "app/TovikDevice.h"
#include "app/UartSettingsPort.h"
#include "app/ui/main.h"
#include "base/ui/Messages.h"
#include "panel/SetpointFile.h"
#include "panel/ui/SetpointReportPrint.h"
#include "panel/ui/TovikFrame.h"
#include "panel/ui/TrendWindow.h"
#include "protocol/UstTable.h"
#include "support/PanelApp.h"

namespace tovik {
namespace {

namespace fs = std::filesystem;

using test::TMessageLog;
using test::Until;

// How many requests the simulator has logged.
size_t Logged(const std::string& logPath) {
    std::istringstream in(test::ReadFile(logPath));
    size_t n = 0;
    for (std::string line; std::getline(in, line);) n += !line.empty() && line.back() == '}';
    return n;
}

// Returns once the polling panel's next requests reached the relay: the
// port runs its jobs in order, so whatever was queued before has run too.
bool QueueMovedOn(const std::string& logPath) {
    const size_t mark = Logged(logPath);
    return Until([&] { return Logged(logPath) >= mark + 2; });
}

// The lines of the simulator's request log that change the relay.
std::vector<std::string> Writes(const std::string& logPath) {
    std::vector<std::string> out;
    std::istringstream in(test::ReadFile(logPath));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.back() != '}') continue;
        // Native setpoint writes (6, 35, 37), ModBus writes other than the
        // record selections of the alarm and task reads.
        const bool nativeWrite = line.find("\"command\":6,") != std::string::npos ||
                                 line.find("\"command\":35,") != std::string::npos ||
                                 line.find("\"command\":37,") != std::string::npos ||
                                 line.find("\"command\":1,") != std::string::npos;
        const bool modbusWrite = line.find("\"function\":16") != std::string::npos &&
                                 line.find("\"register\":128,") == std::string::npos &&
                                 line.find("\"register\":304,") == std::string::npos;
        if (nativeWrite || modbusWrite) out.push_back(line);
    }
    return out;
}

// Runs a program and gives its standard output.
std::string RunProgram(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

std::string Collapsed(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\t' || c == '\f' || c == '\r';
        if (space) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

class SetpointFilesWindow : public ::testing::Test, protected test::TPanelApp {
protected:
    void Start(uint8_t kind, uint8_t access) {
        test::TPanelApp::Start(kind, access);
        ASSERT_TRUE(SetpointsRead());
        Frame()->TovikControl->setCurrentIndex(1);
    }

    QTableWidget* Grid() const { return Frame()->TovikUstStringGrid; }

    // Types a value into the "новое" cell of an item and presses Enter; waits
    // for the relay to show it.
    void SetItem(int item, const QString& text, const QString& shown) {
        Grid()->item(item, 4)->setText(text);
        Grid()->setCurrentCell(item, 4);
        QTest::keyClick(Grid(), Qt::Key_Return);
        ASSERT_TRUE(Until([&] { return Grid()->item(item, 3)->text() == shown; }))
            << Grid()->item(item, 3)->text().toStdString();
    }

    std::string Path(const char* name) const { return Dir->Path + "/" + name; }

    void TearDown() override {
        Form.reset();
        QLocale::setDefault(QLocale::system());
    }

    TMessageLog Messages;
};

TEST_F(SetpointFilesWindow, SavedChangedComparedAndRestoredOnEveryKind) {
    for (uint8_t kind = 0; kind < kDeviceKindCount; ++kind) {
        SCOPED_TRACE(int(kind));
        ASSERT_NO_FATAL_FAILURE(Start(kind, 1));
        TTTovikFrame* f = Frame();
        ASSERT_TRUE(f->SaveUstButton->isEnabled());
        const std::string saved = Path("relay.ust");
        // Through the button, the file chosen as a dialog would.
        f->AskPath = [&](TFileQuestion q) {
            EXPECT_EQ(q, TFileQuestion::SaveSetpoints);
            return QString::fromStdString(saved);
        };
        QTest::mouseClick(f->SaveUstButton, Qt::LeftButton);
        const TSetpointFileRead read = LoadSetpointFile(saved);
        ASSERT_TRUE(read.File) << read.Error;
        EXPECT_EQ(read.File->DeviceKind, kind);
        EXPECT_EQ(read.File->Installation, "Насосная 1");
        EXPECT_EQ(read.File->Account, "default");
        ASSERT_EQ(read.File->Items.size(), static_cast<size_t>(Grid()->rowCount()));
        for (int i = 0; i < Grid()->rowCount(); ++i)
            EXPECT_EQ(QString::fromStdString(read.File->Items[static_cast<size_t>(i)].Text),
                      Grid()->item(i, 3)->text())
                << i;
        const QString before = Grid()->item(2, 3)->text();

        // The relay's Inom changes; the compare marks that item only, with both texts.
        ASSERT_NO_FATAL_FAILURE(SetItem(2, "15", "15,0"));
        ASSERT_TRUE(f->CompareWithFileAt(QString::fromStdString(saved)));
        ASSERT_TRUE(f->CompareLabel->isVisible());
        EXPECT_TRUE(f->CompareLabel->text().contains("различаются уставки: 1."))
            << f->CompareLabel->text().toStdString();
        ASSERT_EQ(Grid()->columnCount(), 6);
        EXPECT_EQ(Grid()->horizontalHeaderItem(5)->text(), "в файле");
        EXPECT_EQ(Grid()->horizontalHeader()->visualIndex(5), 4);  // beside "сейчас"
        EXPECT_EQ(Grid()->item(2, 5)->text(), before);
        EXPECT_EQ(Grid()->item(2, 3)->text(), "15,0");
        EXPECT_NE(Grid()->item(2, 3)->background(), Grid()->item(1, 3)->background());
        EXPECT_EQ(Grid()->item(1, 5)->text(), Grid()->item(1, 3)->text());

        // Restored: one write, of that item, then everything matches.
        const size_t writesBefore = Writes(LogPath).size();
        QString asked;
        f->Confirm = [&](const QString& text) {
            asked = text;
            return true;
        };
        f->AskPath = [&](TFileQuestion) { return QString::fromStdString(saved); };
        ASSERT_TRUE(f->RestoreUstButton->isEnabled());
        QTest::mouseClick(f->RestoreUstButton, Qt::LeftButton);
        EXPECT_TRUE(asked.contains("2. номинальный ток нагрузки Inom, A: 15,0 → " + before))
            << asked.toStdString();
        ASSERT_TRUE(Until([&] { return f->Model().Files().LastRestore().has_value(); }));
        const TRestoreReport& report = *f->Model().Files().LastRestore();
        EXPECT_EQ(report.Written, 1);
        EXPECT_TRUE(report.WrittenAllMatch()) << RestoreReportText(report);
        const auto writes = Writes(LogPath);
        ASSERT_EQ(writes.size(), writesBefore + 1);
        const std::string& w = writes.back();
        if (IsModbusKind(kind))
            EXPECT_NE(w.find("\"register\":36,"), std::string::npos) << w;
        else
            EXPECT_NE(w.find("\"params\":[8,4]"), std::string::npos) << w;
        ASSERT_TRUE(Until([&] { return Grid()->item(2, 3)->text() == before; }));
        ASSERT_TRUE(Until([&] { return f->CompareLabel->text().contains("уставки совпадают"); }));
        ASSERT_FALSE(Messages.Items.empty());
        EXPECT_TRUE(Messages.Items.back().startsWith("Записано уставок: 1. Все уставки совпадают с файлом."))
            << Messages.Items.back().toStdString();
        QTest::mouseClick(f->EndCompareButton, Qt::LeftButton);
        EXPECT_EQ(Grid()->columnCount(), 5);
        Messages.Items.clear();
    }
}

TEST_F(SetpointFilesWindow, RestoreRefusals) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikMModbus, 1));
    TTTovikFrame* f = Frame();
    const std::string saved = Path("relay.ust");
    ASSERT_TRUE(f->SaveSetpointsTo(QString::fromStdString(saved)));
    const std::string text = test::ReadFile(saved);
    auto writeVariant = [&](const char* name, const std::string& from, const std::string& to) {
        std::string t = text;
        const size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) t.replace(at, from.size(), to);
        std::ofstream(Path(name), std::ios::binary) << t;
        return QString::fromStdString(Path(name));
    };
    bool asked = false;
    f->Confirm = [&](const QString&) {
        asked = true;
        return true;
    };
    const size_t writesBefore = Writes(LogPath).size();
    // The serial number below the service level, and a current beyond the model's limits: nothing to write.
    {
        const size_t at = text.find("item\t21\t");
        ASSERT_NE(at, std::string::npos);
        const size_t end = text.find('\t', at + 8);
        const std::string line = text.substr(at, end - at + 1);
        const QString path = writeVariant("serial.ust", line, "item\t21\t4242\t");
        EXPECT_FALSE(f->RestoreFromFileAt(path));
    }
    EXPECT_FALSE(asked);
    ASSERT_EQ(Messages.Items.size(), 1u);
    EXPECT_TRUE(Messages.Items[0].startsWith("Ни одна уставка не может быть записана:"))
        << Messages.Items[0].toStdString();
    EXPECT_TRUE(Messages.Items[0].contains("(не записана: только на сервисном уровне доступа)"));
    Messages.Items.clear();
    {
        const size_t at = text.find("item\t0\t");
        const size_t end = text.find('\t', at + 7);
        const QString path = writeVariant("limits.ust", text.substr(at, end - at + 1), "item\t0\t999999\t");
        EXPECT_FALSE(f->RestoreFromFileAt(path));
    }
    ASSERT_EQ(Messages.Items.size(), 1u);
    EXPECT_TRUE(Messages.Items[0].contains("(не записана: значение вне пределов модели устройства)"))
        << Messages.Items[0].toStdString();
    Messages.Items.clear();
    // A file of another kind is refused before anything else.
    {
        const QString path = writeVariant("kind.ust", "kind\t3\tТовикМ ModBus", "kind\t1\tТовик ModBus");
        // The kind's item count no longer fits: a damaged file.
        EXPECT_FALSE(f->RestoreFromFileAt(path));
    }
    ASSERT_EQ(Messages.Items.size(), 1u);
    EXPECT_TRUE(Messages.Items[0].startsWith("Файл уставок не прочитан:")) << Messages.Items[0].toStdString();
    Messages.Items.clear();
    TSetpointFile other = *LoadSetpointFile(saved).File;
    other.DeviceKind = kKindTovikM;
    other.Items.resize(23);
    std::string error;
    ASSERT_TRUE(SaveSetpointFile(Path("other.ust"), other, error)) << error;
    EXPECT_FALSE(f->RestoreFromFileAt(QString::fromStdString(Path("other.ust"))));
    ASSERT_EQ(Messages.Items.size(), 1u);
    EXPECT_TRUE(Messages.Items[0].startsWith("Файл уставок сохранён с устройства другого типа: \"ТовикМ\""))
        << Messages.Items[0].toStdString();
    // Compared, it says so and compares what both have.
    Messages.Items.clear();
    ASSERT_TRUE(f->CompareWithFileAt(QString::fromStdString(Path("other.ust"))));
    ASSERT_EQ(Messages.Items.size(), 1u);
    EXPECT_TRUE(Messages.Items[0].contains("Сравниваются общие уставки."));
    EXPECT_EQ(Grid()->item(24, 5)->text(), "нет в файле");
    EXPECT_FALSE(asked);
    // Declining the question writes nothing either.
    f->Confirm = [](const QString&) { return false; };
    ASSERT_NO_FATAL_FAILURE(SetItem(2, "15", "15,0"));
    EXPECT_FALSE(f->RestoreFromFileAt(QString::fromStdString(saved)));
    ASSERT_TRUE(QueueMovedOn(LogPath));
    EXPECT_EQ(Writes(LogPath).size(), writesBefore + 1);  // the grid's own write only
}

TEST_F(SetpointFilesWindow, ReadOnlyAccessNeverRestores) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovik, 2));
    TTTovikFrame* f = Frame();
    const QString saved = QString::fromStdString(Path("relay.ust"));
    ASSERT_TRUE(f->SaveSetpointsTo(saved));  // saving only reads
    ASSERT_TRUE(f->CompareWithFileAt(saved));
    EXPECT_FALSE(f->RestoreUstButton->isEnabled());
    f->AskPath = [&](TFileQuestion) {
        ADD_FAILURE() << "the restore button has no action";
        return saved;
    };
    QTest::mouseClick(f->RestoreUstButton, Qt::LeftButton);
    EXPECT_FALSE(f->RestoreFromFileAt(saved));
    ASSERT_EQ(Messages.Items.size(), 1u);
    EXPECT_EQ(Messages.Items[0], "Доступ только для чтения: уставки не записаны.");
    ASSERT_TRUE(QueueMovedOn(LogPath));
    EXPECT_TRUE(Writes(LogPath).empty());
}

TEST_F(SetpointFilesWindow, TheReportPdfHoldsTheRelayAndItsSettings) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikMModbus, 1));
    TTTovikFrame* f = Frame();
    const std::string pdf = Path("report.pdf");
    ASSERT_TRUE(f->SaveReportTo(QString::fromStdString(pdf)))
        << (Messages.Items.empty() ? "" : Messages.Items[0].toStdString());
    const std::string text = Collapsed(RunProgram("pdftotext -enc UTF-8 '" + pdf + "' -"));
    ASSERT_FALSE(text.empty()) << "pdftotext (poppler-utils, scripts/setup-deps) found nothing";
    for (const std::string& expected :
         {std::string("Отчёт об уставках"), std::string("Электроустановка: Насосная 1"),
          std::string("Тип устройства: ТовикМ ModBus"), std::string("Номер в магистрали: 1"),
          "Порт: " + Sim->Port(), std::string("Учётная запись: default"), std::string("Функция/наименование"),
          std::string("коэффициент трансформации"), std::string("модель"), std::string("дата изготовления"),
          std::string("НЗК=1; НРК=0")})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    // The value column holds what the grid shows.
    EXPECT_NE(text.find(Grid()->item(2, 3)->text().toStdString()), std::string::npos);

    // A table longer than a page goes on with its header on the next one.
    TSetpointReport longReport = *f->Model().Files().Report();
    for (int i = 0; i < 80; ++i)
        longReport.Table.push_back({std::to_string(25 + i), "строка " + std::to_string(i), "0", "1", "0"});
    QString error;
    const std::string pdf2 = Path("long.pdf");
    ASSERT_TRUE(SaveReportPdf(longReport, QString::fromStdString(pdf2), error)) << error.toStdString();
    const std::string info = RunProgram("pdfinfo '" + pdf2 + "'");
    EXPECT_NE(info.find("Pages:"), std::string::npos);
    EXPECT_EQ(info.find("Pages:          1\n"), std::string::npos) << info;
    const std::string longText = Collapsed(RunProgram("pdftotext -enc UTF-8 '" + pdf2 + "' -"));
    size_t headers = 0;
    for (size_t at = 0; (at = longText.find("Функция/наименование", at)) != std::string::npos; ++at)
        ++headers;
    EXPECT_GE(headers, 2u);
    EXPECT_NE(longText.find("строка 79"), std::string::npos);
    // A file that cannot be written is reported.
    EXPECT_FALSE(SaveReportPdf(longReport, QString::fromStdString(Path("none/x.pdf")), error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(SetpointFilesWindow, TheTrendShowsThePollsAndSavesThemAsCsv) {
    ASSERT_NO_FATAL_FAILURE(Start(kKindTovikModbus, 1));
    TTTovikFrame* f = Frame();
    f->TovikControl->setCurrentIndex(0);
    QTest::mouseClick(f->TrendButton, Qt::LeftButton);
    TTrendWindow* w = f->Trend();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    const size_t start = f->Model().Data().Trend().Size();
    ASSERT_TRUE(Until([&] { return f->Model().Data().Trend().Size() >= start + 3; }));
    w->Refresh();
    EXPECT_GE(w->PointsDrawn(), 3);
    EXPECT_EQ(static_cast<size_t>(w->PointsDrawn()), w->Shown().size());
    // Paused: the view and its CSV stay as they were while samples come in.
    w->SetPaused(true);
    EXPECT_EQ(w->PauseButton->text(), "Продолжить");
    const size_t frozen = w->Shown().size();
    const size_t stored = f->Model().Data().Trend().Size();
    ASSERT_TRUE(Until([&] { return f->Model().Data().Trend().Size() >= stored + 2; }));
    w->Refresh();
    EXPECT_EQ(w->Shown().size(), frozen);
    const std::string csv = Path("trend.csv");
    w->AskCsvPath = [&] { return QString::fromStdString(csv); };
    QTest::mouseClick(w->CsvButton, Qt::LeftButton);
    const std::string text = test::ReadFile(csv);
    ASSERT_EQ(text.rfind("\xEF\xBB\xBFВремя;Ia, А;Ib, А;Ic, А;Di, А\r\n", 0), 0u) << text.substr(0, 80);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    size_t rows = 0;
    while (std::getline(lines, line)) {
        ++rows;
        EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 4) << line;
        // The stopped relay's currents, as numbers with the decimal comma.
        const size_t a = line.find(';');
        const std::string ia = line.substr(a + 1, line.find(';', a + 1) - a - 1);
        EXPECT_EQ(ia, "0,000") << line;
    }
    EXPECT_EQ(rows, frozen);
    w->SetPaused(false);
    EXPECT_GT(w->Shown().size(), frozen);
    // Closed with the panel.
    Form->DevList->setCurrentRow(-1);
    Form.reset();
}

}  // namespace
}  // namespace tovik
