// Turning XInput 2 device events into pen samples (platform.h). Kept apart from the X
// connection so that it can be fed made-up events: it reads only the records it is handed.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include "platform/platform.h"

constexpr int PEN_DECODER_DEVICES = 16;

// One pen, or one end of a pen, as the window system lists it.
struct PEN_DEVICE {
    int id;
    int pressure_axis;  // valuator number of its pressure, -1 when it has none
    double min, max;    // the pressure valuator's range
    bool pressure_ok;   // the range can be normalised; otherwise every sample reads full
    bool eraser;        // an eraser end
    float pressure;     // last pressure seen, kept for events that leave the axis out
    char name[64];
};

struct PEN_DECODER {
    PEN_DEVICE devices[PEN_DECODER_DEVICES];
    int count;
};

void pen_decoder_init(PEN_DECODER* dec);
// Looks at a device the window system lists and keeps it when it is a pen: a slave pointer
// with a valuator labelled `pressure_label`, or whose name calls it an eraser. 1 when kept.
int pen_decoder_add(PEN_DECODER* dec, const XIDeviceInfo* info, Atom pressure_label);
// Forgets a device; 1 when it was a pen.
int pen_decoder_remove(PEN_DECODER* dec, int id);
// A motion, press or release of a device (XI_Motion, XI_ButtonPress, XI_ButtonRelease). Events
// a master device forwards for its slave are left to the slave's own copy. 1 and *out when the
// event came from a pen; `time` of the sample is the server's time in seconds.
int pen_decoder_event(PEN_DECODER* dec, const XIDeviceEvent* event, PEN_SAMPLE* out);
// Pens removed or disabled by a hierarchy change become samples marked gone (at most `max`);
// returns how many were written. Devices added are reported through `added` (at most
// `max_added` ids, their count in *added_count) for the caller to look up.
int pen_decoder_hierarchy(PEN_DECODER* dec, const XIHierarchyEvent* event, PEN_SAMPLE* out,
                          int max, int* added, int max_added, int* added_count);
