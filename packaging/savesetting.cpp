// Check helper, not installed: saves one setting into a configuration file
// through the program's own store, the way a settings window does.
//
//   zevo-savesetting FILE SCALE
//
// Writes SCALE as BPM 1's horizontal scale and reads it back. Exits 0 when
// it was saved, 1 when it was not, 2 on bad arguments. The package check
// runs it under several operators' accounts, one after the other, to see
// that the folder and file the package made let each of them save.

#include "device/configstore.h"

#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    bool ok = false;
    const double scale = argc == 3 ? QString::fromLocal8Bit(argv[2]).toDouble(&ok) : 0.0;
    if (!ok) {
        std::fprintf(stderr, "usage: zevo-savesetting FILE SCALE\n");
        return 2;
    }
    ConfigStore store(QString::fromLocal8Bit(argv[1]));
    if (!store.setScaleX(0, scale)) {
        std::fprintf(stderr, "zevo-savesetting: %s could not be written\n", argv[1]);
        return 1;
    }
    if (store.getScaleX(0) != scale) {
        std::fprintf(stderr, "zevo-savesetting: %s reads back %g, not %g\n", argv[1],
                     store.getScaleX(0), scale);
        return 1;
    }
    return 0;
}
