#pragma once

#include <QStringList>
#include <QWidget>

#include <memory>

class QSvgRenderer;

// A status lamp drawn from the SVG pictures under ":/resources/": the shape
// picks the picture's prefix, the colour (onColor while lit, offColor while
// dark) its suffix. A shape/colour pair without a picture draws nothing.
class QLed : public QWidget
{
    Q_OBJECT
    // clang-format off
    Q_PROPERTY(bool value READ value WRITE setValue DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(ledColor onColor READ onColor WRITE setOnColor DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(ledColor offColor READ offColor WRITE setOffColor DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(ledShape shape READ shape WRITE setShape DESIGNABLE true SCRIPTABLE true STORED true)
    // clang-format on

public:
    enum ledColor { Red = 0, Green, Yellow, Grey, Orange, Purple, Blue };
    Q_ENUM(ledColor)
    enum ledShape { Circle = 0, Square, Triangle, Rounded };
    Q_ENUM(ledShape)

    explicit QLed(QWidget* parent = nullptr);
    ~QLed() override;

    bool value() const { return m_value; }
    ledColor onColor() const { return m_onColor; }
    ledColor offColor() const { return m_offColor; }
    ledShape shape() const { return m_shape; }

    // Resource path of the picture shown now.
    QString picturePath() const;

public slots:
    void setValue(bool value);
    void setOnColor(ledColor color);
    void setOffColor(ledColor color);
    void setShape(ledShape shape);
    void toggleValue();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_value = false;
    ledColor m_onColor = Red;
    ledColor m_offColor = Grey;
    ledShape m_shape = Circle;
    const QStringList m_shapes; // resource prefix per ledShape
    const QStringList m_colors; // file suffix per ledColor
    std::unique_ptr<QSvgRenderer> m_renderer;
};
