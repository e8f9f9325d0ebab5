#include "window_locale.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace kestrel {

namespace {

// The locale's long time format names the time zone ("t"), which a file
// time in a report leaves out; its short one often drops the seconds.
QString TimeFormatWithoutZone(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return format.trimmed();
}

} // namespace

ReportLocale SystemReportLocale() {
    const QLocale system = QLocale::system();
    ReportLocale locale;
    locale.groupSeparator = system.groupSeparator().toStdString();
    locale.formatFileTime = [system, timeFormat = TimeFormatWithoutZone(system)](
                                std::int64_t secondsSinceEpoch) {
        const QDateTime time = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
        const QString date = system.toString(time.date(), QLocale::ShortFormat);
        if (time.time() == QTime(0, 0))
            return date.toStdString();
        return (date + QLatin1Char(' ') + system.toString(time.time(), timeFormat)).toStdString();
    };
    return locale;
}

} // namespace kestrel
