// The panel window's setpoint files (save, compare, restore), the report
// and the current trend: the buttons, their files and questions, and the
// compare column of the setpoint grid.
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>

#include "app/TovikDevice.h"
#include "base/ui/Messages.h"
#include "panel/SettingsView.h"
#include "panel/ui/SetpointReportPrint.h"
#include "panel/ui/TovikFrame.h"
#include "panel/ui/TrendWindow.h"
#include "protocol/UstTable.h"

namespace tovik {

namespace {

constexpr int kFileColumn = 5;
const QColor kDiffers(255, 205, 205);

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QPushButton* MakeButton(const char* name, const char* caption, QWidget* parent) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    b->setEnabled(false);
    return b;
}

QString AskWithDialog(QWidget* parent, TFileQuestion question) {
    const QString filter = QString::fromUtf8(kSetpointFileFilter);
    switch (question) {
        case TFileQuestion::SaveSetpoints: {
            QString path =
                QFileDialog::getSaveFileName(parent, "Сохранить уставки в файл", QString(), filter);
            if (!path.isEmpty() && !path.contains('.')) path += kSetpointFileSuffix;
            return path;
        }
        case TFileQuestion::CompareSetpoints:
            return QFileDialog::getOpenFileName(parent, "Сравнить с файлом", QString(), filter);
        case TFileQuestion::RestoreSetpoints:
            return QFileDialog::getOpenFileName(parent, "Записать из файла", QString(), filter);
        case TFileQuestion::SaveReportPdf: {
            QString path =
                QFileDialog::getSaveFileName(parent, "Отчёт об уставках", QString(), "PDF (*.pdf)");
            if (!path.isEmpty() && !path.contains('.')) path += ".pdf";
            return path;
        }
    }
    return {};
}

std::optional<TSetpointFile> Load(QWidget* parent, const QString& path) {
    const TSetpointFileRead read = LoadSetpointFile(path.toStdString());
    if (!read.File) ShowMessage(parent, "Файл уставок не прочитан: " + Q(read.Error), TMessageKind::Error);
    return read.File;
}

}  // namespace

