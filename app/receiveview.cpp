#include "receiveview.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace {

// The document's blocks: the text split at its CR LF pairs. A text that ends
// with CR LF has an empty last block, where the next line will appear.
QList<QByteArray> blocksOf(const QList<QByteArray> &lines)
{
    QList<QByteArray> blocks;
    blocks.reserve(lines.size() + 1);
    QByteArray pending;
    for (const QByteArray &line : lines) {
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = line.indexOf("\r\n", from);
            if (at < 0)
                break;
            pending += QByteArrayView(line).sliced(from, at - from);
            blocks.append(std::exchange(pending, {}));
            from = at + 2;
        }
        pending += QByteArrayView(line).sliced(from);
    }
    blocks.append(pending);
    return blocks;
}

} // namespace

ReceiveView::ReceiveView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFocusPolicy(Qt::StrongFocus);
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Like a terminal: wrap at the edge, anywhere. Wrapping at word boundaries
    // costs time that grows with the square of a line without blanks.
    setWordWrapMode(QTextOption::WrapAnywhere);

    m_frame.setSingleShot(true);
    // Twenty pictures a second are more than anyone reads text at, and each
    // one repaints the whole box; more often would cost a slow line's worth
    // of CPU for nothing.
    m_frame.setInterval(50);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &ReceiveView::syncNow);
}

QString ReceiveView::text() const
{
    return QString::fromLatin1(textBytes());
}

QByteArray ReceiveView::textBytes() const
{
    QByteArray t;
    for (const QByteArray &line : m_lines)
        t += line;
    return t;
}

void ReceiveView::clearText()
{
    m_lines.clear();
    scheduleSync();
}

void ReceiveView::setLines(const QList<QByteArray> &lines)
{
    m_lines = lines;
    scheduleSync();
}

void ReceiveView::scheduleSync()
{
    if (!m_frame.isActive())
        m_frame.start();
}

QString ReceiveView::displayLine(const QByteArray &line)
{
    QString s = QString::fromLatin1(line);
    for (QChar &c : s) {
        const ushort u = c.unicode();
        if (u < 0x20 && u != '\t')
            c = QChar(0x2400 + u); // the Unicode control pictures
        else if (u == 0x7f)
            c = QChar(0x2421);
        else if (u >= 0x80 && u < 0xa0)
            c = QChar(0xfffd);
    }
    return s;
}

void ReceiveView::syncNow()
{
    m_frame.stop();
    const QList<QByteArray> target = blocksOf(m_lines);

    // Lines scroll out at the top and grow at the bottom: find how many of
    // the shown blocks left at the top, with every later complete block
    // unchanged; only the last shown block may have grown.
    qsizetype drop = -1;
    for (qsizetype d = 0; d < m_shown.size() && drop < 0; ++d) {
        const qsizetype rest = m_shown.size() - d;
        if (rest > target.size())
            continue;
        bool same = true;
        for (qsizetype i = 0; same && i < rest - 1; ++i)
            same = m_shown[d + i] == target[i];
        if (same)
            drop = d;
    }

    QTextDocument *doc = document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    if (drop < 0) {
        QStringList shown;
        for (const QByteArray &b : target)
            shown.append(displayLine(b));
        doc->setPlainText(shown.join(QChar::ParagraphSeparator));
    } else {
        if (drop > 0) {
            cursor.movePosition(QTextCursor::Start);
            cursor.setPosition(doc->findBlockByNumber(int(drop)).position(), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        const qsizetype common = m_shown.size() - drop;
        const qsizetype last = common - 1;
        if (m_shown[drop + last] != target[last]) {
            const QTextBlock block = doc->findBlockByNumber(int(last));
            cursor.setPosition(block.position());
            cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
            cursor.insertText(displayLine(target[last]));
        }
        if (target.size() > common) {
            cursor.movePosition(QTextCursor::End);
            for (qsizetype i = common; i < target.size(); ++i) {
                cursor.insertBlock();
                cursor.insertText(displayLine(target[i]));
            }
        }
    }
    cursor.endEditBlock();
    m_shown = target;

    // The newest text stays in sight.
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}
