#include "panel/PanelControls.h"

#include <array>

#include "app/TovikDevice.h"

namespace tovik {

namespace {

constexpr std::array<TButtonInfo, kButtonCount> kButtons = {{
    {"TovikPuskButton", "Пуск"},
    {"TovikStopButton", "Стоп"},
    {"ResetAVCountersBtn", "Сбросить"},
    {"SyncTimeBtn", "Синхронизация часов"},
    {"OnOffAvtomatBtn", kAutomationOn},
    {"TWNewBtn", "Добавить задание"},
    {"TWDelBtn", "Удалить задание"},
    {"TWClrBtn", "Очистить журнал"},
    {"ClearAVbtn", "Очистить"},
    {"saveBtn", "Отправить в Excel"},
    {"saveAVListBtn", "Сохранить..."},
    {"StartCalButton", "Начать калибровку..."},
}};

constexpr std::array<TTabInfo, kTabCount> kTabs = {{
    {"TovikMainTS", "Данные Товик"},
    {"TovikUstavkiTS", "Уставки"},
    {"TovikTimeWorksTS", "Журнал заданий"},
    {"TovikAvariesTS", "Журнал аварий"},
    {"TovikCalibTS", "Калибровка"},
}};

}  // namespace

const TButtonInfo& ButtonInfo(TPanelButton Button) {
    return kButtons[static_cast<size_t>(Button)];
}

const TTabInfo& TabInfo(TPanelTab Tab) {
    return kTabs[static_cast<size_t>(Tab)];
}

std::string DataTabCaption(uint8_t DeviceKind) {
    if (!IsKnownKind(DeviceKind)) return "Данные";
    return std::string("Данные ") + DeviceKindName(DeviceKind);
}

}  // namespace tovik
