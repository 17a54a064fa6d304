#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "i18n.h"
#include "platform/platform.h"
#include "tavolix_app.h"
#include "test_support.h"

namespace {

uint32_t field(const unsigned char* bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void set_field(std::vector<unsigned char>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// An application record with the start-up defaults and a small document, its save folder in a
// scratch directory.
struct SettingsFixture : testing::Test {
    ScratchDir dir;
    std::string old_appdata;
    TAVOLIX_APP app{};

    void SetUp() override {
        const char* appdata = getenv("APPDATA");
        old_appdata = appdata ? appdata : "";
        setenv("APPDATA", dir.path().c_str(), 1);
        ASSERT_EQ(platform_init(), 1);
        reset(&app);
    }
    void TearDown() override {
        autosave_shutdown(&app.autosave);
        selection_discard(&app.selection);
        if (app.clipboard) al_destroy_bitmap(app.clipboard);
        document_free(&app.doc);
        brush_engine_flush_cache();
        if (old_appdata.empty()) unsetenv("APPDATA");
        else setenv("APPDATA", old_appdata.c_str(), 1);
        tavolix_lang_set(0);
    }
    static void reset(TAVOLIX_APP* a) {
        a->preset = -1;
        a->ui_size = 1;
        brush_defaults(&a->brush);
        grid_init(&a->grid);
        symmetry_init(&a->symmetry, nullptr);
        tavolix_gui_option_defaults(&a->gui);
    }
    std::string save_file(const char* name) { return dir.path() + "/Tavolix/" + name; }
};

} // namespace

TEST_F(SettingsFixture, RecordLayoutFollowsTheTable) {
    app.pressure_from_speed = true;
    app.language = 3;
    app.tool = TOOL_LASSO;
    app.brush.mode = BRUSH_MODE_ERASE;
    app.preset = 2;
    app.brush.size = 33.9f;
    app.brush.opacity = 0.456f;
    app.brush.color = al_map_rgba(10, 20, 30, 200);
    app.grid.size = 64.0f;
    app.symmetry.mode = 4;
    app.symmetry.count = 9;
    app.gui.export_border = 7;
    app.ui_size = 3;
    unsigned char bytes[SETTINGS_V5_SIZE];
    _settings_build(&app, bytes);
    EXPECT_EQ(memcmp(bytes, "SSET", 4), 0);
    const std::vector<std::pair<size_t, uint32_t>> expected = {
        {4, 5},   {8, 1},   {12, 0},   {16, 3},  {20, 4},  {24, 1},   {28, 3},  {32, 33},
        {36, 46}, {40, 100}, {44, 70}, {52, 0},  {56, 0},  {68, 64},  {72, 4},  {76, 9},
        {84, 0x70}, {100, 1}, {104, 7}, {108, 1}, {112, 48}, {116, 0}, {120, 3}};
    for (auto [offset, value] : expected) EXPECT_EQ(field(bytes, offset), value) << offset;
    // The colour is R << 24 | G << 16 | B << 8 | A, so the file holds A, B, G, R.
    EXPECT_EQ(memcmp(bytes + 48, "\xC8\x1E\x14\x0A", 4), 0);
    // Read back whole, the record restores the GUI's colour chip from the colour.
    ASSERT_EQ(_settings_apply(&app, bytes, sizeof bytes), 1);
    EXPECT_TRUE(app.gui.selected_swatch == 8 && app.gui.picker_rgba[3] == 200);
}

// Every ranged field at one below its minimum, its minimum, its maximum and one above: values
// outside are brought back field by field, never the whole file rejected. What was applied is
// read back through the record the program would write.
TEST_F(SettingsFixture, EveryFieldIsClampedToItsRange) {
    const struct {
        size_t offset;
        int64_t low, high;
        bool above_is_unset; // past the end means "none" (stored as 0), not the maximum
    } fields[] = {{16, 0, 4, true},    {20, 0, 5, false},   {28, 0, brush_preset_count(), true},
                  {32, 1, 128, false}, {36, 1, 100, false}, {40, 1, 100, false},
                  {44, 0, 100, false}, {52, 0, 6, false},   {68, 2, 256, false},
                  {72, 0, 4, false},   {76, 2, 16, false},  {96, 0, 4096, false},
                  {104, 0, 256, false}, {112, 6, 512, false}, {116, 0, 3, false},
                  {120, 0, 3, false},   {124, 0, 100, false}, {128, 0, 2, false}};
    unsigned char full[SETTINGS_V5_SIZE];
    _settings_build(&app, full);
    for (const auto& f : fields) {
        const std::pair<int64_t, int64_t> probes[] = {
            {f.low - 1, f.low}, {f.low, f.low}, {f.high, f.high},
            {f.high + 1, f.above_is_unset ? f.low : f.high}};
        for (auto [stored, expected] : probes) {
            std::vector<unsigned char> bytes(full, full + SETTINGS_V5_SIZE);
            set_field(bytes, f.offset, static_cast<uint32_t>(stored));
            TAVOLIX_APP a{};
            reset(&a);
            ASSERT_EQ(_settings_apply(&a, bytes.data(), bytes.size()), 1);
            unsigned char back[SETTINGS_V5_SIZE];
            _settings_build(&a, back);
            EXPECT_EQ(static_cast<int64_t>(field(back, f.offset)), expected)
                << "offset " << f.offset << " stored " << stored;
        }
    }
}

// Version 5 keeps the stabilizer, the pen options and the recent colours; a version 4 file
// (shorter, or saying 4) leaves them at their defaults.
TEST_F(SettingsFixture, VersionFiveFieldsComeBackAndOlderFilesLeaveDefaults) {
    app.stabilizer = 40;
    app.pen_curve = PEN_CURVE_FIRM;
    app.pen_size = true;
    for (const unsigned char c : {10, 20, 30}) {
        const unsigned char rgba[4] = {c, 0, 0, 255};
        recent_colours_push(&app.recent, rgba);
    }
    std::vector<unsigned char> bytes(SETTINGS_V5_SIZE);
    _settings_build(&app, bytes.data());
    EXPECT_EQ(memcmp(bytes.data() + 140, "\xFF\x00\x00\x1E", 4), 0); // newest first
    TAVOLIX_APP a{};
    reset(&a);
    settings_v5_defaults(&a);
    ASSERT_EQ(_settings_apply(&a, bytes.data(), bytes.size()), 1);
    EXPECT_TRUE(a.stabilizer == 40 && a.pen_curve == PEN_CURVE_FIRM && a.pen_size);
    ASSERT_EQ(a.recent.count, 3);
    EXPECT_TRUE(a.recent.rgba[0][0] == 30 && a.recent.rgba[2][0] == 10);
    set_field(bytes, 136, 1000); // more than the record holds: the eight it has
    for (int i = 0; i < 8; i++) set_field(bytes, 140 + 4 * static_cast<size_t>(i), 0x100u * (i + 1) + 0xff);
    ASSERT_EQ(_settings_apply(&a, bytes.data(), bytes.size()), 1);
    EXPECT_EQ(a.recent.count, 8);
    for (const auto& [size, version] : {std::pair{size_t{124}, 5u}, std::pair{SETTINGS_V5_SIZE, 4u}}) {
        std::vector<unsigned char> old(bytes.begin(), bytes.begin() + static_cast<long>(size));
        set_field(old, 4, version);
        TAVOLIX_APP b{};
        reset(&b);
        settings_v5_defaults(&b);
        ASSERT_EQ(_settings_apply(&b, old.data(), old.size()), 1);
        EXPECT_TRUE(b.stabilizer == 0 && b.pen_curve == PEN_CURVE_LINEAR && b.recent.count == 0);
    }
}

// The recent colours stay in order of last use, without repeats, eight at most.
TEST(RecentColours, NewestFirstWithoutRepeats) {
    RECENT_COLOURS list{};
    auto push = [&](int v) {
        const unsigned char rgba[4] = {static_cast<unsigned char>(v), 0, 0, 255};
        return recent_colours_push(&list, rgba);
    };
    for (int v = 1; v <= 10; v++) push(v);
    ASSERT_EQ(list.count, 8);
    EXPECT_TRUE(list.rgba[0][0] == 10 && list.rgba[7][0] == 3);
    EXPECT_EQ(push(10), 0); // already in front
    EXPECT_EQ(push(5), 1);
    const int order[8] = {5, 10, 9, 8, 7, 6, 4, 3};
    for (int i = 0; i < 8; i++) EXPECT_EQ(list.rgba[i][0], order[i]) << i;
}

TEST_F(SettingsFixture, ShortFilesApplyWhatTheyHold) {
    unsigned char full[SETTINGS_V5_SIZE];
    app.ui_size = 3;
    app.tool = TOOL_FILL;
    app.language = 2;
    _settings_build(&app, full);
    TAVOLIX_APP a{};
    reset(&a);
    ASSERT_EQ(_settings_apply(&a, full, 123), 1); // everything but the interface size
    EXPECT_TRUE(a.tool == TOOL_FILL && a.ui_size == 1);
    reset(&a);
    a.tool = TOOL_BRUSH;
    ASSERT_EQ(_settings_apply(&a, full, 119), 1); // options and language only
    EXPECT_TRUE(a.language == 2 && a.tool == TOOL_BRUSH);
    ASSERT_EQ(_settings_apply(&a, full, 19), 1);
    EXPECT_EQ(a.language, 0);
    EXPECT_EQ(_settings_apply(&a, full, 15), 0);
    full[0] = 'X';
    EXPECT_EQ(_settings_apply(&a, full, 124), 0);
}

TEST_F(SettingsFixture, PalettesPersistAndComeBack) {
    palette_set_defaults(&app.palettes);
    EXPECT_EQ(tavolix_app_palette_load(&app), 0); // no file yet
    palette_new_from_active(&app.palettes);
    palette_new_from_active(&app.palettes);
    app.palette_load_pending = 1;
    tavolix_app_palette_persist(&app);
    EXPECT_EQ(app.palette_load_pending, 0);
    TAVOLIX_APP back{};
    EXPECT_EQ(tavolix_app_palette_load(&back), 1);
    EXPECT_TRUE(back.palettes.user_count == 2u && back.palettes.active == app.palettes.active);

    // A file cut inside its second palette keeps the first and a copy of itself; the file
    // stays for the next start until a save replaces it.
    const std::string cut = read_file(save_file("palette.dat")).substr(0, 20 + 60 + 50);
    ASSERT_TRUE(write_file(save_file("palette.dat"), cut));
    LogCapture log(3);
    EXPECT_EQ(tavolix_app_palette_load(&back), 1);
    EXPECT_EQ(back.palettes.user_count, 1u);
    EXPECT_EQ(read_file(save_file("palette.dat")), cut);
    EXPECT_EQ(read_file(save_file("palette.dat.bad")), cut);
    EXPECT_TRUE(log.contains("was damaged, a copy kept as"));
    // A file read whole never replaces that copy; one that cannot be read at all is moved there.
    tavolix_app_palette_persist(&back);
    EXPECT_EQ(tavolix_app_palette_load(&back), 1);
    EXPECT_EQ(read_file(save_file("palette.dat.bad")), cut);
    ASSERT_TRUE(write_file(save_file("palette.dat"), "not a palette file"));
    EXPECT_EQ(tavolix_app_palette_load(&back), 0);
    EXPECT_EQ(back.palettes.user_count, 0u); // the factory set stands
    EXPECT_FALSE(std::filesystem::exists(save_file("palette.dat")));
    EXPECT_EQ(read_file(save_file("palette.dat.bad")), "not a palette file");
    EXPECT_TRUE(log.contains("refused, kept as"));
}
