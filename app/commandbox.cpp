#include "commandbox.h"

#include "bytenames.h"
#include "bytesdialog.h"
#include "cellpainter.h"
#include "codepage.h"
#include "sentcommands.h"

#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextObjectInterface>

#include <cmath>

namespace
{

// The character a marked break stands for (13 or 10).
constexpr int LineEndProperty = QTextFormat::UserProperty + 1;
// A boxed byte is an object character of this type, its byte in the property.
constexpr int BoxedObject = QTextFormat::UserObject + 1;
constexpr int BoxedByteProperty = QTextFormat::UserProperty + 2;

// The byte a character stands for when the receive box would show that byte
// boxed (control characters, DEL, the code page's unassigned five, the
// no-break space and the soft hyphen); -1 for any other character. Line ends
// are the caller's.
int boxedByte(char16_t c)
{
    if (c >= 0x100 || charFromByte(uchar(c)).unicode() != c)
        return -1;
    return shownAs(uchar(c)).boxed ? int(c) : -1;
}

// Ctrl and the key a terminal knows a control byte by ("C" for ETX).
QString controlLabel(uchar byte)
{
    static const char keys[] = "@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    if (byte >= 0x20)
        return controlName(byte);
    return QStringLiteral("%1 (Strg+%2)").arg(controlName(byte), QChar::fromLatin1(keys[byte]));
}

} // namespace

// Paints a boxed byte as the receive box does (cellpainter.h): its name
// small, in a thin box, in the muted colour, as wide as the name and as high
// as the line.
class BoxedBytes : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    explicit BoxedBytes(QWidget *box) : QObject(box), m_box(box) {}

    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &format) override
    {
        // The height is what stands above the base line; the box reaches
        // down into the line's descent when drawn, so the line keeps its
        // height.
        return QSizeF(cells().width(cellOf(format)), QFontMetricsF(m_box->font()).ascent());
    }

    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int,
                    const QTextFormat &format) override
    {
        CellPainter &c = cells();
        const CellAppearance appearance =
            c.appearance(cellOf(format), ViewColours::of(m_box->palette()));
        // The cell's base line on the line's, on whole pixels as in the
        // receive box.
        const qreal top = rect.top() + QFontMetricsF(m_box->font()).ascent() - c.ascent();
        painter->save();
        c.drawCell(*painter, QPointF(std::round(rect.left()), std::round(top)), appearance);
        painter->restore();
    }

private:
    static Cell cellOf(const QTextFormat &format)
    {
        return CellPainter::byteCell(uchar(format.intProperty(BoxedByteProperty)));
    }
    CellPainter &cells()
    {
        if (!m_made || m_font != m_box->font()) {
            m_made = true;
            m_font = m_box->font();
            m_cells.setFont(m_font);
        }
        return m_cells;
    }
    QWidget *const m_box;
    bool m_made = false;
    QFont m_font;
    CellPainter m_cells;
};

CommandBox::CommandBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->documentLayout()->registerHandler(BoxedObject, new BoxedBytes(this));
}

CommandBox::~CommandBox() = default;

QString CommandBox::text() const
{
    return exactText(0, document()->characterCount() - 1);
}

void CommandBox::setText(const QString &text)
{
    clear();
    QTextCursor cursor(document());
    insertExact(cursor, text);
}

void CommandBox::insertBytes(QByteArrayView bytes)
{
    insertAtCursor(textFromBytes(bytes));
}

void CommandBox::setSentCommands(SentCommands *commands)
{
    m_sentCommands = commands;
}

void CommandBox::recordSent(const QString &command)
{
    if (m_sentCommands)
        m_sentCommands->record(command);
}

void CommandBox::setBytesPrompt(BytesPrompt *prompt)
{
    m_prompt = prompt;
}

QMenu *CommandBox::createContextMenu()
{
    QMenu *menu = createStandardContextMenu();
    menu->addSeparator();
    QMenu *insert = menu->addMenu(QStringLiteral("Steuerzeichen einfügen"));
    QList<uchar> controls;
    for (int b = 0; b < 0x20; ++b)
        controls.append(uchar(b));
    controls.append(0x7f);
    for (const uchar b : std::as_const(controls))
        insert->addAction(controlLabel(b), this,
                          [this, b] { insertBytes(QByteArray(1, char(b))); });
    menu->addAction(QStringLiteral("Bytes einfügen…"), this, [this] {
        if (!m_prompt) {
            m_ownPrompt = std::make_unique<QtBytesPrompt>();
            m_prompt = m_ownPrompt.get();
        }
        if (const std::optional<QByteArray> bytes = m_prompt->askBytes(this))
            insertBytes(*bytes);
    });
    menu->addAction(QStringLiteral("Datei senden…"), this, &CommandBox::sendFileRequested);
    menu->addAction(QStringLiteral("Datei empfangen…"), this, &CommandBox::receiveFileRequested);
    // What a prompt or a running program is interrupted or ended with comes
    // first; the rest follow in their order.
    QMenu *now = menu->addMenu(QStringLiteral("Sofort senden"));
    if (!m_sendRefusal.isEmpty())
        now->addAction(m_sendRefusal)->setEnabled(false);
    auto addSend = [this, now](uchar b) {
        now->addAction(controlLabel(b), this, [this, b] { Q_EMIT sendNow(char(b)); })
            ->setEnabled(m_sendRefusal.isEmpty());
    };
    const QList<uchar> first = {0x03, 0x04, 0x1b};
    for (const uchar b : first)
        addSend(b);
    now->addSeparator();
    for (const uchar b : std::as_const(controls))
        if (!first.contains(b))
            addSend(b);
    if (m_commandEntries) {
        menu->addSeparator();
        menu->addAction(QStringLiteral("Als Befehl speichern…"), this,
                        [this] { Q_EMIT saveAsCommand(text()); });
        menu->addAction(QStringLiteral("Befehle…"), this, [this] { Q_EMIT commandsRequested(); });
    }
    return menu;
}

