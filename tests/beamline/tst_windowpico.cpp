// The picoammeter window over a scripted controller: the currents of each
// picoammeter's information record, the range message each panel sends, the
// range that cannot be chosen, and the panel of a second picoammeter that
// comes and goes with the device count.

#include "app/initresources.h"
#include "beamline/widgetpico.h"
#include "beamline/windowpico.h"
#include "support/bytes.h"
#include "support/programfixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QtTest>

#include <array>
#include <cstring>
#include <memory>

using namespace zevo;

namespace
{
// An information record written byte by byte: the four channel currents lie
// at offsets 52 (CH1), 44 (CH2), 36 (CH3) and 28 (CH4).
PicoInfoRecord infoWithCurrents(double ch1, double ch2, double ch3, double ch4)
{
    unsigned char bytes[64] = {};
    std::memcpy(bytes + 52, &ch1, 8);
    std::memcpy(bytes + 44, &ch2, 8);
    std::memcpy(bytes + 36, &ch3, 8);
    std::memcpy(bytes + 28, &ch4, 8);
    PicoInfoRecord r;
    std::memcpy(&r, bytes, sizeof r);
    return r;
}

} // namespace

class TestWindowPico : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProgramFixture> m_program;

    void startController(std::array<uint16_t, kSlotCount> ids)
    {
        m_program = std::make_unique<ProgramFixture>();
        m_program->controller.plug(ids);
        m_program->setUp();
    }

    static QStringList fields(WindowPico& w, int pico)
    {
        QStringList texts;
        for (int ch = 1; ch <= 4; ++ch)
            texts << w.panel(pico)
                         ->findChild<QLineEdit*>(QStringLiteral("currentCh%1Line").arg(ch))
                         ->text();
        return texts;
    }
    static bool secondPanelShown(WindowPico& w)
    {
        auto* label = w.findChild<QLabel*>(QStringLiteral("label_dorvish1"));
        return w.panel(1)->isVisibleTo(&w) && label->isVisibleTo(&w);
    }
    QStringList rangeMessages() const { return hexOf(m_program->sent(cmd::SetPicoRange)); }

private slots:
    void initTestCase() { initResources(); }
    void cleanup()
    {
        m_program->tearDown();
        m_program.reset();
    }

    void currents_showEachChannelInExponentFormat()
    {
        startController({0x2101, 0x2101, 0x2200, 0});
        m_program->driver.setPicoInfo(0, infoWithCurrents(1.234567e-9, 0.0, -2.5e-7, 1e-3));
        m_program->driver.setPicoInfo(1, infoWithCurrents(3.3e-12, 4.4e-11, 5.5e-10, 6.6e-9));
        m_program->updater->updateDorvishs();

        WindowPico w;
        QCOMPARE(w.windowTitle(), QStringLiteral("PicoAmperMeter"));
        // Before the first refresh the fields read zero.
        QCOMPARE(fields(w, 1),
                 (QStringList{"0.00000e+00", "0.00000e+00", "0.00000e+00", "0.00000e+00"}));
        w.show();
        QCOMPARE(fields(w, 0),
                 (QStringList{"1.23457e-09", "0.00000e+00", "-2.50000e-07", "1.00000e-03"}));
        QCOMPARE(fields(w, 1),
                 (QStringList{"3.30000e-12", "4.40000e-11", "5.50000e-10", "6.60000e-09"}));
        QVERIFY(!w.panel(0)->findChild<QLineEdit*>("currentCh1Line")->isEnabled());

        // The window keeps refreshing while it is closed.
        w.close();
        m_program->driver.setPicoInfo(0, infoWithCurrents(7e-8, 0, 0, 0));
        m_program->updater->updateDorvishs();
        QTRY_COMPARE_WITH_TIMEOUT(fields(w, 0).first(), QStringLiteral("7.00000e-08"),
                                  2 * WindowPico::kRefreshMs);
    }

    // Each panel sends its own picoammeter's index with the chosen range;
    // "AUTO" is listed but can be neither chosen nor sent.
    void updateRange_sendsTheChosenRangeForItsPicoammeter()
    {
        startController({0x2101, 0x2101, 0x2200, 0});
        WindowPico w;
        w.show();
        auto* box0 = w.panel(0)->findChild<QComboBox*>(QStringLiteral("rangeBox"));
        auto* save0 = w.panel(0)->findChild<QPushButton*>(QStringLiteral("saveButton"));
        auto* save1 = w.panel(1)->findChild<QPushButton*>(QStringLiteral("saveButton"));
        QCOMPARE(save0->text(), QStringLiteral("Update range"));
        QCOMPARE(box0->itemText(2), QStringLiteral("AUTO"));
        auto* model = qobject_cast<QStandardItemModel*>(box0->model());
        QVERIFY(!(model->item(2)->flags() & (Qt::ItemIsEnabled | Qt::ItemIsSelectable)));

        // The keyboard stops at "1".
        box0->setFocus();
        QTest::keyClick(box0, Qt::Key_Down);
        QTest::keyClick(box0, Qt::Key_Down);
        QTest::keyClick(box0, Qt::Key_End);
        QCOMPARE(box0->currentText(), QStringLiteral("1"));
        QVERIFY(rangeMessages().isEmpty()); // nothing goes out while choosing
        QTest::mouseClick(save0, Qt::LeftButton);
        QTest::mouseClick(save1, Qt::LeftButton);
        // Made current from code, "AUTO" still sends nothing.
        box0->setCurrentIndex(2);
        QTest::mouseClick(save0, Qt::LeftButton);

        QCOMPARE(rangeMessages(), goldenHex({"00030004 00000000 01",    // picoammeter 1, range 1
                                             "00030004 01000000 00"})); // picoammeter 2, range 0
    }

    // Exactly one device hides the second panel, also across reopening; no
    // device at all shows both; a second picoammeter shows it again, each
    // at the next refresh.
    void secondPanel_followsTheDeviceCount()
    {
        startController({0x2101, 0, 0x2200, 0});
        WindowPico w;
        QVERIFY(!secondPanelShown(w)); // built so
        w.show();
        QVERIFY(!secondPanelShown(w));
        QVERIFY(w.panel(0)->isVisible());
        w.close();
        w.show();
        QVERIFY(!secondPanelShown(w));

        auto replug = [this](std::array<uint16_t, kSlotCount> ids) {
            m_program->controller.plug(ids);
            m_program->mailbox->scanSlots();
        };
        const int wait = 2 * WindowPico::kRefreshMs;
        replug({0, 0, 0x2200, 0});
        QTRY_VERIFY_WITH_TIMEOUT(secondPanelShown(w), wait);
        QVERIFY(w.panel(0)->isVisible());
        replug({0x2101, 0, 0x2200, 0});
        QTRY_VERIFY_WITH_TIMEOUT(!secondPanelShown(w), wait);
        replug({0x2101, 0x2101, 0x2200, 0});
        QTRY_VERIFY_WITH_TIMEOUT(secondPanelShown(w), wait);
    }
};

QTEST_MAIN(TestWindowPico)
#include "tst_windowpico.moc"
