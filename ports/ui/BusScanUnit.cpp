#include "ports/ui/BusScanUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/TovikDevice.h"
#include "base/ui/Messages.h"
#include "ports/ProtoPortList.h"
#include "protocol/Codecs.h"

namespace tovik {

namespace {

constexpr int kTimerMs = 20;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString CrLfToLines(const std::string& s) {
    QString t = Q(s);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t.trimmed();
}

}  // namespace

TBusScanForm::TBusScanForm(TProtoPortList& ports, TScanHost host, QWidget* parent)
    : QDialog(parent), Ports(ports), Host(std::move(host)) {
    setObjectName("BusScanForm");
    setWindowTitle(QStringLiteral("Поиск устройств"));
    setMinimumSize(640, 420);

    auto* params = new QGroupBox(QStringLiteral("Параметры поиска"), this);
    ScanPortCB = new QComboBox(params);
    ScanPortCB->setObjectName("ScanPortCB");
    ScanPortCB->setMinimumWidth(140);
    FromSE = new QSpinBox(params);
    FromSE->setObjectName("FromSE");
    FromSE->setRange(kMinBusAddress, kMaxBusAddress);
    FromSE->setValue(kMinBusAddress);
    ToSE = new QSpinBox(params);
    ToSE->setObjectName("ToSE");
    ToSE->setRange(kMinBusAddress, kMaxBusAddress);
    ToSE->setValue(kMaxBusAddress);
    NativeCheckBox = new QCheckBox(QStringLiteral("Товик (собственный протокол)"), params);
    NativeCheckBox->setObjectName("NativeCheckBox");
    NativeCheckBox->setChecked(true);
    ModbusCheckBox = new QCheckBox(QStringLiteral("ModBus RTU"), params);
    ModbusCheckBox->setObjectName("ModbusCheckBox");
    ModbusCheckBox->setChecked(true);
    TimeoutSE = new QSpinBox(params);
    TimeoutSE->setObjectName("TimeoutSE");
    TimeoutSE->setRange(kScanMinTimeoutMs, kScanMaxTimeoutMs);
    TimeoutSE->setValue(kScanDefaultTimeoutMs);

    auto* range = new QHBoxLayout;
    range->addWidget(new QLabel(QStringLiteral("с"), params));
    range->addWidget(FromSE);
    range->addWidget(new QLabel(QStringLiteral("по"), params));
    range->addWidget(ToSE);
    range->addStretch();
    auto* formats = new QHBoxLayout;
    formats->addWidget(NativeCheckBox);
    formats->addWidget(ModbusCheckBox);
    formats->addStretch();
    auto* form = new QFormLayout(params);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->addRow(QStringLiteral("Порт:"), ScanPortCB);
    form->addRow(QStringLiteral("Номера устройств:"), range);
    form->addRow(QStringLiteral("Протоколы:"), formats);
    form->addRow(QStringLiteral("Время ожидания ответа (мс):"), TimeoutSE);

    StartBtn = new QPushButton(QStringLiteral("Начать"), this);
    StartBtn->setObjectName("StartBtn");
    StartBtn->setDefault(true);
    StopBtn = new QPushButton(QStringLiteral("Остановить"), this);
    StopBtn->setObjectName("StopBtn");
    StopBtn->setEnabled(false);
    ScanProgressBar = new QProgressBar(this);
    ScanProgressBar->setObjectName("ScanProgressBar");
    ScanProgressBar->setRange(0, 1);
    ScanProgressBar->setValue(0);
    ScanStatusLabel = new QLabel(this);
    ScanStatusLabel->setObjectName("ScanStatusLabel");
    auto* run = new QHBoxLayout;
    run->addWidget(StartBtn);
    run->addWidget(StopBtn);
    run->addWidget(ScanProgressBar, 1);

    FoundGrid = new QTableWidget(0, ColumnCount, this);
    FoundGrid->setObjectName("FoundGrid");
    FoundGrid->setHorizontalHeaderLabels({QStringLiteral("Добавить"), QStringLiteral("Номер"),
                                          QStringLiteral("Протокол"), QStringLiteral("Модель"),
                                          QStringLiteral("Тип устройства"), QStringLiteral("Примечание")});
    FoundGrid->verticalHeader()->hide();
    FoundGrid->setSelectionMode(QAbstractItemView::NoSelection);
    FoundGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const int widths[] = {70, 55, 150, 120, 140};
    for (int c = 0; c < ColNotes; ++c) FoundGrid->setColumnWidth(c, widths[c]);
    FoundGrid->horizontalHeader()->setStretchLastSection(true);

    AddDevicesBtn = new QPushButton(QStringLiteral("Добавить выбранные"), this);
    AddDevicesBtn->setObjectName("AddDevicesBtn");
    AddDevicesBtn->setEnabled(false);
    CloseBtn = new QPushButton(QStringLiteral("Закрыть"), this);
    CloseBtn->setObjectName("CloseBtn");
    CloseBtn->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AddDevicesBtn);
    buttons->addWidget(CloseBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(params);
    layout->addLayout(run);
    layout->addWidget(ScanStatusLabel);
    layout->addWidget(FoundGrid, 1);
    layout->addLayout(buttons);

    ScanTimer = new QTimer(this);
    ScanTimer->setObjectName("ScanTimer");
    ScanTimer->setInterval(kTimerMs);
    connect(ScanTimer, &QTimer::timeout, this, &TBusScanForm::ScanTimerTimer);
    connect(StartBtn, &QPushButton::clicked, this, &TBusScanForm::StartBtnClick);
    connect(StopBtn, &QPushButton::clicked, this, &TBusScanForm::StopBtnClick);
    connect(AddDevicesBtn, &QPushButton::clicked, this, &TBusScanForm::AddDevicesBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &QDialog::reject);
    FillPorts();
}

TBusScanForm::~TBusScanForm() = default;

void TBusScanForm::FillPorts(const TProtoPort* port) {
    ScanPortCB->clear();
    int chosen = 0;
    for (int i = 0; i < Ports.Count(); ++i) {
        ScanPortCB->addItem(Q(Ports.Items(i)->Name));
        if (Ports.Items(i) == port) chosen = i;
    }
    ScanPortCB->setCurrentIndex(Ports.Count() ? chosen : -1);
    MarkListed();
}

TProtoPort* TBusScanForm::ChosenPort() const {
    const int i = ScanPortCB->currentIndex();
    // The choice lists the ports in list order; a port deleted since is not taken.
    if (i < 0 || i >= Ports.Count() || Q(Ports.Items(i)->Name) != ScanPortCB->currentText()) return nullptr;
    return Ports.Items(i);
}

void TBusScanForm::StartBtnClick() {
    if (ScanJob && ScanJob->Running()) return;
    TProtoPort* port = ChosenPort();
    if (!port) {
        ShowMessage(this, QStringLiteral("Необходимо выбрать порт."));
        return;
    }
    TScanOptions options;
    options.From = FromSE->value();
    options.To = ToSE->value();
    options.Native = NativeCheckBox->isChecked();
    options.Modbus = ModbusCheckBox->isChecked();
    options.TimeoutMs = TimeoutSE->value();
    const std::string wrong = CheckScanOptions(options);
    if (!wrong.empty()) {
        ShowMessage(this, QStringLiteral("Поиск невозможен: ") + Q(wrong) + QStringLiteral("."));
        return;
    }
    ScanJob.reset();  // the previous scan has ended; its rows go with it
    Rows.clear();
    FoundGrid->setRowCount(0);
    ScanPortId = port->Id;
    ScanJob = std::make_unique<TBusScan>(*port, options);
    if (!ScanJob->Start()) {
        ScanJob.reset();
        return;
    }
    ScanProgressBar->setRange(0, ScanJob->Progress().Total);
    ScanProgressBar->setValue(0);
    ShowRunning(true);
    ScanTimer->start();
    ScanTimerTimer();
}

void TBusScanForm::StopBtnClick() {
    if (!ScanJob || !ScanJob->Running()) return;
    ScanJob->Cancel();
    ShowEnd();
}

void TBusScanForm::ScanTimerTimer() {
    if (!ScanJob) return;
    const bool running = ScanJob->Pump();
    const TScanProgress p = ScanJob->Progress();
    ScanProgressBar->setValue(p.Done);
    ShowFindings();
    if (running) {
        ScanStatusLabel->setText(QStringLiteral("Опрос номера %1, найдено устройств: %2")
                                     .arg(p.Address ? p.Address : ScanJob->Options().From)
                                     .arg(ScanJob->AnsweredCount()));
        return;
    }
    ShowEnd();
}

void TBusScanForm::ShowEnd() {
    ScanTimer->stop();
    ShowFindings();
    ShowRunning(false);
    if (!ScanJob) return;
    const TScanProgress p = ScanJob->Progress();
    const int found = ScanJob->AnsweredCount();
    QString text;
    if (p.Done > 0 && p.NotSent == p.Done)
        text = QStringLiteral("Порт не открыт: запросы не переданы.");
    else if (ScanJob->Cancelled())
        text = QStringLiteral("Поиск остановлен. Найдено устройств: %1.").arg(found);
    else if (found == 0)
        text = QStringLiteral("Устройства не найдены.");
    else
        text = QStringLiteral("Найдено устройств: %1.").arg(found);
    ScanStatusLabel->setText(text);
}

void TBusScanForm::ShowRunning(bool running) {
    StartBtn->setEnabled(!running);
    StopBtn->setEnabled(running);
    for (QWidget* w :
         std::initializer_list<QWidget*>{ScanPortCB, FromSE, ToSE, NativeCheckBox, ModbusCheckBox, TimeoutSE})
        w->setEnabled(!running);
    const bool any =
        std::any_of(Rows.begin(), Rows.end(), [](const TScanFinding& f) { return f.Answered(); });
    AddDevicesBtn->setEnabled(!running && any);
}

// Rows follow the findings by bus number; what the user chose in a row
// (to add or not, the kind) stays as the scan goes on.
void TBusScanForm::ShowFindings() {
    if (!ScanJob) return;
    const std::vector<TScanFinding> now = ScanJob->Findings();
    for (const TScanFinding& f : now) {
        auto at = std::lower_bound(Rows.begin(), Rows.end(), f.Address,
                                   [](const TScanFinding& r, uint8_t a) { return r.Address < a; });
        const int row = static_cast<int>(at - Rows.begin());
        const bool added = at == Rows.end() || at->Address != f.Address;
        TScanFinding before;
        if (added) {
            Rows.insert(at, f);
            FoundGrid->insertRow(row);
            auto* check = new QTableWidgetItem;
            check->setFlags(Qt::ItemIsEnabled);
            check->setCheckState(Qt::Unchecked);
            FoundGrid->setItem(row, ColAdd, check);
            for (int c : {ColBus, ColFormat, ColModel, ColNotes})
                FoundGrid->setItem(row, c, new QTableWidgetItem);
            auto* kind = new QComboBox(FoundGrid);
            for (uint8_t k = 0; k < kDeviceKindCount; ++k)
                kind->addItem(QString::fromUtf8(DeviceKindName(k)));
            kind->setEnabled(false);
            FoundGrid->setCellWidget(row, ColKind, kind);
        } else {
            before = *at;
            if (before.Answered() == f.Answered() && before.Flags == f.Flags &&
                before.ModelByte == f.ModelByte && before.HasModel == f.HasModel &&
                before.ProposedKind == f.ProposedKind)
                continue;
            *at = f;
        }
        FoundGrid->item(row, ColBus)->setText(QString::number(f.Address));
        FoundGrid->item(row, ColFormat)->setText(Q(FindingFormatText(f)));
        QTableWidgetItem* model = FoundGrid->item(row, ColModel);
        model->setText(Q(FindingModelText(f)));
        model->setToolTip(f.HasModel ? CrLfToLines(ModelDescription(f.ModelByte, f.ProposedKind))
                                     : QString());
        auto* kind = static_cast<QComboBox*>(FoundGrid->cellWidget(row, ColKind));
        // The proposal changes with what the scan learns, unless the user
        // has chosen otherwise.
        if (added || kind->currentIndex() == before.ProposedKind) kind->setCurrentIndex(f.ProposedKind);
        kind->setEnabled(f.Answered());
        QTableWidgetItem* check = FoundGrid->item(row, ColAdd);
        if (f.Answered() && !(check->flags() & Qt::ItemIsUserCheckable)) {
            check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            check->setCheckState(Qt::Checked);
        }
    }
    MarkListed();
}

// A relay the device list holds is marked, and not offered for adding
// unless the user asks for it. The marks follow the list: a device deleted
// since the search makes its relay unmarked again.
void TBusScanForm::MarkListed() {
    for (int row = 0; row < static_cast<int>(Rows.size()); ++row) {
        const TScanFinding& f = Rows[static_cast<size_t>(row)];
        const QString notes = Q(FindingNotesText(f));
        const bool listed = f.Answered() && Host.IsListed && Host.IsListed(ScanPortId, f.Address);
        QTableWidgetItem* cell = FoundGrid->item(row, ColNotes);
        const QString mark = QStringLiteral("уже в списке");
        const bool wasListed = cell->text().startsWith(mark);
        cell->setText(!listed ? notes : notes.isEmpty() ? mark : mark + QStringLiteral("; ") + notes);
        if (listed && !wasListed) FoundGrid->item(row, ColAdd)->setCheckState(Qt::Unchecked);
    }
}

void TBusScanForm::AddDevicesBtnClick() {
    if (!Host.AddDevice || (ScanJob && ScanJob->Running())) return;
    // The port may have gone while the dialog was open in another way.
    if (!Ports.FindById(ScanPortId)) {
        ShowMessage(this, QStringLiteral("Порт поиска удалён: устройства не добавлены."));
        return;
    }
    int added = 0;
    for (int row = 0; row < static_cast<int>(Rows.size()); ++row) {
        const TScanFinding& f = Rows[static_cast<size_t>(row)];
        QTableWidgetItem* check = FoundGrid->item(row, ColAdd);
        if (!f.Answered() || check->checkState() != Qt::Checked) continue;
        const auto* kind = static_cast<QComboBox*>(FoundGrid->cellWidget(row, ColKind));
        Host.AddDevice(static_cast<uint8_t>(kind->currentIndex()), ScanPortId, f.Address);
        check->setCheckState(Qt::Unchecked);
        ++added;
    }
    MarkListed();
    ScanStatusLabel->setText(QStringLiteral("Добавлено устройств: %1.").arg(added));
}

void TBusScanForm::StopScan() {
    if (ScanJob && ScanJob->Running()) {
        ScanJob->Cancel();
        ShowEnd();
    }
    ScanTimer->stop();
    ScanJob.reset();
}

void TBusScanForm::done(int result) {
    // Closing the dialog ends its scan: nothing of it stays on the line.
    if (ScanJob && ScanJob->Running()) {
        ScanJob->Cancel();
        ShowEnd();
    }
    ScanTimer->stop();
    QDialog::done(result);
}

}  // namespace tovik
