#include "base/ui/WakeUp.h"

#include <QCoreApplication>

namespace tovik {

QEvent::Type WakeUpEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void TWakeUp::Post() {
    if (Pending.exchange(true)) return;
    std::lock_guard guard(Lock);
    if (Target) QCoreApplication::postEvent(Target, new QEvent(WakeUpEvent()));
}

}  // namespace tovik
