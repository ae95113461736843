// The arithmetic of a rocking-curve scan: the grid of points, the output set
// of each point, and the percent done.

#include "analysis/rockingscan.h"

#include <QtTest>

#include <cmath>

class TestRockingScan : public QObject
{
    Q_OBJECT

private slots:
    // N points from start up to one step short of stop, in either direction,
    // without rounding drift along a long scan.
    void pointVolts_gridEndsOneStepShortOfStop()
    {
        // start, stop, point, points, volts
        const double cases[][5] = {{4, 6, 0, 1000, 4.0},     {4, 6, 1, 1000, 4.002},
                                   {4, 6, 999, 1000, 5.998}, {4, 6, 9999, 10000, 5.9998},
                                   {2, -1, 1, 3, 1.0},       {5, 5, 3, 7, 5.0},
                                   {4, 6, 0, 1, 4.0}};
        for (const auto& [start, stop, i, n, volts] : cases)
            QVERIFY2(std::fabs(rocking::pointVolts(start, stop, int(i), int(n)) - volts) < 1e-12,
                     qPrintable(QString::number(volts)));
    }

    void outputSet_scanHeldAndZero()
    {
        using Set = std::array<double, 4>;
        // X on output 3, Y on output 4: outputs 1 and 2 stay at 0 V.
        QCOMPARE(rocking::outputSet(2, 4.5, 3, 5.3), (Set{0.0, 0.0, 4.5, 5.3}));
        QCOMPARE(rocking::outputSet(1, 4.5, 0, 5.1), (Set{5.1, 4.5, 0.0, 0.0}));
        // Both directions on one output: the scanned voltage is applied.
        QCOMPARE(rocking::outputSet(1, 4.5, 1, 5.1), (Set{0.0, 4.5, 0.0, 0.0}));
        // Numbers that name no output set nothing, and nothing outside the set.
        QCOMPARE(rocking::outputSet(4, 4.5, -1, 5.1), (Set{0.0, 0.0, 0.0, 0.0}));
    }

    void percentDone_reaches100AtTheLastPoint()
    {
        for (int n : {1, 3, 7, 999, 1000, 10000}) {
            int last = -1;
            for (int i = 0; i < n; ++i) {
                const int p = rocking::percentDone(i, n);
                QVERIFY(p >= last && p <= 100);
                last = p;
            }
            QCOMPARE(last, 100);
        }
        QCOMPARE(rocking::percentDone(0, 0), 0);
        QCOMPARE(rocking::percentDone(29999999, 30000000), 100); // no overflow
    }
};

QTEST_APPLESS_MAIN(TestRockingScan)
#include "tst_rockingscan.moc"
