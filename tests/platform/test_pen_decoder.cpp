// The XInput 2 pen decoder, fed with device records and events made up in memory.
#ifdef TAVOLIX_HAVE_XI
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/pen_decoder.h"

namespace {

constexpr Atom PRESSURE = 77;

// A slave pointer with x, y and, unless `pressure_axis` is -1, a pressure valuator.
struct FakeDevice {
    XIValuatorClassInfo axes[3]{};
    XIAnyClassInfo* classes[3]{};
    XIDeviceInfo info{};
    FakeDevice(int id, const char* name, int pressure_axis, double min, double max) {
        for (int i = 0; i < 3; i++) {
            axes[i].type = XIValuatorClass;
            axes[i].number = i;
            axes[i].label = i == pressure_axis ? PRESSURE : 1000 + i;
            axes[i].min = i == pressure_axis ? min : 0;
            axes[i].max = i == pressure_axis ? max : 1000;
            classes[i] = reinterpret_cast<XIAnyClassInfo*>(&axes[i]);
        }
        info.deviceid = id;
        info.name = const_cast<char*>(name);
        info.use = XISlavePointer;
        info.num_classes = 3;
        info.classes = classes;
    }
};

// A device event carrying the valuators given as (axis, value) pairs.
struct FakeEvent {
    unsigned char mask[1]{};
    std::vector<double> values;
    XIDeviceEvent ev{};
    FakeEvent(int evtype, int device, double x, double y,
              std::initializer_list<std::pair<int, double>> valuators, int source = -1) {
        for (auto [axis, value] : valuators) {
            XISetMask(mask, axis);
            values.push_back(value);
        }
        ev.evtype = evtype;
        ev.deviceid = device;
        ev.sourceid = source < 0 ? device : source;
        ev.event_x = x;
        ev.event_y = y;
        ev.time = 5000;
        ev.valuators.mask_len = 1;
        ev.valuators.mask = mask;
        ev.valuators.values = values.data();
    }
};

} // namespace

TEST(PenDecoder, PensAreKeptAndOtherDevicesLeftOut) {
    PEN_DECODER dec;
    pen_decoder_init(&dec);
    FakeDevice pen(11, "Tablet Pen stylus", 2, 0, 1024), eraser(12, "Tablet Pen eraser", -1, 0, 0),
        mouse(13, "Some mouse", -1, 0, 0), flat(14, "Broken pen", 2, 0, 0);
    FakeDevice master(15, "Virtual core pointer", 2, 0, 1024);
    master.info.use = XIMasterPointer;
    EXPECT_EQ(pen_decoder_add(&dec, &pen.info, PRESSURE), 1);
    EXPECT_EQ(pen_decoder_add(&dec, &eraser.info, PRESSURE), 1);
    EXPECT_EQ(pen_decoder_add(&dec, &mouse.info, PRESSURE), 0);
    EXPECT_EQ(pen_decoder_add(&dec, &master.info, PRESSURE), 0);
    EXPECT_EQ(pen_decoder_add(&dec, &flat.info, PRESSURE), 1); // kept, pressure read full
    EXPECT_EQ(pen_decoder_add(&dec, &pen.info, PRESSURE), 1);  // again: replaced, not doubled
    EXPECT_EQ(dec.count, 3);
    EXPECT_TRUE(dec.devices[1].eraser && !dec.devices[0].eraser && !dec.devices[2].pressure_ok);
}

// Pressure from the valuator range, the last one kept when an event leaves it out, and the
// samples the decoder refuses.
TEST(PenDecoder, EventsBecomeSamples) {
    PEN_DECODER dec;
    pen_decoder_init(&dec);
    FakeDevice pen(11, "pen", 2, 0, 1024), reversed(12, "pen 2", 1, 4000, 0),
        flat(14, "pen 3", 2, 0, 0), eraser(15, "eraser", -1, 0, 0);
    for (FakeDevice* d : {&pen, &reversed, &flat, &eraser}) pen_decoder_add(&dec, &d->info, PRESSURE);
    const struct {
        FakeEvent event;
        int found;
        float pressure;
        bool is_eraser;
    } cases[] = {
        {FakeEvent(XI_ButtonPress, 11, 20.5, 30, {{0, 1}, {1, 2}, {2, 256}}), 1, 0.25f, false},
        {FakeEvent(XI_Motion, 11, 21, 30, {{0, 1}, {1, 2}}), 1, 0.25f, false}, // kept
        {FakeEvent(XI_Motion, 11, 22, 30, {{2, 5000}}), 1, 1.0f, false},     // clamped
        {FakeEvent(XI_Motion, 12, 22, 30, {{1, 1000}}), 1, 0.75f, false},     // reversed
        {FakeEvent(XI_Motion, 14, 22, 30, {{2, 3}}), 1, 1.0f, false},         // 0..0 range
        {FakeEvent(XI_ButtonRelease, 15, 22, 30, {}), 1, 1.0f, true},
        {FakeEvent(XI_Motion, 2, 22, 30, {{2, 300}}, 11), 0, 0, false},       // master's copy
        {FakeEvent(XI_Motion, 99, 22, 30, {{2, 300}}), 0, 0, false},          // not a pen
        {FakeEvent(XI_Motion, 11, NAN, 30, {{2, 300}}), 0, 0, false},
        {FakeEvent(XI_Enter, 11, 22, 30, {}), 0, 0, false},
    };
    for (const auto& c : cases) {
        PEN_SAMPLE s{};
        ASSERT_EQ(pen_decoder_event(&dec, &c.event.ev, &s), c.found) << c.event.ev.deviceid;
        if (!c.found) continue;
        EXPECT_FLOAT_EQ(s.pressure, c.pressure) << c.event.ev.deviceid;
        EXPECT_EQ(s.eraser, c.is_eraser);
        EXPECT_DOUBLE_EQ(s.time, 5.0);
        EXPECT_EQ(s.x, static_cast<float>(c.event.ev.event_x));
    }
}

// A pen unplugged or switched off mid-stroke is reported as gone; a device plugged in is
// handed back to be looked up.
TEST(PenDecoder, HierarchyChangesReportDevicesGoneAndNew) {
    PEN_DECODER dec;
    pen_decoder_init(&dec);
    FakeDevice pen(11, "pen", 2, 0, 1024), other(12, "pen 2", 2, 0, 1024);
    pen_decoder_add(&dec, &pen.info, PRESSURE);
    pen_decoder_add(&dec, &other.info, PRESSURE);
    XIHierarchyInfo info[3]{};
    info[0].deviceid = 11;
    info[0].flags = XISlaveRemoved;
    info[1].deviceid = 30;
    info[1].flags = XISlaveAdded;
    info[2].deviceid = 12;
    info[2].flags = XIDeviceDisabled;
    XIHierarchyEvent ev{};
    ev.num_info = 3;
    ev.info = info;
    PEN_SAMPLE out[4];
    int added[4], added_count = 0;
    ASSERT_EQ(pen_decoder_hierarchy(&dec, &ev, out, 4, added, 4, &added_count), 2);
    EXPECT_TRUE(out[0].gone && out[0].device == 11 && out[1].device == 12);
    EXPECT_TRUE(added_count == 1 && added[0] == 30);
    EXPECT_EQ(dec.count, 0);
    FakeEvent late(XI_Motion, 11, 1, 1, {{2, 10}});
    EXPECT_EQ(pen_decoder_event(&dec, &late.ev, out), 0);
}
#endif
