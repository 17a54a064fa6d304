// ============================================================================================
// Pen tablets on the Linux desktop
//   [SECTION] Sample queue
//   [SECTION] Replay of recorded samples (TAVOLIX_TEST_PEN)
//   [SECTION] XInput 2 decoder
//   [SECTION] X connection
//   [SECTION] Platform entry points
//
// The pens are read on a connection of our own to the same X display, selecting the device
// events of the program's window; the mouse events the tools run on still come through
// Allegro. Decoded samples and replayed ones go through one queue to platform_pen_poll.
// ============================================================================================
#include "platform/platform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "q/q_common.h"
#include "q/q_log.h"

#ifdef TAVOLIX_HAVE_XI
#include <allegro5/allegro_x.h>

#include "platform/pen_decoder.h"
#endif

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] Sample queue
// --------------------------------------------------------------------------------------------

// Samples wait here until the canvas asks; a canvas that does not ask (the splash, a popup)
// must not make it grow, so the oldest are dropped beyond this many.
constexpr size_t QUEUE_MAX = 512;
std::vector<PEN_SAMPLE> queue_samples;

void queue_push(const PEN_SAMPLE& s) {
    if (queue_samples.size() >= QUEUE_MAX) queue_samples.erase(queue_samples.begin());
    queue_samples.push_back(s);
}

// --------------------------------------------------------------------------------------------
// [SECTION] Replay of recorded samples (TAVOLIX_TEST_PEN)
// --------------------------------------------------------------------------------------------

// A recorded stroke plays back the way a pen produces it: the sample for a place is reported
// when the pointer gets there, stamped with the time of that pointer event. Lines hold
// "x y pressure eraser" in window pixels, or "gone" for the device leaving; '#' starts a
// comment.
constexpr int REPLAY_DEVICE = 1000;
constexpr float REPLAY_NEAR_PX = 1.5f;

struct REPLAY_LINE {
    PEN_SAMPLE sample;
};
std::vector<REPLAY_LINE> replay_lines;
size_t replay_next = 0;
bool replay_on = false;

bool replay_load(const char* path) {
    FILE* in = fopen(path, "r");
    if (!in) {
        q_log(3, "pen replay: cannot open %s", path);
        return false;
    }
    char line[256];
    int number = 0;
    while (fgets(line, sizeof line, in)) {
        number++;
        char* hash = strchr(line, '#');
        if (hash) *hash = 0;
        char word[16];
        PEN_SAMPLE s{};
        s.device = REPLAY_DEVICE;
        int eraser = 0;
        if (sscanf(line, " %15s", word) != 1) continue; // blank
        if (strcmp(word, "gone") == 0) {
            s.gone = true;
        } else if (sscanf(line, "%f %f %f %d", &s.x, &s.y, &s.pressure, &eraser) >= 3 &&
                   std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.pressure)) {
            s.pressure = std::clamp(s.pressure, 0.0f, 1.0f);
            s.eraser = eraser != 0;
        } else {
            q_log(3, "pen replay: %s line %d not understood, skipped", path, number);
            continue;
        }
        replay_lines.push_back({s});
    }
    fclose(in);
    q_log(6, "pen: replaying %zu samples from %s", replay_lines.size(), path);
    return true;
}

// The pointer reached (x, y): every recorded sample up to the next one there is reported,
// and a "gone" right after it too.
void replay_pointer(float x, float y, double time) {
    for (size_t j = replay_next; j < replay_lines.size(); j++) {
        const PEN_SAMPLE& s = replay_lines[j].sample;
        if (s.gone || std::fabs(s.x - x) > REPLAY_NEAR_PX || std::fabs(s.y - y) > REPLAY_NEAR_PX)
            continue;
        size_t end = j + 1;
        while (end < replay_lines.size() && replay_lines[end].sample.gone) end++;
        for (size_t k = replay_next; k < end; k++) {
            PEN_SAMPLE out = replay_lines[k].sample;
            out.time = time;
            queue_push(out);
        }
        replay_next = end;
        return;
    }
}

#ifdef TAVOLIX_HAVE_XI
} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] XInput 2 decoder
// --------------------------------------------------------------------------------------------

