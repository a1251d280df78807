// Fuzzes the formatter: a format, eight argument slots and a capacity from
// the input. It must never write past the capacity, always terminate, and
// return the length it wrote.
//
// Text conversions take their slot as a pointer, so the slots either hold
// raw numbers (and the format's 's', 'S' and 'n' letters are changed into
// 'd') or point into a terminated pool of the input's bytes.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "runtime/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHead = 3 + 8 * 8;
    if (size < kHead) return 0;
    uint32_t capacity = 1 + ((data[0] | data[1] << 8) % 1200);
    bool pointers = data[2] & 1;
    uint64_t slots[8];
    memcpy(slots, data + 3, sizeof slots);

    std::vector<WChar> format;
    for (size_t i = kHead; i + 1 < size; i += 2) {
        WChar c = static_cast<WChar>(data[i] | data[i + 1] << 8);
        if (c == 0) break;
        if (c == u'n' || (!pointers && (c == u's' || c == u'S'))) c = u'd';
        format.push_back(c);
    }
    format.push_back(0);

    // The pool: the whole input, terminated in both widths.
    std::vector<uint8_t> pool(data, data + size);
    pool.insert(pool.end(), 4, 0);
    if (pointers) {
        // Even offsets, so wide text is aligned.
        for (uint64_t& slot : slots) slot = reinterpret_cast<uintptr_t>(pool.data() + (slot % size & ~uint64_t(1)));
    }

    std::vector<WChar> buffer(capacity);  // exactly the capacity: a write past it is caught
    uint32_t n = FormatTextV(buffer.data(), capacity, format.data(), slots, 8);
    if (n > capacity - 1 || buffer[n] != 0) __builtin_trap();
    return 0;
}
