#include "ports/ui/UARTSelectUnit.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "ports/SerialLines.h"

namespace tovik {

void TPortComboBox::showPopup() {
    emit DropDown();
    QComboBox::showPopup();
}

TUARTSelectForm::TUARTSelectForm(QWidget* parent, TPortSource source)
    : QDialog(parent), Source(source ? std::move(source) : TPortSource([] { return ListSerialLines(); })) {
    setObjectName("UARTSelectForm");
    setWindowTitle(QStringLiteral("Выберите UART COM порт ПК"));
    auto* group = new QGroupBox(QStringLiteral("Доступные порты"), this);
    PortCB = new TPortComboBox(group);
    PortCB->setObjectName("PortCB");
    PortCB->setEditable(false);
    PortCB->setMinimumWidth(200);
    (new QVBoxLayout(group))->addWidget(PortCB);

    OKBut = new QPushButton(QStringLiteral("OK"), this);
    OKBut->setObjectName("OKBut");
    OKBut->setDefault(true);
    CancelBut = new QPushButton(QStringLiteral("Отмена"), this);
    CancelBut->setObjectName("CancelBut");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBut);
    buttons->addWidget(CancelBut);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(OKBut, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBut, &QPushButton::clicked, this, &QDialog::reject);
    connect(PortCB, &TPortComboBox::DropDown, this, &TUARTSelectForm::PortCBDropDown);
    connect(PortCB, &QComboBox::activated, this, &TUARTSelectForm::PortCBSelect);
}

void TUARTSelectForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TUARTSelectForm::FormShow() {
    OKBut->setEnabled(false);
    PortCB->clear();
    PortCB->setCurrentIndex(-1);
}

void TUARTSelectForm::PortCBDropDown() {
    PortCB->clear();
    for (const auto& name : Source()) PortCB->addItem(QString::fromStdString(name));
    PortCB->setCurrentIndex(-1);
}

void TUARTSelectForm::PortCBSelect() {
    OKBut->setEnabled(!PortCB->currentText().isEmpty());
}

}  // namespace tovik
