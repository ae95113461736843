// The host's hold on the DAC outputs: a missing node stops a measurement
// before the controller is touched, and the outputs always go back.

#include "support/bytes.h"
#include "support/programfixture.h"

#include "measure/hostoutputs.h"

using namespace zevo;

struct Program : ProgramFixture {
    Program() { setUp(); }
    ~Program() { tearDown(); }
};

class TestHostOutputs : public QObject
{
    Q_OBJECT

private slots:

    void missingNode_failsBeforeAnyRequest_data()
    {
        QTest::addColumn<int>("nodes");
        QTest::addColumn<QString>("missing");
        QTest::newRow("DAC") << int(HostOutputs::DacOnly) << QString(kDacNode);
        QTest::newRow("picoammeter") << int(HostOutputs::DacAndPicoammeter) << QString(kPico0Node);
    }
    void missingNode_failsBeforeAnyRequest()
    {
        QFETCH(int, nodes);
        QFETCH(QString, missing);
        Program program;
        program.driver.setNodePresent(missing.toStdString(), false);
        {
            HostOutputs outputs{HostOutputs::Nodes(nodes)};
            QVERIFY(!outputs.open());
            QVERIFY(outputs.error().contains(missing));
            QVERIFY(outputs.setOutputs({1, 2, 3, 4}) < 0);
        }
        QCOMPARE(program.driver.countCalls(RecordingDriver::Call::Ioctl), 0);
        QCOMPARE(program.driver.stillOpen(), 0);
    }

    // Taken outputs go back to the controller however the measurement ends;
    // the output set carries the four voltages and the enable word.
    void takenOutputs_handedBackAtTheEnd()
    {
        Program program;
        {
            HostOutputs outputs(HostOutputs::DacAndPicoammeter);
            QVERIFY(outputs.open());
            outputs.takeOutputs();
            QCOMPARE(outputs.setOutputs({4.5, -1.0, 0.0, 2.0}), 0);
        }
        QCOMPARE(hexOf(program.sent(cmd::SetOutputsFromController)),
                 goldenHex({"00070001 00", "00070001 01"}));
        QByteArray record;
        for (const auto& call : program.driver.calls())
            if (call.request == DAC_IOC_SET_OUTPUTS)
                record = call.sent;
        QCOMPARE(record.toHex(), QByteArray("0000000000001240000000000000f0bf"
                                            "00000000000000000000000000000040"
                                            "01000000"));
        QCOMPARE(program.driver.stillOpen(), 0);
        QVERIFY(HostOutputs::isOutput(0) && HostOutputs::isOutput(3));
        QVERIFY(!HostOutputs::isOutput(-1) && !HostOutputs::isOutput(4));
    }
};

QTEST_MAIN(TestHostOutputs)
#include "tst_hostoutputs.moc"
