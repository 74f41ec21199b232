#include "panel/ui/AlarmLogPage.h"

#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/ui/Messages.h"
#include "panel/AlarmJournal.h"
#include "panel/ui/PanelDialogs.h"
#include "panel/ui/TovikFrame.h"

namespace tovik {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

TAlarmLogPage::TAlarmLogPage(QWidget* page, TTovikPanel& model,
                             std::array<QPushButton*, kButtonCount>& buttons,
                             std::function<void(const TIntentResult&)> acted)
    : QObject(page), Model(model), Acted(std::move(acted)) {
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);

    AvariesSG = new QTableWidget(page);
    AvariesSG->setObjectName("AvariesSG");
    AvariesSG->setColumnCount(static_cast<int>(kAlarmGridHeader.size()));
    AvariesSG->verticalHeader()->hide();
    AvariesSG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AvariesSG->setSelectionMode(QAbstractItemView::ContiguousSelection);
    AvariesSG->setWordWrap(false);
    AvariesSG->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics metrics(AvariesSG->font());
    AvariesSG->verticalHeader()->setDefaultSectionSize(std::max(16, metrics.height() + 5));
    // The grid's widths, or what the time stamp and a cause need in this font.
    const int stamp = metrics.horizontalAdvance(QStringLiteral("31.12.2099 23:59:59")) + 12;
    const int cause = metrics.horizontalAdvance(QStringLiteral("Превышение максимального тока")) + 12;
    AvariesSG->setColumnWidth(0, std::max(kAlarmColumnPixels[0], stamp));
    AvariesSG->setColumnWidth(1, std::max(kAlarmColumnPixels[1], cause));
    AvariesSG->setColumnWidth(2, kAlarmColumnPixels[2]);
    layout->addWidget(AvariesSG, 1);

    auto* column = new QVBoxLayout;
    auto makeButton = [&](TPanelButton b) { return MakePanelButton(b, page, column, buttons); };
    QPushButton* clear = makeButton(BtnAlarmClear);
    column->addSpacing(12);
    QPushButton* excel = makeButton(BtnAlarmExcel);
    QPushButton* save = makeButton(BtnAlarmSave);
    column->addStretch();
    layout->addLayout(column);

    if (Model.Access() == TPanelAccess::ReadOnly) return;
    connect(clear, &QPushButton::clicked, this, &TAlarmLogPage::ClearAVbtnClick);
    connect(excel, &QPushButton::clicked, this, &TAlarmLogPage::sendExcelBtnClick);
    connect(save, &QPushButton::clicked, this, &TAlarmLogPage::saveAVListBtnClick);
}

void TAlarmLogPage::ClearAVbtnClick() {
    Acted(Model.Alarms().Clear());
}

QString TAlarmLogPage::SuggestedName(const char* suffix) const {
    QString name = QString::fromUtf8(kAlarmSheetTitle);
    if (const TTovikDevice* device = Model.Device(); device && !device->InstallationName.empty())
        name += QStringLiteral(" ") + Q(device->InstallationName);
    name += QStringLiteral(" ") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    return FileNameOf(name) + QStringLiteral(".") + QString::fromLatin1(suffix);
}

void TAlarmLogPage::saveAVListBtnClick() {
    const QString path = AskFileName(AvariesSG->window(), TFileDialogKind::AlarmText, SuggestedName("txt"));
    Acted(path.isEmpty() ? IntentDone() : Model.Alarms().SaveText(path.toStdString()));
}

void TAlarmLogPage::sendExcelBtnClick() {
    // The workbook is a file on this platform: the operator says where it
    // goes, and the desktop's spreadsheet program opens it from there.
    const QString path = AskFileName(AvariesSG->window(), TFileDialogKind::AlarmSheet, SuggestedName("xlsx"));
    if (path.isEmpty()) return Acted(IntentDone());
    const TIntentResult written = Model.Alarms().ExportWorkbook(path.toStdString());
    if (written.State == TIntentState::Done && !OpenWithDesktop(path))
        ShowMessage(AvariesSG, QString::fromStdString(ExcelNotOpenedText(path.toStdString())),
                    TMessageKind::Plain);
    Acted(written);
}

void TAlarmLogPage::Redraw() {
    const TTextGrid& grid = Model.Alarms().Grid();
    const int rows = std::max(static_cast<int>(grid.size()) - 1, 0);
    AvariesSG->setRowCount(rows);
    if (!grid.empty()) {
        QStringList header;
        for (const std::string& h : grid[0]) header << Q(h);
        AvariesSG->setHorizontalHeaderLabels(header);
    }
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < AvariesSG->columnCount(); ++c) {
            const auto& row = grid[static_cast<size_t>(r) + 1];
            const QString text =
                static_cast<size_t>(c) < row.size() ? Q(row[static_cast<size_t>(c)]) : QString();
            QTableWidgetItem* item = AvariesSG->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                AvariesSG->setItem(r, c, item);
            }
            if (item->text() != text) item->setText(text);
        }
}

}  // namespace tovik
