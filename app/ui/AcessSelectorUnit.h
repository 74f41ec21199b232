#pragma once
// The dialog that chooses the access level of a new account.
#include <QDialog>

class QComboBox;
class QPushButton;

namespace tovik {

class TAcessSelectForm : public QDialog {
    Q_OBJECT
public:
    explicit TAcessSelectForm(QWidget* parent = nullptr);

    // 1 full access, 2 read-only.
    uint8_t SelectedAccess = 1;

    QComboBox* AcessTypeComboBox = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void SelectionChanged(int index);
};

}  // namespace tovik
