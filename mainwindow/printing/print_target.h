#pragma once

#include <QString>

namespace kestrel {

// Where a printed report goes: a printer, or a recording in the tests. Lengths
// are in twips (1/1440 inch), the unit the page arithmetic is done in.
//
// A document begins with its first line and ends with EndDocument or
// AbortDocument; a line after either begins the next document. A call that
// returns false has failed, and the caller gives the document up.
class PrintTarget {
public:
    virtual ~PrintTarget() = default;

    // The font of the lines that follow. A target without the family takes the
    // nearest fixed-pitch font it has, so the report's columns stay aligned.
    virtual void SetFont(const QString& family, double pointSize) = 0;
    virtual void SetBold(bool bold) = 0;

    // The height of the text in the current font, which is also the distance
    // from one printed line to the next.
    virtual double TextHeight(const QString& text) = 0;
    virtual int PageHeight() = 0;

    virtual bool PrintLine(const QString& text) = 0;
    virtual bool NewPage() = 0;
    virtual bool EndDocument() = 0;
    // Drops the document begun, so a half-printed copy is not sent.
    virtual void AbortDocument() = 0;
};

} // namespace kestrel
