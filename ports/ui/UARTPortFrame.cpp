#include "ports/ui/UARTPortFrame.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QVBoxLayout>

#include "ports/ProtoUART.h"

namespace tovik {

TTUARTPortFrame* CurrentUartFrame = nullptr;

namespace {
constexpr int kEditorMin = 100;
constexpr int kEditorMax = 3600000;

const QString& Description() {
    static const QString text = QStringLiteral(
        "    Последовательный COM порт обмена данными с одним или несколькими устройствами.\n"
        "    Если подключено одно устройство через RS232, то необходимо, чтобы галочка "
        "\"Магистральное подключение устройств\" была снята.\n"
        "    Если устройства подключены в магистраль через RS485, то галочку необходимо поставить.");
    return text;
}
}  // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
    setRange(kEditorMin, kEditorMax);
    setValue(kEditorMin);
    // Every change of the text counts, also one the range does not accept yet.
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::ReportIfChanged);
    ReportedText = text();
}

void TSpinEdit::ShowValue(int value) {
    const QSignalBlocker block(this);
    setValue(std::clamp(value, minimum(), maximum()));
    ReportedText = text();
}

void TSpinEdit::ReportIfChanged() {
    if (text() == ReportedText) return;  // the text it already shows is no change
    ReportedText = text();
    emit TypedValueChanged(TypedValue());
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    // Leaving moves an out-of-range text to its bound; the spin box
    // rewrites its text without signals, so report it here.
    QSpinBox::focusOutEvent(event);
    ReportIfChanged();
}

void TSpinEdit::fixup(QString& input) const {
    bool ok = false;
    const qlonglong v = input.trimmed().toLongLong(&ok);
    if (!ok || v < minimum())
        input = QString::number(minimum());
    else if (v > maximum())
        input = QString::number(maximum());
}

int TSpinEdit::TypedValue() const {
    bool ok = false;
    const qlonglong v = cleanText().trimmed().toLongLong(&ok);
    if (!ok) return minimum();
    return static_cast<int>(std::clamp<qlonglong>(v, INT32_MIN, INT32_MAX));
}

TTUARTPortFrame::TTUARTPortFrame(TProtoUART& port, QWidget* parent) : QWidget(parent), PortRef(port) {
    setObjectName("TUARTPortFrame");
    auto* layout = new QVBoxLayout(this);

    auto* infoGroup = new QGroupBox(QStringLiteral("Описание порта"), this);
    UARTInfoMemo = new QPlainTextEdit(infoGroup);
    UARTInfoMemo->setObjectName("UARTInfoMemo");
    UARTInfoMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    UARTInfoMemo->setPlainText(Description());
    (new QVBoxLayout(infoGroup))->addWidget(UARTInfoMemo);
    layout->addWidget(infoGroup, 1);

    auto* settingsGroup = new QGroupBox(QStringLiteral("Настройки порта"), this);
    UARTBusCheckBox = new QCheckBox(QStringLiteral("Магистральное подключение устройств"), settingsGroup);
    UARTBusCheckBox->setObjectName("UARTBusCheckBox");
    (new QVBoxLayout(settingsGroup))->addWidget(UARTBusCheckBox);
    layout->addWidget(settingsGroup);

    auto editorGroup = [&](const QString& caption, const char* name) {
        auto* g = new QGroupBox(caption, this);
        auto* e = new TSpinEdit(g);
        e->setObjectName(name);
        (new QVBoxLayout(g))->addWidget(e);
        layout->addWidget(g);
        return e;
    };
    SpinEdit1 = editorGroup(QStringLiteral("Время ожидания ответа (мс):"), "SpinEdit1");
    IntervalSE = editorGroup(QStringLiteral("Интервал между запросами (мс):"), "IntervalSE");

    UARTPortStatusBar = new QStatusBar(this);
    UARTPortStatusBar->setObjectName("UARTPortStatusBar");
    UARTPortStatusBar->setSizeGripEnabled(false);
    layout->addWidget(UARTPortStatusBar);

    FillFromPort();
    connect(UARTBusCheckBox, &QCheckBox::clicked, this, &TTUARTPortFrame::UARTBusCheckBoxClick);
    connect(SpinEdit1, &TSpinEdit::TypedValueChanged, this, &TTUARTPortFrame::SpinEdit1Change);
    connect(IntervalSE, &TSpinEdit::TypedValueChanged, this, &TTUARTPortFrame::IntervalSEChange);
}

TTUARTPortFrame::~TTUARTPortFrame() {
    if (CurrentUartFrame == this) CurrentUartFrame = nullptr;
}

void TTUARTPortFrame::FillFromPort() {
    // Filling shows the port's values; it is not an edit, so nothing is
    // written back (a new port keeps 0 although the editors show 100).
    const QSignalBlocker block(UARTBusCheckBox);
    UARTBusCheckBox->setChecked(PortRef.Bus.load());
    SpinEdit1->ShowValue(PortRef.ReplyTimeout.load());
    IntervalSE->ShowValue(PortRef.RequestInterval.load());
    // A line that did not open says why; what to do (the whole reason) in the tooltip.
    const QString reason =
        PortRef.IsOpen() ? QString() : QString::fromStdString(OpenErrorText(PortRef.LastOpenError()));
    UARTPortStatusBar->showMessage(PortRef.IsOpen() ? QStringLiteral("Порт открыт.")
                                                    : QStringLiteral("Ошибка окрытия порта. ") +
                                                          reason.section('\n', 0, 0));
    UARTPortStatusBar->setToolTip(reason);
}

void TTUARTPortFrame::UARTBusCheckBoxClick() {
    PortRef.Bus = UARTBusCheckBox->isChecked();
    emit SettingsChanged();
}

void TTUARTPortFrame::SpinEdit1Change(int value) {
    PortRef.ReplyTimeout = value;
    emit SettingsChanged();
}

void TTUARTPortFrame::IntervalSEChange(int value) {
    PortRef.RequestInterval = value;
    emit SettingsChanged();
}

void ShowSettings(TProtoPort& port, QWidget* parent) {
    HideSettings();
    auto* uart = dynamic_cast<TProtoUART*>(&port);
    if (!uart || !parent) return;
    CurrentUartFrame = new TTUARTPortFrame(*uart, parent);
    if (parent->layout()) parent->layout()->addWidget(CurrentUartFrame);
    CurrentUartFrame->show();
}

void HideSettings() {
    if (!CurrentUartFrame) return;
    TTUARTPortFrame* frame = CurrentUartFrame;
    CurrentUartFrame = nullptr;
    delete frame;
}

}  // namespace tovik
