#pragma once

// Registers the resources embedded in the application library: the style
// sheet, the lamp pictures, the device catalogue with its icons, the PID
// diagram, the logo and the BPM electrode pictures. The linker keeps a
// static library's resource data only when something refers to it, so the
// start-up sequence calls this before anything opens a ":/" path; a test
// that builds windows without the start-up sequence calls it too. Calling
// it again does no harm.
void initResources();
