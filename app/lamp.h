#pragma once

#include <QWidget>

// The port lamp `Shape1`: a filled circle without outline that fits the
// smaller side of its box, centred. The colour is a 0x00BBGGRR number.
class Lamp : public QWidget
{
    Q_OBJECT
public:
    // The port is closed, open, or open with its device gone and waited for.
    static constexpr quint32 Red = 255;
    static constexpr quint32 Green = 65280;
    static constexpr quint32 Amber = 0x0080FF;

    explicit Lamp(QWidget *parent = nullptr);

    quint32 FillColor() const { return m_fillColor; }
    void setFillColor(quint32 bgr);

    // The circle's box inside the widget.
    QRect circleRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    quint32 m_fillColor = Red;
};
