#pragma once

#include "seriallink.h"

#include <QWidget>

// The port lamp: a filled circle without outline that fits the smaller side
// of its box, centred. The colour is a 0x00BBGGRR number (255 red, 65280 green).
class Lamp : public QWidget, public LampControl
{
    Q_OBJECT
public:
    explicit Lamp(QWidget *parent = nullptr);

    quint32 FillColor() const { return m_fillColor; }
    void setFillColor(quint32 bgr) override;

    // The circle's box inside the widget.
    QRect circleRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    quint32 m_fillColor = 255;
};
