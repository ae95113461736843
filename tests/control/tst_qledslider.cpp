// The status lamp and the I0 slider: which picture the lamp draws, the
// slider's decade scale, bar and handle, and values that have no decade.

#include "app/initresources.h"
#include "control/qled.h"
#include "control/slider.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

#include <limits>

namespace
{
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

int tickCount(const Slider& slider)
{
    int n = 0;
    for (const QFrame* frame : slider.findChildren<QFrame*>())
        n += !qobject_cast<const QLabel*>(frame) && frame->frameShape() == QFrame::VLine;
    return n;
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
    }

    void led_toggleTwiceReturnsToTheFirstPicture()
    {
        QLed led;
        led.resize(70, 35);
        led.setShape(QLed::Rounded);
        led.setOnColor(QLed::Green);
        const QImage off = painted(led);
        led.toggleValue();
        QCOMPARE(led.picturePath(), QStringLiteral(":/resources/round_green.svg"));
        QVERIFY(painted(led) != off);
        led.toggleValue();
        QVERIFY(!led.value());
        QCOMPARE(painted(led), off);
    }

    // Designer forms set the lamp's enumerations by name.
    void led_propertiesSetByName()
    {
        QLed led;
        QVERIFY(led.setProperty("shape", QStringLiteral("Rounded")));
        QVERIFY(led.setProperty("onColor", QStringLiteral("Yellow")));
        QVERIFY(led.setProperty("value", true));
        QCOMPARE(led.picturePath(), QStringLiteral(":/resources/round_yellow.svg"));
        QCOMPARE(QMetaEnum::fromType<QLed::ledColor>().keyToValue("Blue"), 6);
    }

    void slider_initialScaleAndLastPosition()
    {
        Slider slider;
        QCOMPARE(scaleTexts(slider), (QStringList{"0", "0.2", "0.4", "0.6", "0.8", "1e+00"}));
        QSignalSpy moved(&slider, &Slider::valueChanged);
        slider.findChild<QSlider*>()->setValue(99); // as far right as the handle goes
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved.at(0).at(0).toFloat(), 0.99f);
    }

    void slider_setValueTakesTheDecadeOfTheValue()
    {
        Slider slider;
        QSignalSpy moved(&slider, &Slider::valueChanged);
        slider.setValue(3.7e-7f);
        QCOMPARE(scaleTexts(slider),
                 (QStringList{"0", "2e-07", "4e-07", "6e-07", "8e-07", "1e-06"}));
        QCOMPARE(barOf(slider), 37);

        slider.setValue(100.0f); // a power of ten is its own full scale
        QCOMPARE(scaleTexts(slider).last(), QStringLiteral("1e+02"));
        QCOMPARE(barOf(slider), 100);
        QCOMPARE(tickCount(slider), 6); // rebuilt, not added to

        slider.setValue(0.1f); // the float just above 0.1 belongs to the next decade
        QCOMPARE(slider.scaleMaximum(), 1.0f);
        QCOMPARE(moved.size(), 0); // a measured value is no operator's move
    }

    // No decade: the scale stays as it was, the bar empties (fills for +inf).
    void slider_valuesWithoutDecadeKeepTheScale_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("bar");
        QTest::newRow("zero") << 0.0f << 0;
        QTest::newRow("negative") << -2.5e-6f << 0;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0;
        QTest::newRow("+infinity") << std::numeric_limits<float>::infinity() << 100;
        QTest::newRow("decade beyond float") << 3e38f << 100;
    }
    void slider_valuesWithoutDecadeKeepTheScale()
    {
        QFETCH(float, value);
        QFETCH(int, bar);
        Slider slider;
        slider.setValue(4e-5f);
        const QStringList before = scaleTexts(slider);
        slider.setValue(value);
        QCOMPARE(scaleTexts(slider), before);
        QCOMPARE(barOf(slider), bar);
    }

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
        QCOMPARE(moved.size(), 1); // moved by program, reported like a drag
        QCOMPARE(moved.at(0).at(0).toFloat(), 2.5e-5f);
        slider.setSliderValue(5e-3f);
        QCOMPARE(handle->value(), 99);
        slider.setSliderValue(std::numeric_limits<float>::quiet_NaN());
        QCOMPARE(handle->value(), 99);

        // A scale of no width has no positions and no bar.
        slider.setScale(5, 1.0f, 1.0f);
        slider.setSliderValue(1.0f);
        QCOMPARE(handle->value(), 99);
        slider.setBarValue(1.0f);
        QCOMPARE(barOf(slider), 0);
    }
};

QTEST_MAIN(TestQLedSlider)
#include "tst_qledslider.moc"
