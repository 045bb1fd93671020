#pragma once

#include <QStyledItemDelegate>
#include <QTimer>

class PortDirectory;
class QComboBox;

// The port box's list and tooltip tell what each number is right now. The
// words are drawn beside the items, never put into them: the items stay "1"
// to "10", and picking one puts exactly that number into the box. The list
// looks again each time it opens or the tooltip shows, and while it is open,
// once a second, so that a program taking a port shows too. Neither the list
// nor the tooltip grows beyond the screen: long words are cut short in the
// list and wrapped in the tooltips.
class PortList : public QStyledItemDelegate
{
    Q_OBJECT
public:
    PortList(QComboBox *box, PortDirectory *directory);

    // The words drawn beside the item.
    QString description(const QModelIndex &index) const;
    // A notice the tooltip begins with (why the last opening failed), or none.
    void setNotice(const QString &notice);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // A row whose words are cut short shows them whole in its tooltip.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void update();
    int numberColumn(const QStyleOptionViewItem &option) const;
    QRect wordsArea(const QStyleOptionViewItem &option) const;
    int widestList() const;

    QComboBox *const m_box;
    PortDirectory *const m_directory;
    QTimer m_whileOpen;
    QString m_notice;
};
