// Argument text echoed in a message.
#include "inspector/run.h"

const WChar* EchoText(const WChar* text, WChar (&buffer)[kEchoRoom]) {
    const WChar* c = text;
    while (*c != 0 && EchoChar(*c) == *c) ++c;
    if (*c == 0) return text;
    uint32_t i = 0;
    for (; i + 1 < kEchoRoom && text[i] != 0; ++i) buffer[i] = EchoChar(text[i]);
    buffer[i] = 0;
    return buffer;
}
