#include "portlist.h"

#include "plaintext.h"
#include "portdirectory.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QScreen>
#include <QToolTip>

namespace
{

constexpr int Gap = 12; // between the number and its words, in pixels

} // namespace

PortList::PortList(QComboBox *box, PortDirectory *directory)
    : QStyledItemDelegate(box), m_box(box), m_directory(directory)
{
    m_directory->setParent(this);
    box->view()->setItemDelegate(this);
    box->view()->window()->installEventFilter(this);
    box->installEventFilter(this);
    m_whileOpen.setInterval(1000);
    connect(&m_whileOpen, &QTimer::timeout, m_directory, &PortDirectory::refresh);
    connect(m_directory, &PortDirectory::changed, this, &PortList::update);
    connect(box, &QComboBox::editTextChanged, this, &PortList::update);
    update();
}

QString PortList::description(const QModelIndex &index) const
{
    bool ok = false;
    const int n = index.data(Qt::DisplayRole).toString().toInt(&ok);
    return ok ? m_directory->describe(qint16(n)) : QString();
}

int PortList::numberColumn(const QStyleOptionViewItem &option) const
{
    return option.fontMetrics.horizontalAdvance(QStringLiteral("00")) + Gap;
}

// Where the words go in a row: beside the number.
QRect PortList::wordsArea(const QStyleOptionViewItem &option) const
{
    const QRect text =
        option.widget->style()->subElementRect(QStyle::SE_ItemViewItemText, &option, option.widget);
    return text.adjusted(numberColumn(option), 0, 0, 0);
}

// The opened list is at most as wide as the screen it opens on.
int PortList::widestList() const
{
    return m_box->screen()->availableGeometry().width();
}

void PortList::paint(QPainter *painter, const QStyleOptionViewItem &option,
                     const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    const QRect area = wordsArea(o);
    if (area.width() <= 0)
        return;
    painter->save();
    const bool selected = o.state & QStyle::State_Selected;
    QColor colour = o.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (!selected)
        colour.setAlphaF(0.7f);
    painter->setPen(colour);
    painter->setFont(o.font);
    painter->drawText(area, int(o.displayAlignment | Qt::AlignVCenter),
                      o.fontMetrics.elidedText(description(index), Qt::ElideMiddle, area.width()));
    painter->restore();
}

QSize PortList::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    size.setWidth(std::min(size.width() + numberColumn(o) +
                               o.fontMetrics.horizontalAdvance(description(index)),
                           widestList()));
    return size;
}

bool PortList::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                         const QStyleOptionViewItem &option, const QModelIndex &index)
{
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    const QString words = description(index);
    if (event->type() != QEvent::ToolTip ||
        o.fontMetrics.horizontalAdvance(words) <= wordsArea(o).width())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(), plainToolTip(words, view), view->viewport(),
                       option.rect);
    return true;
}

bool PortList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_box && event->type() == QEvent::ToolTip) {
        m_directory->refresh(); // the tooltip then shows as usual, with fresh words
    } else if (watched != m_box && event->type() == QEvent::Show) {
        m_directory->refresh();
        m_whileOpen.start();
        // The box places the list below itself; one wider than the box may
        // reach past the screen's edge and moves in.
        auto *popup = static_cast<QWidget *>(watched);
        const QRect room = popup->screen()->availableGeometry();
        if (popup->frameGeometry().right() > room.right())
            popup->move(std::max(room.left(), room.right() + 1 - popup->frameGeometry().width()),
                        popup->y());
    } else if (watched != m_box && event->type() == QEvent::Hide) {
        m_whileOpen.stop();
    }
    return false; // only looking; the box and the list handle every event as before
}

// The opened list is as wide as its widest line needs, at least as wide as
// the box and at most as wide as the screen; the tooltip follows the typed
// number.
void PortList::setNotice(const QString &notice)
{
    m_notice = notice;
    update();
}

void PortList::update()
{
    const QString words = m_directory->toolTip(m_box->currentText());
    m_box->setToolTip(plainToolTip(
        m_notice.isEmpty() ? words : m_notice + QStringLiteral("\n\n") + words, m_box));
    QAbstractItemView *view = m_box->view();
    int widest = 0;
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.font = view->font();
    option.fontMetrics = QFontMetrics(option.font);
    for (int row = 0; row < m_box->count(); ++row)
        widest = qMax(widest, sizeHint(option, m_box->model()->index(row, 0)).width());
    const int frame = view->window()->width() - view->viewport()->width();
    view->window()->setMinimumWidth(
        std::min(qMax(m_box->width(), widest + qMax(frame, 0) + 4), widestList()));
    view->viewport()->update();
}
