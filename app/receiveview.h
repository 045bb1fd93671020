#pragma once

#include "seriallink.h"

#include <QByteArray>
#include <QList>
#include <QPlainTextEdit>
#include <QTimer>

// The receive box `Empfang`. Its text is a list of lines of Latin-1 bytes, each
// complete line ending in CR LF; text() is exactly their join, written once per
// receive event. Painting follows at most twenty times a second: the document
// behind the box is brought up to date by a short timer, changing only the
// lines that changed, so a flood of receive events costs no layout work beyond
// what the operator can follow.
class ReceiveView : public QPlainTextEdit, public ReceiveControl
{
    Q_OBJECT
public:
    explicit ReceiveView(QWidget *parent = nullptr);

    // The text as the operator reads it: one character per received byte.
    QString text() const;
    QByteArray textBytes() const;
    // Empties the box.
    void clearText() override;
    // Replaces the text by these lines (shared, not copied).
    void setLines(const QList<QByteArray> &lines) override;

    // Brings the painted document up to date now instead of at the next frame.
    void syncNow();
    // What a line looks like on the screen: control characters become visible
    // symbols, so a NUL or an escape byte never cuts or garbles the view.
    static QString displayLine(const QByteArray &line);

private:
    void scheduleSync();

    QList<QByteArray> m_lines;   // the text, line by line
    QList<QByteArray> m_shown{QByteArray()}; // the document's blocks, as bytes
    QTimer m_frame;
};
