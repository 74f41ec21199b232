#pragma once
// The task log tab of the device panel: the task grid and its buttons, with
// the automation switch at the top of the button column. It forwards the
// grid's Enter and the clicks to the panel model and draws the task grid.
#include <QObject>
#include <array>
#include <functional>
#include <vector>

#include "panel/TovikPanel.h"

class QPushButton;
class QTableWidget;
class QWidget;

namespace tovik {

class TTaskLogTab : public QObject {
    Q_OBJECT
public:
    // Builds the controls on `page`; the buttons go into `buttons` (the
    // frame draws their state); `acted` runs after each forwarded event.
    TTaskLogTab(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                std::function<void()> acted);

    // The grid's rows, texts and enabled state, where the model changed them.
    void Redraw();

    QTableWidget* TW_SG = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void GridEnter();

    TTovikPanel& Model;
    std::function<void()> Acted;
    std::vector<std::array<uint32_t, 3>> Drawn;
};

}  // namespace tovik
