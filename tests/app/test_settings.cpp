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
        selection_init(&a->selection);
        form_init(&a->form);
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
    unsigned char bytes[124];
    _settings_build(&app, bytes);
    EXPECT_EQ(memcmp(bytes, "SSET", 4), 0);
    const std::vector<std::pair<size_t, uint32_t>> expected = {
        {4, 4},   {8, 1},   {12, 0},   {16, 3},  {20, 4},  {24, 1},   {28, 3},  {32, 33},
        {36, 46}, {40, 100}, {44, 70}, {52, 0},  {56, 0},  {68, 64},  {72, 4},  {76, 9},
        {84, 0x70}, {100, 1}, {104, 7}, {108, 1}, {112, 48}, {116, 0}, {120, 3}};
    for (auto [offset, value] : expected) EXPECT_EQ(field(bytes, offset), value) << offset;
    // The colour is R << 24 | G << 16 | B << 8 | A, so the file holds A, B, G, R.
    EXPECT_EQ(bytes[48], 200);
    EXPECT_EQ(bytes[49], 30);
    EXPECT_EQ(bytes[50], 20);
    EXPECT_EQ(bytes[51], 10);

    TAVOLIX_APP back{};
    reset(&back);
    ASSERT_EQ(_settings_apply(&back, bytes, sizeof bytes), 1);
    EXPECT_EQ(back.tool, TOOL_LASSO);
    EXPECT_EQ(back.brush.mode, BRUSH_MODE_ERASE);
    EXPECT_EQ(back.preset, 2);
    EXPECT_FLOAT_EQ(back.brush.size, 33.0f);
    EXPECT_FLOAT_EQ(back.brush.opacity, 0.46f);
    EXPECT_EQ(back.symmetry.count, 9);
    EXPECT_EQ(back.ui_size, 3);
    EXPECT_EQ(back.gui.selected_swatch, 8);
    EXPECT_EQ(back.gui.picker_rgba[3], 200);
    EXPECT_TRUE(back.gui.section_folded[4] && !back.gui.section_folded[0]);
}

TEST_F(SettingsFixture, SizeThresholdsAndClamps) {
    unsigned char full[124];
    app.ui_size = 3;
    app.tool = TOOL_FILL;
    _settings_build(&app, full);
    std::vector<unsigned char> bytes(full, full + 124);
    set_field(bytes, 16, 0x109); // only the low byte counts, and 9 is no language
    set_field(bytes, 20, 6);     // the curve tool is never restored
    set_field(bytes, 28, 99);    // a preset past the table
    set_field(bytes, 32, 0xFFFFFFFF);
    set_field(bytes, 68, 9999);

    TAVOLIX_APP a{};
    reset(&a);
    a.language = 2;
    ASSERT_EQ(_settings_apply(&a, bytes.data(), 123), 1);
    EXPECT_EQ(a.language, 0);
    EXPECT_EQ(a.tool, TOOL_LINE);
    EXPECT_EQ(a.preset, -1);
    EXPECT_FLOAT_EQ(a.brush.size, 1.0f);
    EXPECT_FLOAT_EQ(a.grid.size, 256.0f);
    EXPECT_EQ(a.ui_size, 1); // 123 bytes: everything but the interface size

    TAVOLIX_APP b{};
    reset(&b);
    set_field(bytes, 16, 2);
    ASSERT_EQ(_settings_apply(&b, bytes.data(), 119), 1); // options and language only
    EXPECT_EQ(b.language, 2);
    EXPECT_EQ(b.tool, TOOL_BRUSH);
    EXPECT_FALSE(b.gui.gui_initialised);
    ASSERT_EQ(_settings_apply(&b, bytes.data(), 19), 1);
    EXPECT_EQ(b.language, 0);
    EXPECT_EQ(_settings_apply(&b, bytes.data(), 15), 0);
    bytes[0] = 'X';
    EXPECT_EQ(_settings_apply(&b, bytes.data(), 124), 0);
}

TEST_F(SettingsFixture, PersistAndLoadThroughTheSaveFolder) {
    app.brush.size = 77.0f;
    app.settings_load_pending = 1;
    ASSERT_TRUE(write_file(save_file("settings.dat"), "old settings"));
    tavolix_app_settings_persist(&app);
    EXPECT_EQ(app.settings_load_pending, 0);
    EXPECT_EQ(read_file(save_file("settings.dat")).size(), 124u);
    EXPECT_FALSE(std::filesystem::exists(save_file("settings.dat.tmp")));
    TAVOLIX_APP back{};
    reset(&back);
    LogCapture log(6);
    ASSERT_EQ(tavolix_app_settings_load(&back), 1);
    EXPECT_FLOAT_EQ(back.brush.size, 77.0f);
    EXPECT_TRUE(log.contains("settings load: 124 bytes, pressure 0, palm 0, language 0"));
    std::filesystem::remove(save_file("settings.dat"));
    EXPECT_EQ(tavolix_app_settings_load(&back), 0);
    EXPECT_TRUE(log.contains("settings load: no file at"));
}

