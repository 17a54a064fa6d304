// The command-line conversions: a document or picture flattened to a PNG, or a small PNG
// preview for file managers. They run without a window: layers are memory bitmaps and the
// flattening is done by the processor, so they work where no display can be opened.
#pragma once

#include "cmdline.h"

// Runs CMDLINE_EXPORT or CMDLINE_THUMBNAIL. The exit status: 0 when the PNG was written,
// 1 otherwise with one line on stderr saying why.
int cli_run(const CMDLINE* cmd);
// The thumbnail's size for a width x height document: the longer side `size`, or the
// document's own size when it is already smaller.
void cli_thumbnail_size(int width, int height, int size, int* out_w, int* out_h);
