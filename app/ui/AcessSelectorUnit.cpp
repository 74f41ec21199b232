#include "app/ui/AcessSelectorUnit.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace tovik {

TAcessSelectForm::TAcessSelectForm(QWidget* parent) : QDialog(parent) {
    setObjectName("AcessSelectForm");
    setWindowTitle(QStringLiteral("Выберите тип пользователя"));
    AcessTypeComboBox = new QComboBox(this);
    AcessTypeComboBox->setObjectName("AcessTypeComboBox");
    AcessTypeComboBox->setEditable(false);
    AcessTypeComboBox->addItem(QStringLiteral("Полный доступ"));
    AcessTypeComboBox->addItem(QStringLiteral("Только чтение"));
    OkButton = new QPushButton(QStringLiteral("ОК"), this);
    OkButton->setObjectName("OkButton");
    CancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    CancelButton->setObjectName("CancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(AcessTypeComboBox);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(AcessTypeComboBox, &QComboBox::currentIndexChanged, this, &TAcessSelectForm::SelectionChanged);
}

void TAcessSelectForm::showEvent(QShowEvent* event) {
    {
        const QSignalBlocker block(AcessTypeComboBox);
        AcessTypeComboBox->setCurrentIndex(-1);
    }
    OkButton->setEnabled(false);
    QDialog::showEvent(event);
}

void TAcessSelectForm::SelectionChanged(int index) {
    if (index < 0) return;
    OkButton->setEnabled(true);
    SelectedAccess = index == 0 ? 1 : 2;
}

}  // namespace tovik
