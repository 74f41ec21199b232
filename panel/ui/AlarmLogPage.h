#pragma once
// The alarm log page of the device panel: the alarm grid and "Очистить",
// "Отправить в Excel" and "Сохранить...". The files are written by the
// session; this page asks where they go and opens the workbook on the desktop.
#include <QObject>
#include <array>
#include <functional>

#include "panel/TovikPanel.h"

class QPushButton;
class QTableWidget;
class QWidget;

namespace tovik {

class TAlarmLogPage : public QObject {
    Q_OBJECT
public:
    TAlarmLogPage(QWidget* page, TTovikPanel& model, std::array<QPushButton*, kButtonCount>& buttons,
                  std::function<void(const TIntentResult&)> acted);

    // The grid from the session's alarm grid.
    void Redraw();

    // The handlers.
    void ClearAVbtnClick();
    void saveAVListBtnClick();
    void sendExcelBtnClick();

    QTableWidget* AvariesSG = nullptr;

private:
    // A file name for the device's journal with the extension `suffix`.
    QString SuggestedName(const char* suffix) const;

    TTovikPanel& Model;
    std::function<void(const TIntentResult&)> Acted;
};

}  // namespace tovik
