#include "cachedcontrols.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

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

// A picture's key: what the style option would carry of any widget (style,
// size, the screen's pixel ratio, palette, enabled, active window, focus,
// mouse, direction), then the control's own values (at most five).
PictureKey keyOf(const QWidget *widget, std::initializer_list<qint64> own)
{
    PictureKey key;
    const QWidget *window = widget->window();
    key.values = {qint64(quintptr(widget->style())),
                  qint64(qHash(widget->style()->name())),
                  widget->width(),
                  widget->height(),
                  qRound64(widget->devicePixelRatio() * 1000),
                  widget->palette().cacheKey(),
                  widget->isEnabled(),
                  window->isActiveWindow(),
                  widget->hasFocus() && window->testAttribute(Qt::WA_KeyboardFocusChange) ? 2
                  : widget->hasFocus()                                                    ? 1
                                                                                          : 0,
                  widget->underMouse(),
                  int(widget->layoutDirection())};
    constexpr qsizetype shared = 11;
    Q_ASSERT(own.size() <= key.values.size() - shared);
    std::copy(own.begin(), own.end(), key.values.begin() + shared);
    return key;
}

// Whether a kept picture can stand in for the style's drawing: only at a whole
// pixel ratio, where the widget starts on a whole device pixel and the
// picture covers it exactly. At any other the stock control paints itself.
bool keepsPictures(const QWidget *widget)
{
    const qreal ratio = widget->devicePixelRatio();
    return ratio == std::round(ratio);
}

// Paints `widget` from the picture kept under `key`, drawn by `draw` first
// when there is none.
template <typename Draw>
void paintKept(QWidget *widget, KeptPictures &kept, const PictureKey &key, Draw draw)
{
    QPixmap picture = kept.find(key);
    if (picture.isNull()) {
        const qreal ratio = widget->devicePixelRatio();
        picture = QPixmap(widget->size() * ratio);
        picture.setDevicePixelRatio(ratio);
        fillGround(widget, &picture);
        QPainter painter(&picture);
        draw(painter);
        painter.end();
        kept.keep(key, picture);
    }
    QPainter(widget).drawPixmap(0, 0, picture);
}

} // namespace

QPixmap KeptPictures::find(const PictureKey &key)
{
    for (qsizetype i = 0; i < m_pictures.size(); ++i) {
        if (m_pictures[i].first == key) {
            m_pictures.move(i, 0);
            return m_pictures.first().second;
        }
    }
    return {};
}

void KeptPictures::keep(const PictureKey &key, const QPixmap &picture)
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
    // A bar without a range moves by itself (busy indicator): the style
    // animates it, so it is drawn afresh every time.
    if (minimum() == maximum() || !keepsPictures(this)) {
        fillGround(this, this);
        QProgressBar::paintEvent(event);
        return;
    }
    PictureKey key =
        keyOf(this, {minimum(), maximum(), value(),
                     int(alignment()) | int(orientation()) << 16 | int(invertedAppearance()) << 20 |
                         int(textDirection()) << 21 | int(isTextVisible()) << 22});
    if (isTextVisible())
        key.text = text() + QLatin1Char('\n') + font().key();
    paintKept(this, m_pictures, key, [&](QPainter &painter) {
        QStyleOptionProgressBar option;
        initStyleOption(&option);
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
    if (underMouse() || isSliderDown() || !keepsPictures(this)) {
        fillGround(this, this);
        QScrollBar::paintEvent(event);
        return;
    }
    const PictureKey key = keyOf(this, {minimum(), maximum(), sliderPosition(), pageStep(),
                                        int(orientation()) | int(invertedAppearance()) << 4});
    paintKept(this, m_pictures, key, [&](QPainter &painter) {
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        option.activeSubControls = QStyle::SC_None;
        style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
    });
}
