#pragma once

#include <QList>
#include <QStringList>

#include "print_target.h"
#include "report_lines.h"

namespace kestrel::testing {

// Logs what is printed on 10-inch pages of 240-twip lines (60 lines): a line as its text, "*"
// before a bold one; "<page>", "<end>" and
// "<abort>" for the other calls. The line logged at `failingEntry` fails.
class RecordingTarget : public PrintTarget {
public:
    void SetFont(const QString&, double) override {}
    void SetBold(bool bold) override { m_bold = bold; }
    double TextHeight(const QString&) override { return 240.0; }
    int PageHeight() override { return pageHeight; }
    bool PrintLine(const QString& text) override {
        return log.size() != failingEntry && Log(m_bold ? QLatin1Char('*') + text : text);
    }
    bool NewPage() override { return Log(QStringLiteral("<page>")); }
    bool EndDocument() override { return Log(QStringLiteral("<end>")); }
    void AbortDocument() override { Log(QStringLiteral("<abort>")); }

    int pageHeight = 14400;
    qsizetype failingEntry = -1;
    QStringList log;

private:
    bool Log(const QString& entry) {
        log.append(entry);
        return true;
    }
    bool m_bold = false;
};

// A result list of the tests from a description, items separated by commas:
// "d/data/" a directory line, "b3" three brief reports, "e4" a report with
// four lines under it, "r[zz].EXE" a report of that name with one line under it.
struct Lines : ReportLines {
    explicit Lines(const QString& description = QString()) {
        int report = 0;
        for (const QString& item : description.split(u',', Qt::SkipEmptyParts)) {
            const QString rest = item.mid(1);
            if (item[0] == u'd')
                Add(u'[' + rest + u']', LineKind::Directory);
            for (int i = 0; item[0] == u'b' && i < rest.toInt(); ++i)
                Add(QStringLiteral("FILE%1.NLM    1.02 Test").arg(++report), LineKind::ReportStart);
            if (item[0] == u'e' || item[0] == u'r')
                Add((item[0] == u'e' ? QStringLiteral("MOD%1.NLM").arg(++report) : rest) +
                        QStringLiteral("   NE   12,345 2024-01-02"),
                    LineKind::ReportStart);
            for (int i = 1; i <= (item[0] == u'e' ? rest.toInt() : item[0] == u'r'); ++i)
                Add(QStringLiteral(" HDescription     :part %1").arg(i), LineKind::InReport);
        }
    }
    int LineCount() const override { return static_cast<int>(texts.size()); }
    QString LineText(int index) const override { return texts.value(index); }
    LineKind Kind(int index) const override { return kinds.value(index, LineKind::InReport); }
    std::unique_ptr<const ReportLines> Copy() const override {
        return std::make_unique<Lines>(*this);
    }
    void Add(const QString& text, LineKind kind) {
        texts.append(text);
        kinds.append(kind);
    }

    QStringList texts;
    QList<LineKind> kinds;
};

} // namespace kestrel::testing
