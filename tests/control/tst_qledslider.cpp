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

    // The lamp shows the picture of its shape and its present colour; only
    // the rounded lamps have pictures (the others draw nothing); Designer
    // forms set it up by name.
    void led_showsThePictureOfItsState()
    {
        QLed led;
        QStringList paths;
        led.setOffColor(QLed::Purple);
        paths << led.picturePath();
        led.setShape(QLed::Rounded);
        led.setOnColor(QLed::Green);
        for (int i = 0; i < 3; ++i, led.toggleValue())
            paths << led.picturePath();
        QCOMPARE(paths, (QStringList{":/resources/circle_purple.svg", ":/resources/round_purple.svg",
                                     ":/resources/round_green.svg", ":/resources/round_purple.svg"}));
        QVERIFY(QFile::exists(paths[1]) && QFile::exists(paths[2]) && !QFile::exists(paths[0]));
        QLed named;
        QVERIFY(named.setProperty("shape", QStringLiteral("Rounded")) &&
                named.setProperty("onColor", QStringLiteral("Yellow")) &&
                named.setProperty("value", true));
        QCOMPARE(named.picturePath(), QStringLiteral(":/resources/round_yellow.svg"));
    }

    // The scale takes the decade of a measured value (a power of ten is its
    // own full scale), rebuilt rather than added to; a value without a decade
    // keeps the scale, the bar empty (full for +inf and a decade beyond
    // float). A measured value is no operator's move; the handle is.
    void slider_scaleTakesTheDecadeOfTheValue()
    {
        Slider slider;
        QSignalSpy moved(&slider, &Slider::valueChanged);
        slider.setValue(3.7e-7f);
        QCOMPARE(scaleTexts(slider),
                 (QStringList{"0", "2e-07", "4e-07", "6e-07", "8e-07", "1e-06"}));
        QCOMPARE(barOf(slider), 37);
        slider.setValue(100.0f);
        QCOMPARE(scaleTexts(slider).last() + " " + QString::number(barOf(slider)),
                 QStringLiteral("1e+02 100"));
        int ticks = 0;
        for (const QFrame* frame : slider.findChildren<QFrame*>())
            ticks += !qobject_cast<const QLabel*>(frame) && frame->frameShape() == QFrame::VLine;
        QCOMPARE(ticks, 6);
        slider.setValue(0.1f); // the float just above 0.1 belongs to the next decade
        QCOMPARE(slider.scaleMaximum(), 1.0f);

        slider.setValue(4e-5f);
        QStringList bars;
        for (float value : {0.0f, -2.5e-6f, kNaN, std::numeric_limits<float>::infinity(), 3e38f}) {
            slider.setValue(value);
            bars << QString::number(slider.scaleMaximum()) + ":" + QString::number(barOf(slider));
        }
        QCOMPARE(bars.join(' '), QStringLiteral("0.0001:0 0.0001:0 0.0001:0 0.0001:100 0.0001:100"));
        QCOMPARE(moved.size(), 0);
        slider.findChild<QSlider*>()->setValue(99); // as far right as the handle goes
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved.at(0).at(0).toFloat(), 9.9e-5f);
    }

    // The handle stays on the scale; a handle moved by program is reported
    // like a drag; a scale of no width has no positions and no bar. (The bar
    // beyond either end of the scale: slider_scaleTakesTheDecadeOfTheValue.)
    void slider_barAndHandleStayOnTheScale()
    {
        Slider slider;
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
        slider.setBarValue(1.0f);
        QCOMPARE(QString("%1 %2").arg(handle->value()).arg(barOf(slider)), QStringLiteral("99 0"));
    }
};

QTEST_MAIN(TestQLedSlider)
#include "tst_qledslider.moc"
