#include "textaccessible.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>

namespace
{

class SpokenTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    SpokenTextAccessible(QAbstractScrollArea *view, SpokenText *text)
        : QAccessibleWidget(view, QAccessible::EditableText), m_text(text)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return m_text->spokenText();
        return QAccessibleWidget::text(t);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return m_text->spokenText().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(m_text->spokenText().size()); }
    int cursorPosition() const override { return m_text->spokenCursor(); }
    void setCursorPosition(int position) override { m_text->selectSpoken(position, position); }
    int selectionCount() const override
    {
        const auto [from, to] = m_text->spokenSelection();
        return from != to ? 1 : 0;
    }
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0)
            std::tie(*startOffset, *endOffset) = m_text->spokenSelection();
    }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int) override { setCursorPosition(cursorPosition()); }
    void setSelection(int, int startOffset, int endOffset) override
    {
        m_text->selectSpoken(startOffset, endOffset);
    }
    QRect characterRect(int offset) const override
    {
        const QRect r = m_text->spokenRect(offset);
        return r.isEmpty() ? QRect() : QRect(widget()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return m_text->spokenOffsetAt(view()->viewport()->mapFromGlobal(point));
    }
    void scrollToSubstring(int startIndex, int) override
    {
        m_text->selectSpoken(startIndex, startIndex);
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    QAbstractScrollArea *view() const { return static_cast<QAbstractScrollArea *>(widget()); }
    SpokenText *const m_text;
};

} // namespace

QAccessibleInterface *spokenTextAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String("ReceiveView") && className != QLatin1String("HistoryView"))
        return nullptr;
    auto *view = qobject_cast<QAbstractScrollArea *>(object);
    auto *text = dynamic_cast<SpokenText *>(object);
    return view && text ? new SpokenTextAccessible(view, text) : nullptr;
}

void installSpokenTextAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(spokenTextAccessible);
        return true;
    }();
    Q_UNUSED(installed)
}
