#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <utility>

class QAccessibleInterface;
class QObject;

// What a view of received text tells a screen reader, in offsets of the text
// it speaks: read-only, several lines joined by "\n".
class SpokenText
{
public:
    virtual ~SpokenText() = default;
    virtual QString spokenText() const = 0;
    virtual int spokenCursor() const = 0;
    // The selection's start and end; equal when nothing is selected.
    virtual std::pair<int, int> spokenSelection() const = 0;
    // Moves the caret, or selects from anchor to cursor, as keys would.
    virtual void selectSpoken(int anchor, int cursor) = 0;
    // Where a character is painted, in the view's own pixels (empty when it
    // is not in sight), and the character under a point of its viewport.
    virtual QRect spokenRect(int offset) const = 0;
    virtual int spokenOffsetAt(const QPoint &point) const = 0;
};

// The accessibility interface of the views that are a SpokenText (the
// receive box and the history's view): a read-only, multi-line text with the
// caret, the selection and where each character is on screen. Installed once
// as a factory of Qt's accessibility.
QAccessibleInterface *spokenTextAccessible(const QString &className, QObject *object);
void installSpokenTextAccessible();
