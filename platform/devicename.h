// Which names Windows takes for a device or a pipe rather than a file. A pure
// function of the name, apart from the backend that calls it, so that the
// tests on every system can read it.
#ifndef SONDREL_PLATFORM_DEVICENAME_H
#define SONDREL_PLATFORM_DEVICENAME_H

#include "platform/types.h"

// A name in the device space ("\\.\pipe\x", "\\.\COM1", "\\?\pipe\x" but not
// "\\?\C:\..."), in the object manager's space ("\??\..."), a pipe on any
// server ("\\host\pipe\x", "\\?\UNC\host\pipe\x"), or one whose last part is
// a reserved device name: "NUL", "com1.wav", "LPT¹", "nul.wav:s", "CON:",
// "CONOUT$". Forward slashes count as backslashes. Opening one connects to a
// pipe's server or acts on a device, so the Windows backend refuses it
// before the system sees it.
bool IsWindowsDeviceName(const WChar* name);

#endif
