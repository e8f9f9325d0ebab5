#pragma once

#include <QString>
#include <QStringList>

#include "print_target.h"

namespace kestrel::testing {

// Logs what is printed on 11-inch pages of 240-twip lines (60 lines after the
// margin): a line as its text, "*" before a bold one; "<page>", "<end>" and
// "<abort>" for the other calls.
class RecordingTarget : public PrintTarget {
public:
    void SetFont(const QString& family, double points) override {
        font = family + QLatin1Char(' ') + QString::number(points);
    }
    void SetBold(bool bold) override { m_bold = bold; }
    double TextHeight(const QString&) override { return 240.0; }
    int PageHeight() override { return pageHeight; }
    bool PrintLine(const QString& text) override {
        if (log.size() == failingEntry)
            return false;
        log.append(m_bold ? QLatin1Char('*') + text : text);
        return true;
    }
    bool NewPage() override { return Log(QStringLiteral("<page>")); }
    bool EndDocument() override { return Log(QStringLiteral("<end>")); }
    void AbortDocument() override { Log(QStringLiteral("<abort>")); }

    int pageHeight = 15840;
    qsizetype failingEntry = -1; // a line that would be logged at this index fails
    QString font;
    QStringList log;

private:
    bool Log(const QString& entry) {
        log.append(entry);
        return true;
    }

    bool m_bold = false;
};

} // namespace kestrel::testing
