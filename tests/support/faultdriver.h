#pragma once

#include "support/recordingdriver.h"

// The recording driver over another driver misbehaves on purpose when told to.
using FaultDriver = RecordingDriver;
