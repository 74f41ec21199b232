#pragma once
// Message boxes of the application. Every message goes through here, so
// that a test (or a non-interactive run) can collect them instead.
#include <QString>
#include <QValidator>
#include <functional>

class QWidget;

namespace tovik {

enum class TMessageKind { Plain, Error, Question };

// Replaces the boxes; nullptr restores them.
using TMessageHook = std::function<void(TMessageKind, const QString&)>;
void SetMessageHook(TMessageHook hook);

// A box with a single OK button.
void ShowMessage(QWidget* parent, const QString& text, TMessageKind kind = TMessageKind::Plain);

// Shows failed internal checks of the core in a message box (after their
// report on the diagnostic channel).
void InstallAssertionBox();

// Accepts only texts that a record field can hold: at most `maxChars`
// characters, all of them in Windows-1251.
class TRecordTextValidator : public QValidator {
    Q_OBJECT
public:
    TRecordTextValidator(int maxChars, QObject* parent);
    State validate(QString& input, int& pos) const override;

private:
    int MaxChars;
};

}  // namespace tovik