namespace {

bool name_says_eraser(const char* name) {
    for (const char* p = name; *p; p++)
        if (strncasecmp(p, "eraser", 6) == 0) return true;
    return false;
}

PEN_DEVICE* find_device(PEN_DECODER* dec, int id) {
    for (int i = 0; i < dec->count; i++)
        if (dec->devices[i].id == id) return &dec->devices[i];
    return nullptr;
}

// The value of valuator `axis` in an event's mask, when the event carries it: values are
// packed in the order of the mask's set bits.
bool valuator(const XIValuatorState& v, int axis, double* out) {
    if (axis < 0 || !v.mask || axis >= v.mask_len * 8 || !XIMaskIsSet(v.mask, axis)) return false;
    int index = 0;
    for (int i = 0; i < axis; i++)
        if (XIMaskIsSet(v.mask, i)) index++;
    *out = v.values[index];
    return true;
}

} // namespace

void pen_decoder_init(PEN_DECODER* dec) {
    q_assert(dec, return);
    memset(static_cast<void*>(dec), 0, sizeof *dec);
}

int pen_decoder_add(PEN_DECODER* dec, const XIDeviceInfo* info, Atom pressure_label) {
    q_assert(dec, return 0);
    q_assert(info, return 0);
    if (info->use != XISlavePointer && info->use != XIFloatingSlave) return 0;
    const char* name = info->name ? info->name : "";
    PEN_DEVICE pen{};
    pen.id = info->deviceid;
    pen.pressure_axis = -1;
    pen.pressure = 1.0f;
    pen.eraser = name_says_eraser(name);
    snprintf(pen.name, sizeof pen.name, "%s", name);
    for (int i = 0; i < info->num_classes && info->classes; i++) {
        const XIAnyClassInfo* any = info->classes[i];
        if (!any || any->type != XIValuatorClass) continue;
        const auto* v = reinterpret_cast<const XIValuatorClassInfo*>(any);
        if (pressure_label == None || v->label != pressure_label) continue;
        pen.pressure_axis = v->number;
        pen.min = v->min;
        pen.max = v->max;
    }
    if (pen.pressure_axis < 0 && !pen.eraser) return 0; // a mouse, a touchpad, a test device
    if (pen.pressure_axis >= 0) {
        pen.pressure_ok = std::isfinite(pen.min) && std::isfinite(pen.max) && pen.min != pen.max;
        if (!pen.pressure_ok)
            q_log(3, "pen: %s has the unusable pressure range %g..%g, its pressure reads full",
                  pen.name, pen.min, pen.max);
        else if (pen.min > pen.max)
            q_log(4, "pen: %s has a reversed pressure range %g..%g, read as given", pen.name,
                  pen.min, pen.max);
    }
    if (PEN_DEVICE* old = find_device(dec, pen.id)) {
        *old = pen;
        return 1;
    }
    if (dec->count >= PEN_DECODER_DEVICES) {
        q_log(3, "pen: more than %d pens, %s ignored", PEN_DECODER_DEVICES, pen.name);
        return 0;
    }
    dec->devices[dec->count++] = pen;
    q_log(6, "pen: device %d \"%s\"%s, pressure axis %d (%g..%g)", pen.id, pen.name,
          pen.eraser ? " (eraser)" : "", pen.pressure_axis, pen.min, pen.max);
    return 1;
}

int pen_decoder_remove(PEN_DECODER* dec, int id) {
    q_assert(dec, return 0);
    for (int i = 0; i < dec->count; i++) {
        if (dec->devices[i].id != id) continue;
        dec->devices[i] = dec->devices[--dec->count];
        return 1;
    }
    return 0;
}

int pen_decoder_event(PEN_DECODER* dec, const XIDeviceEvent* event, PEN_SAMPLE* out) {
    q_assert(dec, return 0);
    q_assert(event, return 0);
    q_assert(out, return 0);
    if (event->evtype != XI_Motion && event->evtype != XI_ButtonPress &&
        event->evtype != XI_ButtonRelease)
        return 0;
    if (event->deviceid != event->sourceid) return 0; // a master's copy
    PEN_DEVICE* pen = find_device(dec, event->sourceid);
    if (!pen) return 0;
    double raw = 0.0;
    if (pen->pressure_ok && valuator(event->valuators, pen->pressure_axis, &raw)) {
        const double t = (raw - pen->min) / (pen->max - pen->min);
        pen->pressure = std::isfinite(t) ? static_cast<float>(std::clamp(t, 0.0, 1.0)) : 0.0f;
    } else if (!pen->pressure_ok) {
        pen->pressure = 1.0f;
    }
    if (!std::isfinite(event->event_x) || !std::isfinite(event->event_y)) return 0;
    *out = PEN_SAMPLE{};
    out->x = static_cast<float>(event->event_x);
    out->y = static_cast<float>(event->event_y);
    out->pressure = pen->pressure;
    out->eraser = pen->eraser;
    out->device = pen->id;
    out->time = static_cast<double>(event->time) / 1000.0;
    return 1;
}

