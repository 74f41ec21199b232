// tools/cli/SystemLocale.h from QtCore, which reads the POSIX locale
// (LC_ALL, LC_NUMERIC/LC_TIME, LANG).
#include <QLocale>
#include <QString>

#include "tools/cli/SystemLocale.h"

namespace tovik::cli {

TLocaleFormat SystemLocaleFormat() {
    const QLocale locale = QLocale::system();
    return LocaleFormatOf(QString(locale.decimalPoint()).toStdString(),
                          locale.dateFormat(QLocale::ShortFormat).toStdString(),
                          locale.timeFormat(QLocale::ShortFormat).toStdString());
}

}  // namespace tovik::cli
