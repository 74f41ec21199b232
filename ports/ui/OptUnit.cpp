#include "ports/ui/OptUnit.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "protocol/Outcome.h"

namespace tovik {

TOptForm::TOptForm(std::shared_ptr<TRequestStats> stats, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowStaysOnTopHint),
      Stats(std::move(stats)) {
    setObjectName("OptForm");
    setWindowTitle(QStringLiteral("Статистика"));
    setModal(false);

    auto* group = new QGroupBox(QStringLiteral("Операции с портами:"), this);
    auto* form = new QFormLayout(group);
    auto value = [this](const char* name) {
        auto* l = new QLabel(QStringLiteral("0"), this);
        l->setObjectName(name);
        l->setMinimumWidth(80);
        return l;
    };
    sended_lab = value("sended_lab");
    recok_lab = value("recok_lab");
    recerr_lab = value("recerr_lab");
    noack_lab = value("noack_lab");
    form->addRow(QStringLiteral("Запросов послано:"), sended_lab);
    form->addRow(QStringLiteral("Запросов принято успешно:"), recok_lab);
    form->addRow(QStringLiteral("Запросов принято с ошибкой:"), recerr_lab);
    form->addRow(QStringLiteral("Запросов без ответа:"), noack_lab);
    lasterr_lab = new QLabel(this);
    lasterr_lab->setObjectName("lasterr_lab");
    lasterr_lab->setWordWrap(true);
    form->addRow(QStringLiteral("Последняя ошибка:"), lasterr_lab);

    rst_btn = new QPushButton(QStringLiteral("Сбросить"), this);
    rst_btn->setObjectName("rst_btn");
    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setObjectName("Button1");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(rst_btn);
    buttons->addStretch();
    buttons->addWidget(Button1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    connect(rst_btn, &QPushButton::clicked, this, &TOptForm::rst_btnClick);
    connect(Button1, &QPushButton::clicked, this, &TOptForm::Button1Click);

    // The timer runs whether or not the window is shown.
    StatUpdTimer = new QTimer(this);
    StatUpdTimer->setObjectName("StatUpdTimer");
    StatUpdTimer->setInterval(500);
    connect(StatUpdTimer, &QTimer::timeout, this, &TOptForm::StatUpdTimerTimer);
    StatUpdTimer->start();
}

void TOptForm::StatUpdTimerTimer() {
    const TStatsSnapshot s = Stats->GetStats();
    sended_lab->setText(QString::number(s.SentCount));
    recok_lab->setText(QString::number(s.OkCount));
    recerr_lab->setText(QString::number(s.ErrorCount));
    noack_lab->setText(QString::number(s.NoAnswer()));
    lasterr_lab->setText(s.LastFailure ? QString::fromStdString(OutcomeText(*s.LastFailure)) : QString());
}

void TOptForm::rst_btnClick() {
    Stats->ResetStats();
}

void TOptForm::Button1Click() {
    close();
}

}  // namespace tovik
