#include "q/q_wrap.h"

#include "q/q_common.h"

int q_wrap_layout(const Q_WRAP_ITEM* items, size_t count, double max_width, Q_WRAP_EMIT emit,
                  void* user) {
    if (!items || count == 0) return 1;

    int lines = 0;
    size_t first = 0;
    double width = 0.0;
    bool has_blank = false;
    size_t last_blank = 0;
    double width_before_blank = 0.0;
    double width_through_blank = 0.0;

    auto end_line = [&](size_t end, double line_width) {
        if (emit) emit(first, end, lines, line_width, user);
        lines++;
    };

    size_t i = 0;
    while (i < count) {
        const Q_WRAP_ITEM& item = items[i];
        if (item.flags & Q_WRAP_BREAK) {
            end_line(i, width);
            first = i + 1;
            width = 0.0;
            has_blank = false;
            i++;
            continue;
        }
        const double sum = width + item.width;
        if (sum <= max_width || i == first) {
            if (item.flags & Q_WRAP_BLANK) {
                has_blank = true;
                last_blank = i;
                width_before_blank = width;
                width_through_blank = sum;
            }
            width = sum;
            i++;
            continue;
        }
        if (item.flags & Q_WRAP_BLANK) {
            // The overflowing blank itself becomes the break and disappears.
            end_line(i, width);
            first = i + 1;
            width = 0.0;
            has_blank = false;
            i++;
            continue;
        }
        if (has_blank && last_blank >= first) {
            end_line(last_blank, width_before_blank);
            first = last_blank + 1;
            width -= width_through_blank;
            has_blank = false;
            continue; // examine the current item again on the new line
        }
        end_line(i, width);
        first = i;
        width = 0.0;
        has_blank = false;
    }
    // Whatever follows the last break is the last line, even when empty: there is always one
    // line more than there were breaks.
    end_line(count, width);
    return lines;
}
