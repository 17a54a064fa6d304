// Scaling pixels down by box averages, fed row by row.
//
// Each target pixel covers a box of source pixels, and every source pixel counts towards
// exactly one box, so a thin line is never dropped between samples as a point sampler would
// drop it. Pixels are fed as runs and spans of rows; a run of one colour costs one addition per
// box it crosses, and transparent pixels cost nothing. Sums are kept for one target row at a
// time: source rows must come in order, top down or bottom up, so a reduction of any size
// holds only one target row of sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct REDUCTION {
    int src_w = 0, src_h = 0; // the size fed
    int w = 0, h = 0;         // the size made
    std::vector<int> x_start;    // w + 1: where each target column's box starts, then the end
    std::vector<int> y_start;    // h + 1: the same for rows
    std::vector<int> column_box; // src_w: the target column each source column falls in
    std::vector<int> row_box;    // src_h: the target row each source row falls in
    std::vector<uint64_t> sums;  // w * 4: the channel sums of target row `row`
    int row = -1;                // the target row being summed, -1 before the first pixel
    unsigned char* out = nullptr; // w x h pixels, 4 bytes each, rows `pitch` bytes apart
    ptrdiff_t pitch = 0;
};

// The size a width x height picture gets when neither side may pass max_w x max_h: the same
// proportions, each side at least 1. 1 when it had to shrink, 0 when it fits as it is.
int reduce_fit(int width, int height, int max_w, int max_h, int* out_w, int* out_h);

// Starts a reduction of src_w x src_h pixels to w x h (no larger than the source) written to
// `out`, which it clears. 0 when the sizes make no sense or there is no memory for the tables.
int reduction_start(REDUCTION* r, int src_w, int src_h, int w, int h, unsigned char* out,
                    ptrdiff_t pitch);
// `n` pixels of one colour (4 bytes in memory order) from (x, y) along row y.
void reduction_add_run(REDUCTION* r, int x, int y, uint32_t pixel, int n);
// `n` pixels (4 bytes each in memory order) from (x, y) along row y.
void reduction_add_pixels(REDUCTION* r, int x, int y, const uint32_t* pixels, int n);
// Writes the last target row. Rows no pixel reached stay transparent.
void reduction_finish(REDUCTION* r);
