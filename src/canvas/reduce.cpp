#include "canvas/reduce.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "q/q_common.h"

int reduce_fit(int width, int height, int max_w, int max_h, int* out_w, int* out_h) {
    q_assert(out_w && out_h, return 0);
    width = std::max(width, 1);
    height = std::max(height, 1);
    max_w = std::max(max_w, 1);
    max_h = std::max(max_h, 1);
    if (width <= max_w && height <= max_h) {
        *out_w = width;
        *out_h = height;
        return 0;
    }
    // The tighter side decides; the other follows, rounded, never below one pixel.
    const double scale = std::min(static_cast<double>(max_w) / width, static_cast<double>(max_h) / height);
    *out_w = std::clamp(static_cast<int>(width * scale + 0.5), 1, max_w);
    *out_h = std::clamp(static_cast<int>(height * scale + 0.5), 1, max_h);
    return 1;
}

namespace {

// Where each of `to` boxes starts among `from` pixels, then where the last ends; and the box
// each of the `from` pixels falls in.
void make_boxes(int from, int to, std::vector<int>* starts, std::vector<int>* box) {
    starts->resize(static_cast<size_t>(to) + 1);
    box->resize(static_cast<size_t>(from));
    for (int i = 0; i <= to; i++)
        (*starts)[static_cast<size_t>(i)] = static_cast<int>(static_cast<int64_t>(i) * from / to);
    for (int i = 0; i < to; i++)
        for (int p = (*starts)[static_cast<size_t>(i)]; p < (*starts)[static_cast<size_t>(i) + 1]; p++)
            (*box)[static_cast<size_t>(p)] = i;
}

// Writes the averages of the target row being summed and clears its sums.
void flush_row(REDUCTION* r) {
    if (r->row < 0) return;
    unsigned char* out = r->out + r->row * r->pitch;
    const uint64_t rows = static_cast<uint64_t>(r->y_start[static_cast<size_t>(r->row) + 1] -
                                                r->y_start[static_cast<size_t>(r->row)]);
    for (int tx = 0; tx < r->w; tx++) {
        const uint64_t count = rows * static_cast<uint64_t>(r->x_start[static_cast<size_t>(tx) + 1] -
                                                            r->x_start[static_cast<size_t>(tx)]);
        uint64_t* sum = &r->sums[static_cast<size_t>(tx) * 4];
        for (int k = 0; k < 4; k++) {
            out[tx * 4 + k] = static_cast<unsigned char>((sum[k] + count / 2) / count);
            sum[k] = 0;
        }
    }
    r->row = -1;
}

// The sums of the target row that source row y falls in, after writing the one before.
uint64_t* row_sums(REDUCTION* r, int y) {
    const int target = r->row_box[static_cast<size_t>(y)];
    if (target != r->row) {
        flush_row(r);
        r->row = target;
    }
    return r->sums.data();
}

bool span_fits(const REDUCTION* r, int x, int y, int n) {
    return y >= 0 && y < r->src_h && x >= 0 && n >= 0 && n <= r->src_w - x;
}

} // namespace

int reduction_start(REDUCTION* r, int src_w, int src_h, int w, int h, unsigned char* out,
                    ptrdiff_t pitch) {
    q_assert(r, return 0);
    q_assert(out, return 0);
    if (w < 1 || h < 1 || w > src_w || h > src_h || pitch < static_cast<ptrdiff_t>(w) * 4) return 0;
    try {
        make_boxes(src_w, w, &r->x_start, &r->column_box);
        make_boxes(src_h, h, &r->y_start, &r->row_box);
        r->sums.assign(static_cast<size_t>(w) * 4, 0);
    } catch (const std::bad_alloc&) {
        q_log(3, "no memory to scale %dx%d down to %dx%d", src_w, src_h, w, h);
        return 0;
    }
    r->src_w = src_w;
    r->src_h = src_h;
    r->w = w;
    r->h = h;
    r->row = -1;
    r->out = out;
    r->pitch = pitch;
    for (int y = 0; y < h; y++) memset(out + y * pitch, 0, static_cast<size_t>(w) * 4);
    return 1;
}

void reduction_add_run(REDUCTION* r, int x, int y, uint32_t pixel, int n) {
    q_assert(r && r->out, return);
    q_assert(span_fits(r, x, y, n), return);
    if (pixel == 0 || n == 0) return;
    unsigned char bytes[4];
    memcpy(bytes, &pixel, 4);
    uint64_t* sums = row_sums(r, y);
    while (n > 0) {
        const int tx = r->column_box[static_cast<size_t>(x)];
        const int span = std::min(n, r->x_start[static_cast<size_t>(tx) + 1] - x);
        uint64_t* sum = sums + static_cast<size_t>(tx) * 4;
        for (int k = 0; k < 4; k++) sum[k] += static_cast<uint64_t>(bytes[k]) * static_cast<uint64_t>(span);
        x += span;
        n -= span;
    }
}

void reduction_add_pixels(REDUCTION* r, int x, int y, const uint32_t* pixels, int n) {
    q_assert(r && r->out, return);
    q_assert(pixels || n == 0, return);
    q_assert(span_fits(r, x, y, n), return);
    uint64_t* sums = row_sums(r, y);
    const int* box = r->column_box.data() + x;
    for (int i = 0; i < n; i++) {
        if (pixels[i] == 0) continue;
        unsigned char bytes[4];
        memcpy(bytes, &pixels[i], 4);
        uint64_t* sum = sums + static_cast<size_t>(box[i]) * 4;
        for (int k = 0; k < 4; k++) sum[k] += bytes[k];
    }
}

void reduction_finish(REDUCTION* r) {
    q_assert(r, return);
    flush_row(r);
}