int pen_decoder_hierarchy(PEN_DECODER* dec, const XIHierarchyEvent* event, PEN_SAMPLE* out,
                          int max, int* added, int max_added, int* added_count) {
    q_assert(dec && event && out && added && added_count, return 0);
    int written = 0;
    *added_count = 0;
    for (int i = 0; i < event->num_info && event->info; i++) {
        const XIHierarchyInfo& info = event->info[i];
        if (info.flags & (XISlaveRemoved | XIDeviceDisabled)) {
            if (pen_decoder_remove(dec, info.deviceid)) {
                q_log(6, "pen: device %d left", info.deviceid);
                if (written < max) {
                    out[written] = PEN_SAMPLE{};
                    out[written].gone = true;
                    out[written].device = info.deviceid;
                    written++;
                }
            }
        } else if ((info.flags & (XISlaveAdded | XIDeviceEnabled)) && *added_count < max_added) {
            added[(*added_count)++] = info.deviceid;
        }
    }
    return written;
}

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] X connection
// --------------------------------------------------------------------------------------------

Display* x_display = nullptr;
int xi_opcode = 0;
Atom pressure_atom = None;
PEN_DECODER decoder;
// Server time to al_get_time: the smallest difference seen, i.e. the event that reached us
// fastest, which is the best estimate of the clocks' offset.
double clock_offset = 0.0;
bool clock_known = false;

int selection_error = 0;
XErrorHandler previous_handler = nullptr;

int catch_selection_error(Display* display, XErrorEvent* error) {
    if (display == x_display) {
        selection_error = error->error_code;
        return 0;
    }
    return previous_handler ? previous_handler(display, error) : 0;
}

Window x_window = 0;

// One selection, waited for, with the server's refusal caught rather than left to the default
// handler (which would end the program): the X error code, 0 when the server took it.
int select_checked(Window window, XIEventMask* mask) {
    XSync(x_display, False);
    selection_error = 0;
    previous_handler = XSetErrorHandler(catch_selection_error);
    XISelectEvents(x_display, window, mask, 1);
    XSync(x_display, False);
    XSetErrorHandler(previous_handler);
    return selection_error;
}

// Selects (or, with `on` false, stops) the device events of one pen on the program's window.
// Only the pens' own devices are selected, never a master device: an event a master device
// delivers through XInput 2 would no longer reach the program's window as an ordinary mouse
// event. 1 when the server took the selection.
int select_pen(int device, bool on) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(bits, XI_Motion);
        XISetMask(bits, XI_ButtonPress);
        XISetMask(bits, XI_ButtonRelease);
    }
    XIEventMask mask{device, on ? static_cast<int>(sizeof bits) : 0, bits};
    const int error = select_checked(x_window, &mask);
    if (error && on)
        q_log(3, "pen: the X server refused the events of pen %d (error %d), it works as a mouse",
              device, error);
    return error ? 0 : 1;
}

void look_up_devices(int which) {
    int count = 0;
    XIDeviceInfo* infos = XIQueryDevice(x_display, which, &count);
    if (!infos) return;
    for (int i = 0; i < count; i++) {
        if (!pen_decoder_add(&decoder, &infos[i], pressure_atom)) continue;
        if (!select_pen(infos[i].deviceid, true)) pen_decoder_remove(&decoder, infos[i].deviceid);
    }
    XIFreeDeviceInfo(infos);
}

void x_close() {
    if (x_display) XCloseDisplay(x_display);
    x_display = nullptr;
}

