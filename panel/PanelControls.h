#pragma once
// The panel's controls as the window builds them: the command buttons and
// the tabs with their names and captions, and the texts of the name box.
#include <array>
#include <cstdint>
#include <string>

namespace tovik {

inline constexpr const char* kMsgNoConnection = "Не настроено подключение.";
inline constexpr const char* kMsgNameEmpty = "Необходима не пустая строка.";
inline constexpr const char* kPortNone = "Нет";
inline constexpr const char* kNameCaption = "Имя электроустановки";
inline constexpr const char* kNameEditCaption = "Введите имя электроустановки:";
inline constexpr const char* kNewDeviceName = "Вентиляция";
inline constexpr const char* kAutomationOn = "Включить";
inline constexpr const char* kAutomationOff = "Отключить";

// The command buttons of every tab, in the order of their tabs.
enum TPanelButton : int {
    BtnPusk,              // TovikPuskButton "Пуск"
    BtnStop,              // TovikStopButton "Стоп"
    BtnResetCounters,     // ResetAVCountersBtn "Сбросить"
    BtnSyncTime,          // SyncTimeBtn "Синхронизация часов"
    BtnAutomation,        // OnOffAvtomatBtn "Включить" / "Отключить"
    BtnTaskAdd,           // TWNewBtn "Добавить задание"
    BtnTaskDelete,        // TWDelBtn "Удалить задание"
    BtnTaskClear,         // TWClrBtn "Очистить журнал"
    BtnAlarmClear,        // ClearAVbtn "Очистить"
    BtnAlarmExcel,        // saveBtn "Отправить в Excel"
    BtnAlarmSave,         // saveAVListBtn "Сохранить..."
    BtnStartCalibration,  // StartCalButton "Начать калибровку..."
    kButtonCount
};
struct TButtonInfo {
    const char* Name;
    const char* Caption;  // the automation button's first caption
};
const TButtonInfo& ButtonInfo(TPanelButton Button);

// Whether each button of a tab's run of buttons (First..Last) is enabled.
// Read-only access never enables one.
template <TPanelButton First, TPanelButton Last>
class TButtonSet {
public:
    explicit TButtonSet(bool ReadOnly) : ReadOnly(ReadOnly) {}
    bool Enabled(TPanelButton Button) const { return Button >= First && Button <= Last && On[Index(Button)]; }
    // True when the state changed.
    bool Set(TPanelButton Button, bool Enable) {
        if (Enable && ReadOnly) return false;
        bool& on = On[Index(Button)];
        if (on == Enable) return false;
        on = Enable;
        return true;
    }

private:
    static size_t Index(TPanelButton Button) { return static_cast<size_t>(Button - First); }
    bool ReadOnly;
    std::array<bool, Last - First + 1> On{};
};

// The tabs, by the index they have when all five are there.
enum TPanelTab : int { TabData, TabSettings, TabTaskLog, TabAlarms, TabCalibration, kTabCount };
struct TTabInfo {
    const char* Name;
    const char* Caption;  // tab 0's caption changes with the device kind
};
const TTabInfo& TabInfo(TPanelTab Tab);
// Tab 0's caption for a device kind.
std::string DataTabCaption(uint8_t DeviceKind);

}  // namespace tovik
