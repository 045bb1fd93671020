#include "cachedcontrols.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QStyleOptionSlider>

namespace
{

// The ground of an opaque control, painted by the control itself.
void fillGround(QWidget *widget, QPaintDevice *on)
{
    QPainter(on).fillRect(QRect(QPoint(), widget->size()),
                          widget->palette().brush(widget->backgroundRole()));
}

void makeOpaque(QWidget *widget)
{
    widget->setAutoFillBackground(true);
    widget->setAttribute(Qt::WA_OpaquePaintEvent);
}

// Paints `widget` from the picture kept under `key`, drawn by `draw` first
// when there is none. The key is completed here with what every picture
// depends on: the style, the size, the screen's pixel ratio, the palette and
// the state (enabled, active window, focus).
template <typename Draw>
void paintKept(QWidget *widget, KeptPictures &kept, const QStyleOption &option, const QString &key,
               Draw draw)
{
    const qreal ratio = widget->devicePixelRatio();
    const QString fullKey = QStringLiteral("%1:%2x%3@%4:%5:%6:%7:")
                                .arg(widget->style()->name())
                                .arg(widget->width())
                                .arg(widget->height())
                                .arg(ratio)
                                .arg(option.palette.cacheKey())
                                .arg(uint(option.state))
                                .arg(int(option.direction)) +
                            key;
    QPixmap picture = kept.find(fullKey);
    if (picture.isNull()) {
        picture = QPixmap(widget->size() * ratio);
        picture.setDevicePixelRatio(ratio);
        fillGround(widget, &picture);
        QPainter painter(&picture);
        draw(painter);
        painter.end();
        kept.keep(fullKey, picture);
    }
    QPainter(widget).drawPixmap(0, 0, picture);
}

} // namespace

QPixmap KeptPictures::find(const QString &key)
{
    for (qsizetype i = 0; i < m_pictures.size(); ++i) {
        if (m_pictures[i].first == key) {
            m_pictures.move(i, 0);
            return m_pictures.first().second;
        }
    }
    return {};
}

void KeptPictures::keep(const QString &key, const QPixmap &picture)
{
    if (m_pictures.size() >= m_size)
        m_pictures.removeLast();
    m_pictures.prepend({key, picture});
}

ActivityBar::ActivityBar(QWidget *parent) : QProgressBar(parent)
{
    makeOpaque(this);
    // QProgressBar paints every new value at once and hands it to the screen
    // apart from everything else that changed. Held back until the event
    // loop runs again, the step is painted with the rest of the window in its
    // next frame.
    connect(this, &QProgressBar::valueChanged, this, [this] {
        if (!updatesEnabled())
            return;
        setUpdatesEnabled(false);
        QMetaObject::invokeMethod(
            this, [this] { setUpdatesEnabled(true); }, Qt::QueuedConnection);
    });
}

void ActivityBar::paintEvent(QPaintEvent *event)
{
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    // A bar without a range moves by itself (busy indicator): the style
    // animates it, so it is drawn afresh every time.
    if (option.minimum == option.maximum) {
        fillGround(this, this);
        QProgressBar::paintEvent(event);
        return;
    }
    const QString key = QStringLiteral("bar:%1:%2:%3:%4:%5:%6:%7")
                            .arg(option.minimum)
                            .arg(option.maximum)
                            .arg(option.progress)
                            .arg(option.textVisible ? option.text : QString())
                            .arg(int(option.textAlignment))
                            .arg(option.invertedAppearance)
                            .arg(int(orientation()));
    paintKept(this, m_pictures, option, key, [&](QPainter &painter) {
        style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
    });
}

CachedScrollBar::CachedScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{
    makeOpaque(this);
}

void CachedScrollBar::paintEvent(QPaintEvent *event)
{
    // Under the mouse or held, the bar shows which part the mouse is on; only
    // QScrollBar knows that, and draws it.
    if (underMouse() || isSliderDown()) {
        fillGround(this, this);
        QScrollBar::paintEvent(event);
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_All;
    option.activeSubControls = QStyle::SC_None;
    const QString key = QStringLiteral("scrollbar:%1:%2:%3:%4:%5:%6")
                            .arg(option.minimum)
                            .arg(option.maximum)
                            .arg(option.sliderPosition)
                            .arg(option.pageStep)
                            .arg(int(option.orientation))
                            .arg(option.upsideDown);
    paintKept(this, m_pictures, option, key, [&](QPainter &painter) {
        style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
    });
}
