#include "app/ui/AboutForm.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "base/Version.h"

namespace tovik {

TAboutForm::TAboutForm(const QString& configFile, QWidget* parent) : QDialog(parent) {
    setObjectName("AboutForm");
    setWindowTitle(QStringLiteral("О программе"));
    auto* title = new QLabel(QStringLiteral("<b>Товик/ТовикМ v2.1</b>"), this);
    title->setObjectName("AboutTitle");
    auto* version =
        new QLabel(QStringLiteral("Версия сборки %1").arg(QString::fromLatin1(kTovikVersion)), this);
    version->setObjectName("AboutVersion");
    auto* purpose = new QLabel(
        QStringLiteral("Сервисная программа для реле защиты электродвигателей «Товик», «Товик ModBus», "
                       "«ТовикМ» и «ТовикМ ModBus»: контроль токов, таймеров, счётчиков, состояния и часов; "
                       "пуск и останов установки; чтение, проверка и запись уставок; журнал заданий; "
                       "журнал аварийных отключений; подготовка калибровки."),
        this);
    purpose->setObjectName("AboutPurpose");
    purpose->setWordWrap(true);
    auto* config = new QLabel(QStringLiteral("Файл конфигурации: %1").arg(configFile), this);
    config->setObjectName("AboutConfig");
    config->setTextFormat(Qt::PlainText);
    config->setWordWrap(true);
    config->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(version);
    layout->addWidget(purpose);
    layout->addWidget(config);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

}  // namespace tovik
