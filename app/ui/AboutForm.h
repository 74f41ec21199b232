#pragma once
#include <QDialog>

namespace tovik {

// The About box: the program's name, version and purpose, and the
// configuration file it runs on.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(const QString& configFile, QWidget* parent = nullptr);
};

}  // namespace tovik