void TTTovikFrame::BuildSetpointFileButtons(QWidget* parent, QBoxLayout* into) {
    auto* row = new QHBoxLayout;
    SaveUstButton = MakeButton("SaveUstButton", "Сохранить уставки в файл...", parent);
    CompareUstButton = MakeButton("CompareUstButton", "Сравнить с файлом...", parent);
    RestoreUstButton = MakeButton("RestoreUstButton", "Записать из файла...", parent);
    ReportUstButton = MakeButton("ReportUstButton", "Отчёт об уставках...", parent);
    EndCompareButton = MakeButton("EndCompareButton", "Закончить сравнение", parent);
    EndCompareButton->hide();
    for (QPushButton* b :
         {SaveUstButton, CompareUstButton, RestoreUstButton, ReportUstButton, EndCompareButton})
        row->addWidget(b);
    row->addStretch();
    into->addLayout(row);
    CompareLabel = new QLabel(parent);
    CompareLabel->setObjectName("CompareLabel");
    CompareLabel->setWordWrap(true);
    CompareLabel->hide();
    into->addWidget(CompareLabel);

    AskPath = [this](TFileQuestion q) { return AskWithDialog(this, q); };
    Confirm = [this](const QString& text) {
        return QMessageBox::question(this, "Записать из файла", text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    auto ask = [this](TFileQuestion q, bool (TTTovikFrame::*then)(const QString&)) {
        const QString path = AskPath ? AskPath(q) : QString();
        if (!path.isEmpty()) (this->*then)(path);
        Redraw();
    };
    connect(SaveUstButton, &QPushButton::clicked, this,
            [=] { ask(TFileQuestion::SaveSetpoints, &TTTovikFrame::SaveSetpointsTo); });
    connect(CompareUstButton, &QPushButton::clicked, this,
            [=] { ask(TFileQuestion::CompareSetpoints, &TTTovikFrame::CompareWithFileAt); });
    connect(EndCompareButton, &QPushButton::clicked, this, [this] {
        Panel->Files().EndCompare();
        Redraw();
    });
    auto* menu = new QMenu(ReportUstButton);
    menu->addAction("Печать...", this, [this] { PrintReportWithDialog(); });
    menu->addAction("Сохранить в PDF...", this,
                    [=] { ask(TFileQuestion::SaveReportPdf, &TTTovikFrame::SaveReportTo); });
    ReportUstButton->setMenu(menu);
    // Read-only access never writes: the button has no action at all.
    if (Panel->Access() != TPanelAccess::ReadOnly)
        connect(RestoreUstButton, &QPushButton::clicked, this,
                [=] { ask(TFileQuestion::RestoreSetpoints, &TTTovikFrame::RestoreFromFileAt); });
}

void TTTovikFrame::BuildTrendButton(QWidget* parent, QGridLayout* into) {
    TrendButton = new QPushButton("Тренд токов...", parent);
    TrendButton->setObjectName("TrendButton");
    into->addWidget(TrendButton, into->rowCount(), 0, 1, into->columnCount(), Qt::AlignLeft);
    connect(TrendButton, &QPushButton::clicked, this, [this] { ShowTrend(); });
}

bool TTTovikFrame::SaveSetpointsTo(const QString& path) {
    const auto file = Panel->Files().FileNow();
    if (!file) {
        ShowMessage(this, "Уставки устройства ещё не прочитаны.", TMessageKind::Error);
        return false;
    }
    std::string error;
    if (!SaveSetpointFile(path.toStdString(), *file, error)) {
        ShowMessage(this, "Файл уставок не записан: " + Q(error), TMessageKind::Error);
        return false;
    }
    return true;
}

bool TTTovikFrame::CompareWithFileAt(const QString& path) {
    const auto file = Load(this, path);
    if (!file) return false;
    if (!Panel->Files().RelaySetpoints()) {
        ShowMessage(this, "Уставки устройства ещё не прочитаны.", TMessageKind::Error);
        return false;
    }
    const TSetpointComparison* c = Panel->Files().Compare(*file);
    if (c && !c->Notice.empty()) ShowMessage(this, Q(c->Notice), TMessageKind::Plain);
    CompareLabel->setProperty("file", QFileInfo(path).fileName());
    Redraw();
    return true;
}

bool TTTovikFrame::RestoreFromFileAt(const QString& path) {
    const auto file = Load(this, path);
    if (!file) return false;
    const TRestorePlan plan = Panel->Files().PlanRestore(*file);
    if (!plan.Refusal.empty()) {
        ShowMessage(this, Q(plan.Refusal), TMessageKind::Error);
        return false;
    }
    QString writes, kept;
    for (const TRestoreItem& i : plan.Items) {
        if (i.Action == TRestoreAction::Equal) continue;
        const QString line = QString::number(i.Item) + ". " + Q(UstCellName(i.Item)) + ": " + Q(i.RelayText) +
                             " → " + Q(i.FileText);
        if (i.Action == TRestoreAction::Write)
            writes += line + "\n";
        else
            kept += line + " (" + Q(RestoreActionText(i.Action)) + ")\n";
    }
    if (writes.isEmpty()) {
        ShowMessage(this,
                    kept.isEmpty() ? QString("Уставки устройства уже совпадают с файлом: ничего не записано.")
                                   : "Ни одна уставка не может быть записана:\n" + kept,
                    TMessageKind::Plain);
        return false;
    }
    QString question;
    if (file->ModelByte != Panel->Data().View().ModelByte())
        question = "Файл сохранён с устройства другой модели (" +
                   Q(ModelName(file->ModelByte, file->DeviceKind)) +
                   "). Значения проверены по пределам модели этого устройства.\n\n";
    question += "Записать в устройство уставки из файла?\n" + writes;
    if (!kept.isEmpty()) question += "\nНе будут записаны:\n" + kept;
    if (!Confirm || !Confirm(question)) return false;
    const TIntentResult started = Panel->Files().Restore(*file);
    Acted(started);
    return !started.Refused() && started.State != TIntentState::Failed;
}

bool TTTovikFrame::SaveReportTo(const QString& path) {
    const auto report = Panel->Files().Report();
    if (!report) {
        ShowMessage(this, "Уставки устройства ещё не прочитаны.", TMessageKind::Error);
        return false;
    }
    QString error;
    if (!SaveReportPdf(*report, path, error)) {
        ShowMessage(this, "Отчёт не записан: " + error, TMessageKind::Error);
        return false;
    }
    return true;
}

void TTTovikFrame::PrintReportWithDialog() {
    const auto report = Panel->Files().Report();
    if (!report) return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(Q(report->Title));
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(Q(report->Title));
    if (dialog.exec() == QDialog::Accepted) PrintReport(*report, printer);
}

TTrendWindow* TTTovikFrame::ShowTrend() {
    if (!TrendWin) {
        const TTovikDevice* device = Panel->Device();
        const QString title = "Тренд токов — " + Q(device ? device->InstallationName : std::string());
        TrendWin = new TTrendWindow(Panel->Data().Trend(), PanelLocaleFormat(), title, this);
        TrendWin->setAttribute(Qt::WA_DeleteOnClose);
    }
    TrendWin->show();
    TrendWin->raise();
    TrendWin->activateWindow();
    return TrendWin;
}

void TTTovikFrame::RedrawSetpointFiles() {
    const TSetpointFiles& files = Panel->Files();
    SaveUstButton->setEnabled(files.Ready());
    CompareUstButton->setEnabled(files.Ready());
    ReportUstButton->setEnabled(files.Ready());
    RestoreUstButton->setEnabled(files.RestoreReady());
    const uint32_t gridRev = Panel->Settings().GridRevision();
    if (files.Revision() == DrawnFileRev && gridRev == DrawnFileGridRev) return;
    DrawnFileRev = files.Revision();
    DrawnFileGridRev = gridRev;

    QTableWidget* grid = TovikUstStringGrid;
    const auto& compared = files.Comparison();
    EndCompareButton->setVisible(compared.has_value());
    EndCompareButton->setEnabled(compared.has_value());
    CompareLabel->setVisible(compared.has_value());
    const QBrush fixed = palette().brush(QPalette::Button);
    if (!compared) {
        if (grid->columnCount() > kFileColumn) {
            grid->setColumnCount(kFileColumn);
            FitGridColumns();
        }
        for (int r = 0; r < grid->rowCount(); ++r)
            if (QTableWidgetItem* item = grid->item(r, 3)) item->setBackground(fixed);
        return;
    }
    if (grid->columnCount() <= kFileColumn) {
        grid->setColumnCount(kFileColumn + 1);
        grid->setHorizontalHeaderItem(kFileColumn, new QTableWidgetItem("в файле"));
        // Beside "сейчас", before "новое", which stays last.
        grid->horizontalHeader()->moveSection(grid->horizontalHeader()->visualIndex(kFileColumn), 4);
    }
    for (int r = 0; r < grid->rowCount(); ++r) {
        const TSetpointDiff* d = static_cast<size_t>(r) < compared->Items.size()
                                     ? &compared->Items[static_cast<size_t>(r)]
                                     : nullptr;
        QTableWidgetItem* file = grid->item(r, kFileColumn);
        if (!file) {
            file = new QTableWidgetItem;
            file->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            grid->setItem(r, kFileColumn, file);
        }
        file->setText(d ? (d->InFile ? Q(d->FileText) : QString("нет в файле")) : QString());
        const bool differs = d && d->Differs;
        file->setBackground(differs ? QBrush(kDiffers) : fixed);
        if (QTableWidgetItem* now = grid->item(r, 3)) now->setBackground(differs ? QBrush(kDiffers) : fixed);
    }
    grid->resizeColumnToContents(kFileColumn);
    FitGridColumns();
    const QString name = CompareLabel->property("file").toString();
    QString text =
        "Сравнение с файлом " + name + ": " +
        (compared->Differing() == 0 ? QString("уставки совпадают.")
                                    : "различаются уставки: " + QString::number(compared->Differing()) + ".");
    if (!compared->Notice.empty()) text += " " + Q(compared->Notice);
    CompareLabel->setText(text);
}

}  // namespace tovik
