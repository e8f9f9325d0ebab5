#include "window_locale.h"

#include <ctime>

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
    // Files of one tree mostly share their times (a product installs its
    // files in one go): the text of the last time is kept for the next file.
    locale.formatFileTime = [system, timeFormat = TimeFormatWithoutZone(system),
                             lastTime = std::int64_t{-1},
                             lastText = std::string()](std::int64_t secondsSinceEpoch) mutable {
        if (secondsSinceEpoch == lastTime)
            return lastText;
        // Local time as the command line reads it.
        const auto seconds = static_cast<std::time_t>(secondsSinceEpoch);
        std::tm local{};
        if (::localtime_r(&seconds, &local) == nullptr)
            return std::string();
        const QDate date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        const QTime time(local.tm_hour, local.tm_min, local.tm_sec);
        QString text = system.toString(date, QLocale::ShortFormat);
        if (time != QTime(0, 0))
            text += QLatin1Char(' ') + system.toString(time, timeFormat);
        lastTime = secondsSinceEpoch;
        lastText = text.toStdString();
        return lastText;
    };
    return locale;
}

} // namespace kestrel
