// One-line texts for system error codes: the code, " - " and the system's
// description without its trailing period or line break.
#ifndef SONDREL_RUNTIME_ERRORTEXT_H
#define SONDREL_RUNTIME_ERRORTEXT_H

#include <stdint.h>

#include "platform/types.h"

// Writes the text for code into buffer (always terminated) and returns its
// length. module, when not null, is the only message table searched. The
// caller's last-error value is the same afterwards.
uint32_t SystemErrorText(WChar* buffer, uint32_t capacity, uint32_t code, void* module);

#endif
