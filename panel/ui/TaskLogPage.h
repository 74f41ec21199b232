#pragma once
// The task log page of the device panel: the task grid and its buttons, with
// the automation switch at the top of the button column. Its handlers turn
// the grid's Enter and the clicks into the session's intents; it draws the
// task grid.
#include <QObject>
#include <array>
#include <functional>
#include <vector>

#include "panel/TovikPanel.h"

class QPushButton;
class QTableWidget;
class QWidget;

namespace tovik {

class TTaskLogPage : public QObject {
    Q_OBJECT
public:
    // Builds the controls on `page`; the buttons go into `buttons` (the
    // frame draws their state); `acted` runs after each forwarded event.
    TTaskLogPage(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                 std::function<void(const TIntentResult&)> acted);

    // The grid's rows, texts and enabled state, where the session changed them.
    void Redraw();

    // The handlers.
    void OnOffAvtomatBtnClick();
    void TWNewBtnClick();
    void TWDelBtnClick();
    void TWClrBtnClick();
    // Only Enter counts: the grid's current cell is the entry and its column.
    void TW_SGKeyPress(int Key);

    QTableWidget* TW_SG = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TTovikPanel& Model;
    std::function<void(const TIntentResult&)> Acted;
    std::vector<std::array<uint32_t, 3>> Drawn;
};

}  // namespace tovik
