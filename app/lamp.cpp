#include "lamp.h"

#include <QPainter>

Lamp::Lamp(QWidget *parent) : QWidget(parent)
{
}

void Lamp::setFillColor(quint32 bgr)
{
    if (bgr == m_fillColor)
        return;
    m_fillColor = bgr;
    update();
}

QRect Lamp::circleRect() const
{
    const int d = qMin(width(), height());
    return QRect((width() - d) / 2, (height() - d) / 2, d, d);
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(int(m_fillColor & 0xff), int((m_fillColor >> 8) & 0xff),
                      int((m_fillColor >> 16) & 0xff)));
    p.drawEllipse(circleRect());
}
