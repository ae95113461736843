#include "device/globals.h"

#include "device/protocol.h"

extern "C" {
__attribute__((visibility("default"), used)) int SAMP_FREQ = 1000;
}

int BUFFER_BYTES = zevo::kDisplayBufferBytes;
std::atomic<int> PID_BASE_FREQ{100000};
std::atomic<int> pidSourceX{0};
std::atomic<int> pidSourceY{0};
std::atomic<int> pidSourceI0{0};
BpmScaleFactors bpmScale;
ControllerVersions controllerVersions;
int userLevel = 0;
int lockFileFd = -1;

Driver* theDriver = nullptr;
ConfigStore* theConfig = nullptr;
Updater* theUpdater = nullptr;
MailboxComm* theMailbox = nullptr;
DialogLogin* theLogin = nullptr;
