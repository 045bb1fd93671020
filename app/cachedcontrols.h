#pragma once

#include <QProgressBar>
#include <QScrollBar>

// Two stock controls that change with nearly every frame of a busy line, and
// cycle through a few pictures while doing so. Each keeps the pictures the
// style drew for it (in QPixmapCache) and copies them in later frames instead
// of having the style draw again; the style's gradients and stripes cost far
// more than a copy, and on a real screen they are paid twenty times a second.
// Both are opaque: the pictures hold their ground too, so nothing behind them
// is painted first.

// The activity bar `ProgressBar1`: while a capture runs it steps through the
// same hundred values for as long as the capture lasts. A new value is
// painted in the window's next frame, not at once.
class ActivityBar : public QProgressBar
{
public:
    explicit ActivityBar(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The receive box's scroll bar: with every line that arrives its range grows,
// and with every tenth line it falls back.
class CachedScrollBar : public QScrollBar
{
public:
    explicit CachedScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