void CommandBox::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CommandBox::keyPressEvent(QKeyEvent *event)
{
    if (stepSentCommands(event))
        return;
    // Shift+Enter is a line break like Enter: both read as CR LF.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers().testFlag(Qt::ShiftModifier)) {
        QTextCursor cursor = textCursor();
        cursor.insertBlock();
        setTextCursor(cursor);
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

bool CommandBox::stepSentCommands(QKeyEvent *event)
{
    const bool up = event->key() == Qt::Key_Up;
    if (!m_sentCommands || (!up && event->key() != Qt::Key_Down))
        return false;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::NoModifier && mods != Qt::ControlModifier)
        return false;
    if (mods == Qt::NoModifier) {
        // Only where the arrow would not move the cursor: on the first (or
        // last) line as the box shows it, wrapped lines counting.
        const QTextCursor cursor = textCursor();
        const QTextBlock block = cursor.block();
        if (block != (up ? document()->firstBlock() : document()->lastBlock()))
            return false;
        const QTextLayout *layout = block.layout();
        const QTextLine line = layout->lineForTextPosition(cursor.positionInBlock());
        if (line.isValid() && line.lineNumber() != (up ? 0 : layout->lineCount() - 1))
            return false;
    }
    const std::optional<QString> command =
        up ? m_sentCommands->older(text()) : m_sentCommands->newer(text());
    if (command) {
        setText(*command);
        moveCursor(QTextCursor::End);
        ensureCursorVisible();
    }
    return true;
}

void CommandBox::insertFromMimeData(const QMimeData *source)
{
    if (!source || !source->hasText())
        return;
    insertAtCursor(source->text());
}

void CommandBox::insertAtCursor(const QString &text)
{
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    insertExact(cursor, text);
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

QMimeData *CommandBox::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    auto *data = new QMimeData;
    data->setText(exactText(cursor.selectionStart(), cursor.selectionEnd()));
    return data;
}

void CommandBox::insertExact(QTextCursor &cursor, const QString &text)
{
    // Text typed after a boxed byte or a marked break would take on its
    // marks; what is inserted here is plain.
    QTextCharFormat plain = cursor.charFormat();
    plain.setObjectType(QTextFormat::NoObject);
    plain.clearProperty(BoxedByteProperty);
    plain.clearProperty(LineEndProperty);
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c < 0x7f) // the bulk of any text
            continue;
        const bool lineEnd = c == '\r' || c == '\n';
        const int boxed = lineEnd ? -1 : boxedByte(c);
        if (!lineEnd && boxed < 0)
            continue;
        cursor.insertText(text.mid(from, i - from), plain);
        if (boxed >= 0) {
            QTextCharFormat object = plain;
            object.setObjectType(BoxedObject);
            object.setProperty(BoxedByteProperty, boxed);
            cursor.insertText(QString(QChar::ObjectReplacementCharacter), object);
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            cursor.insertBlock();
            ++i;
        } else {
            QTextCharFormat marked = plain;
            marked.setProperty(LineEndProperty, int(c));
            cursor.insertText(QString(QChar::LineSeparator), marked);
        }
        from = i + 1;
    }
    cursor.insertText(text.mid(from), plain);
    cursor.setCharFormat(plain);
}

QString CommandBox::exactText(int from, int to) const
{
    QString out;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from)
            out += QLatin1String("\r\n");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = qMax(from, fragment.position());
            const int end = qMin(to, fragment.position() + fragment.length());
            if (start >= end)
                continue;
            // The fragment's own text keeps every character as typed (a no-break
            // space stays one); breaks and boxed bytes become what they stand for.
            const QString piece = fragment.text().mid(start - fragment.position(), end - start);
            const QTextCharFormat format = fragment.charFormat();
            const int marked = format.property(LineEndProperty).toInt();
            const bool boxed = format.objectType() == BoxedObject;
            for (const QChar c : piece) {
                if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                    out += marked ? QString(QChar(marked)) : QStringLiteral("\r\n");
                else if (boxed && c == QChar::ObjectReplacementCharacter)
                    out += QChar(format.intProperty(BoxedByteProperty));
                else
                    out += c;
            }
        }
    }
    return out;
}

void CommandBox::setRunningBadge(const QString &badge)
{
    if (badge == m_runningBadge)
        return;
    m_runningBadge = badge;
    viewport()->update();
}

void CommandBox::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    if (m_runningBadge.isEmpty())
        return;
    // Something keeps sending while the operator types: a look of its own in
    // the corner, over the text, never in the way of the caret's line alone.
    QPainter painter(viewport());
    QFont small = font();
    if (small.pointSizeF() > 0)
        small.setPointSizeF(small.pointSizeF() * 0.85);
    else
        small.setPixelSize(std::max(8, qRound(small.pixelSize() * 0.85)));
    painter.setFont(small);
    const QFontMetrics fm(small);
    const QRect area = viewport()->rect();
    const QString text = fm.elidedText(m_runningBadge, Qt::ElideMiddle, area.width() / 2);
    const QRect box(area.right() - fm.horizontalAdvance(text) - 8, area.bottom() - fm.height() - 2,
                    fm.horizontalAdvance(text) + 6, fm.height() + 1);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0x9a, 0x6a, 0x00));
    painter.setBrush(QColor(0xff, 0xf1, 0xc4));
    painter.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.setPen(QColor(0x5c, 0x40, 0x00));
    painter.drawText(box, Qt::AlignCenter, text);
}

#include "commandbox.moc"
