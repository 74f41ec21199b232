#include "app/ui/Messages.h"

#include <QMessageBox>
#include <cstdio>

#include "app/Cp1251.h"

namespace tovik {

namespace {
TMessageHook& Hook() {
    static TMessageHook hook;
    return hook;
}
}  // namespace

void SetMessageHook(TMessageHook hook) { Hook() = std::move(hook); }

void ShowMessage(QWidget* parent, const QString& text, TMessageKind kind) {
    if (Hook()) {
        Hook()(kind, text);
        return;
    }
    const QString title = QStringLiteral("Товик/ТовикМ v2.1");
    switch (kind) {
        case TMessageKind::Plain: QMessageBox::information(parent, title, text); break;
        case TMessageKind::Error: QMessageBox::critical(parent, title, text); break;
        case TMessageKind::Question: {
            QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Ok, parent);
            box.exec();
            break;
        }
    }
}

void AssertionReport(const char* message, const char* file, int line, const void* address) {
    const auto addr = reinterpret_cast<uintptr_t>(address);
    const QString text = QString::asprintf("%s (%s, line %d, address $%llx)", message, file, line,
                                           static_cast<unsigned long long>(addr ? addr - 1 : 0));
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    ShowMessage(nullptr, text, TMessageKind::Error);
}

TRecordTextValidator::TRecordTextValidator(int maxChars, QObject* parent)
    : QValidator(parent), MaxChars(maxChars) {}

QValidator::State TRecordTextValidator::validate(QString& input, int&) const {
    if (input.size() > MaxChars) return Invalid;
    return CheckFieldText(input.toStdString(), static_cast<size_t>(MaxChars)) == TTextCheck::Ok ? Acceptable
                                                                                                 : Invalid;
}

}  // namespace tovik
