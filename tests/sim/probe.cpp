#include "simrig.h"
#include <cstdio>
#include <QCoreApplication>
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Scenario noisy; noisy.driftLevel = 0;
  SimRig rig(noisy); rig.advance(1.1);
  auto s = rig.statistics();
  printf("x %g %g %g\ny %g %g %g\ni %g %g %g\n", s.xMean, s.xStd, s.xStd1kHz, s.yMean, s.yStd, s.yStd1kHz, s.i0Mean, s.i0Std, s.i0Std1kHz);
  SimRig r2; r2.advance(0.01); printf("i0 at start %g\n", r2.statistics().i0Mean);
  r2.advance(1.0); printf("i0 1s %g\n", r2.statistics().i0Mean);
  r2.mailbox.setHvEnabled(false, 0); r2.advance(3); printf("i0 off %g hv %g state %u\n", r2.statistics().i0Mean, r2.info(0).hvVoltage, r2.info(0).hvState);
}