bool x_open(ALLEGRO_DISPLAY* display) {
    x_window = al_get_x_window_id(display);
    if (!x_window) {
        q_log(6, "pen: the display has no X window, no pen input");
        return false;
    }
    x_display = XOpenDisplay(nullptr);
    if (!x_display) {
        q_log(4, "pen: cannot open a second connection to the X display, no pen input");
        return false;
    }
    int event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(x_display, "XInputExtension", &xi_opcode, &event, &error) ||
        XIQueryVersion(x_display, &major, &minor) != Success || major < 2) {
        q_log(4, "pen: the X server has no XInput 2, no pen input");
        x_close();
        return false;
    }
    pressure_atom = XInternAtom(x_display, "Abs Pressure", False);
    pen_decoder_init(&decoder);

    // Pens plugged in later are announced on the root window.
    unsigned char hierarchy_bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(hierarchy_bits, XI_HierarchyChanged);
    XIEventMask on_root{XIAllDevices, static_cast<int>(sizeof hierarchy_bits), hierarchy_bits};
    if (const int refused = select_checked(DefaultRootWindow(x_display), &on_root)) {
        q_log(3, "pen: the X server refused the pen event selection (error %d), no pen input",
              refused);
        x_close();
        return false;
    }
    look_up_devices(XIAllDevices);
    q_log(6, "pen: XInput %d.%d, %d pen device(s)", major, minor, decoder.count);
    return true;
}

double local_time(double server) {
    const double offset = al_get_time() - server;
    // A first event, a faster one, or a server clock that jumped (a restart, a wrap).
    if (!clock_known || offset < clock_offset || offset - clock_offset > 5.0) {
        clock_offset = offset;
        clock_known = true;
    }
    return server + clock_offset;
}

void x_read() {
    while (x_display && XPending(x_display) > 0) {
        XEvent ev;
        XNextEvent(x_display, &ev);
        XGenericEventCookie* cookie = &ev.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != xi_opcode ||
            !XGetEventData(x_display, cookie))
            continue;
        if (cookie->evtype == XI_HierarchyChanged) {
            PEN_SAMPLE gone[PEN_DECODER_DEVICES];
            int added[PEN_DECODER_DEVICES], added_count = 0;
            const int n = pen_decoder_hierarchy(
                &decoder, static_cast<const XIHierarchyEvent*>(cookie->data), gone,
                PEN_DECODER_DEVICES, added, PEN_DECODER_DEVICES, &added_count);
            for (int i = 0; i < n; i++) {
                gone[i].time = al_get_time();
                queue_push(gone[i]);
            }
            for (int i = 0; i < added_count; i++) look_up_devices(added[i]);
        } else {
            PEN_SAMPLE s;
            if (pen_decoder_event(&decoder, static_cast<const XIDeviceEvent*>(cookie->data), &s)) {
                s.time = local_time(s.time);
                queue_push(s);
            }
        }
        XFreeEventData(x_display, cookie);
    }
}
#endif // TAVOLIX_HAVE_XI

} // namespace

// --------------------------------------------------------------------------------------------
// [SECTION] Platform entry points
// --------------------------------------------------------------------------------------------

int platform_pen_start(ALLEGRO_DISPLAY* display) {
    q_assert(display, return 0);
    if (const char* replay = getenv("TAVOLIX_TEST_PEN"); replay && replay[0])
        replay_on = replay_load(replay);
#ifdef TAVOLIX_HAVE_XI
    if (x_open(display)) return 1;
#else
    q_log(6, "pen: built without XInput 2, no pen input");
#endif
    return replay_on ? 1 : 0;
}

void platform_pen_pointer(const ALLEGRO_EVENT* event) {
    if (!replay_on || !event) return;
    switch (event->type) {
    case ALLEGRO_EVENT_MOUSE_AXES:
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
        replay_pointer(static_cast<float>(event->mouse.x), static_cast<float>(event->mouse.y),
                       event->mouse.timestamp);
        break;
    default: break;
    }
}

int platform_pen_poll(PEN_SAMPLE* out, int max) {
    q_assert(out || max <= 0, return 0);
#ifdef TAVOLIX_HAVE_XI
    x_read();
#endif
    const int n = std::min(static_cast<int>(queue_samples.size()), std::max(max, 0));
    std::copy(queue_samples.begin(), queue_samples.begin() + n, out);
    queue_samples.erase(queue_samples.begin(), queue_samples.begin() + n);
    return n;
}

void platform_pen_stop() {
#ifdef TAVOLIX_HAVE_XI
    x_close();
#endif
    queue_samples.clear();
    queue_samples.shrink_to_fit();
    replay_lines.clear();
    replay_lines.shrink_to_fit();
    replay_next = 0;
    replay_on = false;
}
