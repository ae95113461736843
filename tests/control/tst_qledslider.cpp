// The status lamp and the I0 slider: which picture the lamp draws, the
// slider's decade scale, bar and handle, and values that have no decade.

#include "app/initresources.h"
#include "control/qled.h"
#include "control/slider.h"

#include <QtTest>
#include <QtWidgets>

#include <limits>

namespace
{
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// What the lamp paints, on a transparent ground; null when nothing.
QImage painted(QLed& led)
{
    QImage image(led.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return image;
    return QImage();
}

QStringList scaleTexts(const Slider& slider)
{
    QStringList texts;
    for (const QLabel* label : slider.findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

int barOf(const Slider& slider)
{
    return slider.findChild<QProgressBar*>()->value();
}
} // namespace

class TestQLedSlider : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initResources(); }

    // Only shape and colour pairs that have a picture are drawn; toggling
    // twice returns to the first picture; Designer forms set the lamp's
    // enumerations by name.
    void led_drawsOnlyPairsThatHavePictures()
    {
        QLed led;
        led.resize(100, 50);
        QVERIFY(painted(led).isNull()); // the default circle has no picture
        led.setShape(QLed::Rounded);
        const QImage grey = painted(led);
        QVERIFY(!grey.isNull());
        led.setOffColor(QLed::Blue); // nor has blue
        QVERIFY(painted(led).isNull());
        led.setOffColor(QLed::Purple);
        QVERIFY(!painted(led).isNull() && painted(led) != grey);

        led.setOnColor(QLed::Green);
        const QImage off = painted(led);
        led.toggleValue();
        QCOMPARE(led.picturePath(), QStringLiteral(":/resources/round_green.svg"));
        QVERIFY(painted(led) != off);
        led.toggleValue();
        QVERIFY(!led.value());
        QCOMPARE(painted(led), off);

        QLed named;
        QVERIFY(named.setProperty("shape", QStringLiteral("Rounded")));
        QVERIFY(named.setProperty("onColor", QStringLiteral("Yellow")));
        QVERIFY(named.setProperty("value", true));
        QCOMPARE(named.picturePath(), QStringLiteral(":/resources/round_yellow.svg"));
        QCOMPARE(QMetaEnum::fromType<QLed::ledColor>().keyToValue("Blue"), 6);
    }

    // The scale takes the decade of a measured value (a power of ten is its
    // own full scale), rebuilt rather than added to; a measured value is no
    // operator's move, but the handle's last position is.
    void slider_scaleTakesTheDecadeOfTheValue()
    {
        Slider slider;
        QCOMPARE(scaleTexts(slider), (QStringList{"0", "0.2", "0.4", "0.6", "0.8", "1e+00"}));
        QSignalSpy moved(&slider, &Slider::valueChanged);
        slider.setValue(3.7e-7f);
        QCOMPARE(scaleTexts(slider),
                 (QStringList{"0", "2e-07", "4e-07", "6e-07", "8e-07", "1e-06"}));
        QCOMPARE(barOf(slider), 37);
        slider.setValue(100.0f);
        QCOMPARE(scaleTexts(slider).last(), QStringLiteral("1e+02"));
        QCOMPARE(barOf(slider), 100);
        int ticks = 0;
        for (const QFrame* frame : slider.findChildren<QFrame*>())
            ticks += !qobject_cast<const QLabel*>(frame) && frame->frameShape() == QFrame::VLine;
        QCOMPARE(ticks, 6);
        slider.setValue(0.1f); // the float just above 0.1 belongs to the next decade
        QCOMPARE(slider.scaleMaximum(), 1.0f);
        QCOMPARE(moved.size(), 0);

        slider.findChild<QSlider*>()->setValue(99); // as far right as the handle goes
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved.at(0).at(0).toFloat(), 0.99f);
    }

    // No decade: the scale stays as it was, the bar empties (fills for +inf
    // and for a decade beyond float).
    void slider_valuesWithoutDecadeKeepTheScale()
    {
        const std::pair<float, int> rows[] = {{0.0f, 0},
                                              {-2.5e-6f, 0},
                                              {kNaN, 0},
                                              {std::numeric_limits<float>::infinity(), 100},
                                              {3e38f, 100}};
        for (const auto& [value, bar] : rows) {
            Slider slider;
            slider.setValue(4e-5f);
            const QStringList before = scaleTexts(slider);
            slider.setValue(value);
            QCOMPARE(scaleTexts(slider), before);
            QCOMPARE(QString("%1: %2").arg(value).arg(barOf(slider)),
                     QString("%1: %2").arg(value).arg(bar));
        }
    }

    // Bar and handle stay on the scale; a handle moved by program is
    // reported like a drag; a scale of no width has no positions and no bar.
    void slider_barAndHandleStayOnTheScale()
    {
        Slider slider;
        slider.setBarValue(-0.5f);
        QCOMPARE(barOf(slider), 0);
        slider.setBarValue(2.0f);
        QCOMPARE(barOf(slider), 100);

        slider.setValue(6e-5f); // 0 .. 1e-4
        auto* handle = slider.findChild<QSlider*>();
        QSignalSpy moved(&slider, &Slider::valueChanged);
        slider.setSliderValue(2.5e-5f);
        QCOMPARE(handle->value(), 25);
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved.at(0).at(0).toFloat(), 2.5e-5f);
        for (float beyond : {5e-3f, kNaN}) {
            slider.setSliderValue(beyond);
            QCOMPARE(handle->value(), 99);
        }
        slider.setScale(5, 1.0f, 1.0f);
        slider.setSliderValue(1.0f);
        QCOMPARE(handle->value(), 99);
        slider.setBarValue(1.0f);
        QCOMPARE(barOf(slider), 0);
    }
};

QTEST_MAIN(TestQLedSlider)
#include "tst_qledslider.moc"
