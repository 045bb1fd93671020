#include "receiveaccessible.h"

#include "receiveview.h"

#include <QAccessibleWidget>

namespace
{

class ReceiveViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ReceiveViewAccessible(ReceiveView *view)
        : QAccessibleWidget(view, QAccessible::EditableText)
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
            return layout().spokenText();
        if (t == QAccessible::Name) {
            const QString name = QAccessibleWidget::text(t);
            return name.isEmpty() ? QStringLiteral("Empfang") : name;
        }
        return QAccessibleWidget::text(t);
    }

    // The text interface, in offsets of spokenText().
    QString text(int startOffset, int endOffset) const override
    {
        return layout().spokenText().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(layout().spokenText().size()); }
    int cursorPosition() const override { return offset(layout().cursor()); }
    void setCursorPosition(int position) override
    {
        view()->select(layout().posAt(position), layout().posAt(position));
    }
    int selectionCount() const override { return layout().hasSelection() ? 1 : 0; }
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || !layout().hasSelection())
            return;
        const int a = offset(layout().anchor());
        const int c = offset(layout().cursor());
        *startOffset = std::min(a, c);
        *endOffset = std::max(a, c);
    }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int) override { setCursorPosition(cursorPosition()); }
    void setSelection(int, int startOffset, int endOffset) override
    {
        view()->select(layout().posAt(startOffset), layout().posAt(endOffset));
    }
    QRect characterRect(int offset) const override
    {
        const QRect r = view()->placeRect(layout().posAt(offset));
        return r.isEmpty() ? QRect() : QRect(view()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint local = view()->viewport()->mapFromGlobal(point);
        return offset(view()->placeAt(local));
    }
    void scrollToSubstring(int startIndex, int) override
    {
        view()->select(layout().posAt(startIndex), layout().posAt(startIndex));
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    ReceiveView *view() const { return static_cast<ReceiveView *>(widget()); }
    const ReceiveLayout &layout() const { return view()->layout(); }
    static int offset(qsizetype o) { return int(std::min<qsizetype>(o, INT_MAX)); }
    int offset(const ReceiveLayout::Pos &pos) const { return offset(layout().offsetOf(pos)); }
};

} // namespace

QAccessibleInterface *receiveViewAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("ReceiveView"))
        if (auto *view = qobject_cast<ReceiveView *>(object))
            return new ReceiveViewAccessible(view);
    return nullptr;
}
