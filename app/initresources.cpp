#include "app/initresources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares and calls the global initialiser that rcc
// generates for each collection, so it must stand outside any namespace.
// "resources" holds the files embedded as written; "pictures" holds the PNGs
// rendered from our drawings at build time; "beamline" the electrode
// pictures of the BPM panels.
void initResources()
{
    Q_INIT_RESOURCE(resources);
    Q_INIT_RESOURCE(pictures);
    Q_INIT_RESOURCE(beamline);
}
