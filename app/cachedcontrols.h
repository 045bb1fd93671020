#pragma once

#include <QList>
#include <QPixmap>
#include <QProgressBar>
#include <QScrollBar>
#include <QString>

#include <array>
#include <utility>

// Two stock controls that change with nearly every frame of a busy line, and
// cycle through a few pictures while doing so. Each keeps the pictures the
// style drew for it and copies them in later frames instead of having the
// style draw again; the style's gradients and stripes cost far more than a
// copy, and on a real screen they are paid twenty times a second. Both are
// opaque: the pictures hold their ground too, so nothing behind them is
// painted first. On a screen whose pixel ratio is not whole a copy would not
// fall on whole pixels, and there they paint as the stock controls do.

// What a kept picture looks like: everything the style's drawing depends on,
// gathered from the control without asking the style for anything. Plain
// numbers, so finding a picture costs a few comparisons, not a string.
struct PictureKey {
    std::array<qint64, 16> values{};
    QString text; // only where a control shows one
    bool operator==(const PictureKey &) const = default;
};

// The pictures a control keeps, the most recently used first; beyond its
// size the least recently used one goes.
class KeptPictures
{
public:
    explicit KeptPictures(qsizetype size) : m_size(size) {}
    // The picture kept under key, or a null one.
    QPixmap find(const PictureKey &key);
    void keep(const PictureKey &key, const QPixmap &picture);

private:
    qsizetype m_size;
    QList<std::pair<PictureKey, QPixmap>> m_pictures;
};

// The activity bar `ProgressBar1`: while a capture runs it steps through the
// same hundred values for as long as the capture lasts. A new value is
// painted in the window's next frame, not at once.
class ActivityBar : public QProgressBar
{
public:
    explicit ActivityBar(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KeptPictures m_pictures{101};
};

// The receive box's scroll bar: while lines trickle in its range grows with
// every line and falls back with every tenth, a handful of pictures. A line
// that never ends moves it to ever new places, so only a few are kept.
class CachedScrollBar : public QScrollBar
{
public:
    explicit CachedScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    KeptPictures m_pictures{8};
};
