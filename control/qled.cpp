#include "control/qled.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

QLed::QLed(QWidget* parent)
    : QWidget(parent), m_shapes{QStringLiteral(":/resources/circle_"),
                                QStringLiteral(":/resources/square_"),
                                QStringLiteral(":/resources/triang_"),
                                QStringLiteral(":/resources/round_")},
      m_colors{QStringLiteral("red.svg"),    QStringLiteral("green.svg"),
               QStringLiteral("yellow.svg"), QStringLiteral("grey.svg"),
               QStringLiteral("orange.svg"), QStringLiteral("purple.svg"),
               QStringLiteral("blue.svg")},
      m_renderer(new QSvgRenderer)
{
}

QLed::~QLed() = default;

QString QLed::picturePath() const
{
    return m_shapes.value(m_shape) + m_colors.value(m_value ? m_onColor : m_offColor);
}

void QLed::setValue(bool value)
{
    m_value = value;
    update();
}

void QLed::setOnColor(ledColor color)
{
    m_onColor = color;
    update();
}

void QLed::setOffColor(ledColor color)
{
    m_offColor = color;
    update();
}

void QLed::setShape(ledShape shape)
{
    m_shape = shape;
    update();
}

void QLed::toggleValue()
{
    m_value = !m_value;
    update();
}

void QLed::paintEvent(QPaintEvent*)
{
    // Only the rounded lamps are drawn; any other pair has no picture and the
    // lamp stays empty. Looking first keeps the renderer from warning about
    // the missing file on every repaint.
    const QString path = picturePath();
    if (!QFile::exists(path))
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    m_renderer->load(path);
    m_renderer->render(&painter, QRectF(rect())); // stretched over the whole lamp
}
