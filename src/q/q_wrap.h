// Greedy line breaking over measured pieces of text.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    Q_WRAP_BLANK = 1, // a line may break here; the piece is dropped at the break
    Q_WRAP_BREAK = 2, // forced line break
};

struct Q_WRAP_ITEM {
    double width;
    uint32_t flags;
};

typedef void (*Q_WRAP_EMIT)(size_t first, size_t end, int line_index, double line_width,
                            void* user);

int q_wrap_layout(const Q_WRAP_ITEM* items, size_t count, double max_width, Q_WRAP_EMIT emit,
                  void* user);
