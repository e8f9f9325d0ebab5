#include "window_locale.h"

#include <ctime>

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace kestrel {

namespace {

// The locale's long time format names the time zone ("t", in some locales
// in brackets), which a file time in a report leaves out; its short one often
// drops the seconds.
QString TimeFormatWithoutZone(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*\\(?\\bt+\\b\\)?")));
    return format.trimmed();
}

// The locale's short date, its order and separators, with the year in four
// digits: files of the 1980s to the 2000s are told apart by their century.
QString DateFormatWithFullYear(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::ShortFormat);
    format.replace(QRegularExpression(QStringLiteral("(?<!y)yy(?!y)")), QStringLiteral("yyyy"));
    return format;
}

// Marks that set the direction of writing (Arabic and Hebrew dates carry
// them): in a line of columns they would move the columns around.
QString WithoutDirectionMarks(QString text) {
    static const QRegularExpression marks(
        QStringLiteral("[\\x{200E}\\x{200F}\\x{061C}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]"));
    return text.remove(marks);
}

} // namespace

ReportLocale SystemReportLocale() {
    return ReportLocaleFor(QLocale::system());
}

ReportLocale ReportLocaleFor(const QLocale& system) {
    ReportLocale locale;
    locale.groupSeparator = system.groupSeparator().toStdString();
    // Files of one tree mostly share their times (a product installs its
    // files in one go): the text of the last time is kept for the next file.
    locale.formatFileTime = [system, dateFormat = DateFormatWithFullYear(system),
                             timeFormat = TimeFormatWithoutZone(system),
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
        QString text = system.toString(date, dateFormat);
        if (time != QTime(0, 0))
            text += QLatin1Char(' ') + system.toString(time, timeFormat);
        lastTime = secondsSinceEpoch;
        lastText = WithoutDirectionMarks(text).toStdString();
        return lastText;
    };
    return locale;
}

} // namespace kestrel
