#pragma once
// The alarm log tab of the device panel: the alarm grid and "Очистить",
// "Отправить в Excel" and "Сохранить...". The files are written by the panel
// model; this tab asks where they go and opens the workbook on the desktop.
#include <QObject>
#include <array>
#include <functional>

#include "panel/TovikPanel.h"

class QPushButton;
class QTableWidget;
class QWidget;

namespace tovik {

class TAlarmLogTab : public QObject {
    Q_OBJECT
public:
    TAlarmLogTab(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                 std::function<void()> acted);

    // The grid from the model's alarm grid.
    void Redraw();

    QTableWidget* AvariesSG = nullptr;

private:
    void SaveList();
    void SendToExcel();
    // A file name for the device's journal with the extension `suffix`.
    QString SuggestedName(const char* suffix) const;

    TTovikPanel& Model;
    std::function<void()> Acted;
};

}  // namespace tovik
