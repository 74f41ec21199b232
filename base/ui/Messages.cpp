#include "base/ui/Messages.h"

#include <QMessageBox>

#include "base/Assert.h"
#include "base/Cp1251.h"

namespace tovik {

namespace {
TMessageHook& Hook() {
    static TMessageHook hook;
    return hook;
}
}  // namespace

void SetMessageHook(TMessageHook hook) {
    Hook() = std::move(hook);
}

void ShowMessage(QWidget* parent, const QString& text, TMessageKind kind) {
    if (Hook()) {
        Hook()(kind, text);
        return;
    }
    const QString title = QStringLiteral("Товик/ТовикМ v2.1");
    switch (kind) {
        case TMessageKind::Plain:
            QMessageBox::information(parent, title, text);
            break;
        case TMessageKind::Error:
            QMessageBox::critical(parent, title, text);
            break;
        case TMessageKind::Question: {
            QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Ok, parent);
            box.exec();
            break;
        }
    }
}

void InstallAssertionBox() {
    SetAssertHook([](const std::string& report) {
        ShowMessage(nullptr, QString::fromStdString(report), TMessageKind::Error);
    });
}

TRecordTextValidator::TRecordTextValidator(int maxChars, QObject* parent)
    : QValidator(parent), MaxChars(maxChars) {}

QValidator::State TRecordTextValidator::validate(QString& input, int&) const {
    if (input.size() > MaxChars) return Invalid;
    return CheckFieldText(input.toStdString(), static_cast<size_t>(MaxChars)) == TTextCheck::Ok ? Acceptable
                                                                                                : Invalid;
}

}  // namespace tovik
