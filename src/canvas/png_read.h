// A decoder for the PNGs layered files hold: 8-bit RGBA or RGB, not interlaced. It inflates
// and unfilters row by row straight into a memory bitmap, premultiplying on the way, which is
// several times faster than the image addon's general reader. Anything else (palettes, grey,
// 16 bits, interlacing) is left to that reader.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>

enum PNG_READ_STATUS {
    PNG_READ_OK = 0,
    PNG_READ_UNSUPPORTED, // a valid kind of PNG this decoder does not handle
    PNG_READ_DAMAGED,     // not a PNG, or its data ends or disagrees with its header
    PNG_READ_NO_MEMORY,
};

// A new memory bitmap in the layer pixel format holding the PNG's pixels premultiplied, or
// NULL with `status` set. Sides past `max_side` are refused (as damaged) before allocating.
// Safe on any thread: it uses only the calling thread's new-bitmap settings.
ALLEGRO_BITMAP* png_read_premultiplied(const unsigned char* bytes, size_t size, int max_side, int* status);
