#include "portlist.h"

#include "portdirectory.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QPainter>

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

void PortList::paint(QPainter *painter, const QStyleOptionViewItem &option,
                     const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    const QRect text = o.widget->style()->subElementRect(QStyle::SE_ItemViewItemText, &o, o.widget);
    QRect area = text.adjusted(numberColumn(o), 0, 0, 0);
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
    size.setWidth(size.width() + numberColumn(o) +
                  o.fontMetrics.horizontalAdvance(description(index)));
    return size;
}

bool PortList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_box && event->type() == QEvent::ToolTip) {
        m_directory->refresh(); // the tooltip then shows as usual, with fresh words
    } else if (watched != m_box && event->type() == QEvent::Show) {
        m_directory->refresh();
        m_whileOpen.start();
    } else if (watched != m_box && event->type() == QEvent::Hide) {
        m_whileOpen.stop();
    }
    return false; // only looking; the box and the list handle every event as before
}

// The opened list is as wide as its widest line needs, at least as wide as
// the box; the tooltip follows the typed number.
void PortList::setNotice(const QString &notice)
{
    m_notice = notice;
    update();
}

void PortList::update()
{
    const QString words = m_directory->toolTip(m_box->currentText());
    m_box->setToolTip(m_notice.isEmpty() ? words : m_notice + QStringLiteral("\n\n") + words);
    QAbstractItemView *view = m_box->view();
    int widest = 0;
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.font = view->font();
    option.fontMetrics = QFontMetrics(option.font);
    for (int row = 0; row < m_box->count(); ++row)
        widest = qMax(widest, sizeHint(option, m_box->model()->index(row, 0)).width());
    const int frame = view->window()->width() - view->viewport()->width();
    view->window()->setMinimumWidth(qMax(m_box->width(), widest + qMax(frame, 0) + 4));
    view->viewport()->update();
}
