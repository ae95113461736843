// An acquisition library of the right name that lacks getBuffer(): the
// production program must tell the operator that the driver is missing.

extern "C" __attribute__((visibility("default"))) int getBufferSize()
{
    return 0;
}