TEST_F(SettingsFixture, SessionRoundTripAndUnreadableSessionKeptAside) {
    app.doc = document_new(64, 48);
    document_add_layer(app.doc, "kept");
    ASSERT_TRUE(write_file(save_file("session.tvl.tmp"), "left over from a crash"));
    tavolix_app_session_persist(&app);
    EXPECT_FALSE(std::filesystem::exists(save_file("session.tvl.tmp")));
    document_free(&app.doc);
    app.doc = document_new(10, 10);
    ASSERT_EQ(tavolix_app_session_restore(&app), 1);
    EXPECT_EQ(app.doc->width, 64);
    EXPECT_STREQ(app.doc->active_layer->name->data, "kept");

    ASSERT_TRUE(write_file(save_file("session.tvl"), "TVL3 damaged"));
    ASSERT_TRUE(write_file(save_file("session.tvl.bad"), "an older one"));
    LogCapture log(3);
    DOCUMENT* before = app.doc;
    EXPECT_EQ(tavolix_app_session_restore(&app), 0);
    EXPECT_EQ(app.doc, before);
    EXPECT_FALSE(std::filesystem::exists(save_file("session.tvl")));
    EXPECT_EQ(read_file(save_file("session.tvl.bad")), "TVL3 damaged");
    EXPECT_TRUE(log.contains("could not be loaded, kept as"));
}

TEST_F(SettingsFixture, PasteStepsSixteenPixelsEachTime) {
    app.doc = document_new(200, 200);
    document_add_layer(app.doc, "a");
    EXPECT_EQ(tavolix_app_clipboard_copy(&app), 0); // nothing floating
    EXPECT_EQ(tavolix_app_clipboard_paste(&app), 0); // nothing copied
    selection_begin_marquee(&app.selection, 20.0f, 30.0f);
    selection_update_marquee(&app.selection, 40.0f, 50.0f);
    ASSERT_EQ(selection_end_marquee(&app.selection, app.doc), 1);
    ASSERT_EQ(tavolix_app_clipboard_copy(&app), 1);
    EXPECT_EQ(app.clipboard_x, 20);
    EXPECT_EQ(app.clipboard_y, 30);
    for (int i = 1; i <= 3; i++) {
        ASSERT_EQ(tavolix_app_clipboard_paste(&app), 1);
        EXPECT_EQ(app.selection.rect.x, 20 + 16 * i);
        EXPECT_EQ(app.selection.rect.y, 30 + 16 * i);
        EXPECT_EQ(app.tool, TOOL_SELECT);
    }
    ASSERT_EQ(tavolix_app_clipboard_cut(&app), 1);
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_NONE);
}

TEST_F(SettingsFixture, PalettesPersistAndComeBack) {
    palette_set_defaults(&app.palettes);
    {
        LogCapture log(6);
        EXPECT_EQ(tavolix_app_palette_load(&app), 0);
        EXPECT_TRUE(log.contains("palette load: no file at"));
    }
    ASSERT_GE(palette_new_from_active(&app.palettes), 0);
    app.palette_load_pending = 1;
    tavolix_app_palette_persist(&app);
    EXPECT_EQ(app.palette_load_pending, 0);
    EXPECT_FALSE(std::filesystem::exists(save_file("palette.dat.tmp")));
    TAVOLIX_APP back{};
    palette_set_defaults(&back.palettes);
    EXPECT_EQ(tavolix_app_palette_load(&back), 1);
    EXPECT_EQ(back.palettes.user_count, 1u);
    EXPECT_EQ(back.palettes.active, app.palettes.active);

    ASSERT_TRUE(write_file(save_file("palette.dat"), "not a palette file"));
    LogCapture log(3);
    EXPECT_EQ(tavolix_app_palette_load(&back), 0);
    EXPECT_EQ(back.palettes.user_count, 0u); // the factory set stands
    EXPECT_EQ(read_file(save_file("palette.dat.bad")), "not a palette file");
    EXPECT_TRUE(log.contains("refused, kept as"));
}

TEST(SettingsSamples, GoodApplyBrokenIgnored) {
    for (const auto& entry : std::filesystem::directory_iterator(TAVOLIX_TEST_DATA "/settings")) {
        const std::string name = entry.path().filename().string();
        const std::string bytes = read_file(entry.path().string());
        TAVOLIX_APP app{};
        brush_defaults(&app.brush);
        const int applied = _settings_apply(
            &app, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        EXPECT_EQ(applied, name.rfind("good_", 0) == 0 ? 1 : 0) << name;
        EXPECT_GE(app.brush.size, 1.0f) << name;
        EXPECT_LE(app.brush.size, 128.0f) << name;
        EXPECT_GE(app.language, 0);
        EXPECT_LE(app.language, 4);
    }
    tavolix_lang_set(0);
}
