// Pen pressure on the canvas: matching the pen samples the platform reports (platform.h) with
// the mouse events that drive the tools, and shaping the pressure with the user's curve.
//
// A pen moves the pointer, so each of its samples has a mouse event of the same moment at the
// same place. The canvas keeps the recent samples here and, for every press and motion during
// a stroke, takes the sample that lies at the event's position within a short time of it. A
// stroke whose press matched a sample is a pen stroke: its motions without a match of their
// own (a sample still on its way) keep the pressure last seen rather than jumping to full.
#pragma once

#include "platform/platform.h"

// How near in time and place a sample must be to the event it belongs to.
constexpr double PEN_MATCH_SECONDS = 0.25;
constexpr float PEN_MATCH_PX = 3.0f;
constexpr int PEN_HISTORY = 64;

enum PEN_CURVE { PEN_CURVE_SOFT = 0, PEN_CURVE_LINEAR = 1, PEN_CURVE_FIRM = 2 };
constexpr int PEN_CURVE_COUNT = 3;

struct PEN_INPUT {
    PEN_SAMPLE samples[PEN_HISTORY]; // a ring of the newest samples
    int count, next;
    bool stroke;     // the stroke in progress was started by a pen
    int device;      // its device
    bool eraser;     // it started on the eraser end
    float pressure;  // its last pressure, after the curve
};

void pen_input_reset(PEN_INPUT* pen);
// Keeps samples as they arrive. Returns 1 when one of them says the device of the pen stroke
// in progress left, which ends that stroke.
int pen_input_add(PEN_INPUT* pen, const PEN_SAMPLE* samples, int count);
// The sample that belongs to a pointer event at display (x, y) at `time`: the nearest within
// PEN_MATCH_PX and PEN_MATCH_SECONDS, the newest of equally near ones. 1 and *out, else 0.
int pen_input_match(const PEN_INPUT* pen, float x, float y, double time, PEN_SAMPLE* out);
// The user's curve: soft gives more ink for a light touch, firm asks for a harder press.
// Any input is clamped to 0..1 first (a value that is not a number counts as 0).
float pen_pressure_curve(float pressure, int curve);
// "Soft", "Linear" or "Firm"; any other curve is "Linear".
const char* pen_curve_name(int curve);
