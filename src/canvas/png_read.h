// The PNGs that layered files hold, read through libpng's whole-image interface straight into
// a premultiplied memory bitmap. The image addon's general reader goes through a locked bitmap
// pixel by pixel and takes several times as long for a big layer; every kind of PNG (palette,
// grey, 16 bits, interlaced) arrives here as 8-bit RGBA.
#pragma once

#include <allegro5/allegro.h>

#include <cstddef>

enum PNG_READ_STATUS {
    PNG_READ_OK = 0,
    PNG_READ_UNSUPPORTED, // kept for callers that still tell it apart; no longer returned
    PNG_READ_DAMAGED,     // not a PNG, or its data ends or disagrees with its header
    PNG_READ_NO_MEMORY,
};

// A new memory bitmap in the layer pixel format holding the PNG's pixels premultiplied, or
// NULL with `status` set. Sides past `max_side` are refused (as damaged) before allocating.
// Safe on any thread: it uses only the calling thread's new-bitmap settings.
ALLEGRO_BITMAP* png_read_premultiplied(const unsigned char* bytes, size_t size, int max_side, int* status);
