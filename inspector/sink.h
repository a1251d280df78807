// Where the walk's lines and facts go: a plain record of functions, passed
// to the walk. sondrel's sink writes each line to its stream; sondrel-scan's
// frames them for the record of the file.
#ifndef SONDREL_INSPECTOR_SINK_H
#define SONDREL_INSPECTOR_SINK_H

#include <stdint.h>

#include "platform/types.h"
#include "runtime/format.h"

struct WaveFacts;

// No context travels with the functions: sondrel's sink is the output
// channel's own two functions, called straight from the walk's usual road.
struct WalkSink {
    // One line of the report (standard output) or the run's failure
    // (standard error): a format and its slots, as PrintMessageV takes them.
    void (*line)(const WChar* format, const uint64_t* slots, uint32_t slotCount);
    void (*error)(const WChar* format, const uint64_t* slots, uint32_t slotCount);
    // What the walk learnt of the file, once, as it ends (null: not wanted).
    void (*facts)(const WaveFacts& facts);
    // A warning the report shows among every field of the descriptor (-f),
    // when those are not shown: a record whose warnings are the same with or
    // without -f wants it (null: not wanted).
    void (*unshownWarning)(const WChar* format, const uint64_t* slots, uint32_t slotCount);
};

// The sink that writes lines as a sondrel run does.
extern const WalkSink kStreamSink;

template <typename... A>
void SinkLine(const WalkSink& sink, const WChar* format, A... args) {
    const uint64_t slots[sizeof...(A) + 1] = {ToSlot(args)..., 0};
    sink.line(format, slots, sizeof...(A));
}

template <typename... A>
void SinkError(const WalkSink& sink, const WChar* format, A... args) {
    const uint64_t slots[sizeof...(A) + 1] = {ToSlot(args)..., 0};
    sink.error(format, slots, sizeof...(A));
}

#endif
