// The popups driven the way a user drives them: clicks on their buttons and characters typed
// into their fields, through the GUI's event routing, with the save folder in a scratch folder.
#include <allegro5/allegro_font.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/app_fixture.h"
#include "gui/gui_internal.h"
#include "i18n.h"
#include "platform/platform.h"
#include "q/q_gui.h"
#include "q/q_gui_internal.h"
#include "test_support.h"

namespace {

struct PopupTest : AppRecordTest {
    ScratchDir save_root;
    EnvOverride env;
    void SetUp() override {
        AppRecordTest::SetUp();
        env.set("APPDATA", save_root.path().c_str());
        env.set("TAVOLIX_NO_NATIVE_CHOOSER", "1");
        ASSERT_EQ(platform_init(), 1);
        app.font = al_create_builtin_font();
        ASSERT_NE(app.font, nullptr);
        app.ui_scale = 1.0f;
        app.display_w = 1280;
        app.display_h = 800;
        app.running = true;
        tavolix_gui_option_defaults(&app.gui);
        palette_set_defaults(&app.palettes);
        ASSERT_EQ(tavolix_gui_init(&app), 1);
    }
    void TearDown() override {
        tavolix_gui_shutdown(&app);
        tavolix_lang_set(0);
        AppRecordTest::TearDown();
    }
    void send(ALLEGRO_EVENT ev) { tavolix_gui_handle_event(&app, &ev); }
    void click(int widget) {
        const Q_GUI_WIDGET* w = q_gui_get_widget(app.gui.ctx, widget);
        ASSERT_NE(w, nullptr);
        ALLEGRO_EVENT ev{};
        ev.mouse.x = static_cast<int>(w->window->x + w->x + w->w / 2);
        ev.mouse.y = static_cast<int>(w->window->y + w->y + w->h / 2);
        ev.mouse.button = 1;
        for (auto type : {ALLEGRO_EVENT_MOUSE_AXES, ALLEGRO_EVENT_MOUSE_BUTTON_DOWN,
                          ALLEGRO_EVENT_MOUSE_BUTTON_UP}) {
            ev.type = type;
            send(ev);
        }
    }
    // Replaces a popup field's text by typing: click into it, select all, type.
    void type_into(int popup, const char* utf8) {
        const int field = app.gui.popup_field[popup];
        click(field);
        q_gui_textarea_set_selection(app.gui.ctx, field, 0, 1 << 20);
        ALLEGRO_USTR_INFO info;
        const ALLEGRO_USTR* text = al_ref_cstr(&info, utf8);
        int at = 0;
        ALLEGRO_EVENT ev{};
        ev.type = ALLEGRO_EVENT_KEY_CHAR;
        for (int32_t c = al_ustr_get_next(text, &at); c >= 0; c = al_ustr_get_next(text, &at)) {
            ev.keyboard.unichar = c;
            send(ev);
        }
    }
    bool shown(int popup) {
        return app.gui.popup_open[popup] &&
               q_gui_window_is_open(app.gui.ctx, app.gui.popup_window[popup]);
    }
    std::string notified() { return shown(GUI_POPUP_NOTIFY) ? app.gui.notify_text : ""; }
};

} // namespace

TEST_F(PopupTest, EscapeClosesTheTopPopupFirstAndDismissingTheLanguageSettlesOnEnglish) {
    app.language = 0;
    tavolix_gui_request_language_choice(&app);
    tavolix_gui_request_quit(&app);
    click(app.gui.tb.text);
    ASSERT_TRUE(shown(GUI_POPUP_TEXT));
    EXPECT_EQ(tavolix_gui_wants_keyboard(&app), 1);
    for (int expected : {GUI_POPUP_TEXT, GUI_POPUP_CONFIRM, GUI_POPUP_LANGUAGE}) {
        ASSERT_TRUE(shown(expected));
        EXPECT_EQ(tavolix_gui_close_top_popup(&app), 1);
        EXPECT_FALSE(shown(expected)) << expected;
        // A closed popup's field keeps no keyboard the canvas needs.
        EXPECT_EQ(tavolix_gui_wants_keyboard(&app), 0) << expected;
    }
    EXPECT_EQ(app.language, 1);
    EXPECT_TRUE(app.gui.rebuild_pending);
    EXPECT_TRUE(app.running) << "closing the quit question must not quit";
    EXPECT_EQ(tavolix_gui_close_top_popup(&app), 0);
}

TEST_F(PopupTest, RebuildBringsBackOpenPopupsWithWhatTheyShowed) {
    tavolix_gui_request_save(&app);
    ASSERT_TRUE(shown(GUI_POPUP_SAVE_NAME));
    type_into(GUI_POPUP_SAVE_NAME, "Ébauche 1");
    tavolix_gui_notify(&app, "Loaded: x.tvl");
    _open_export(&app);
    app.gui.picker_rgba[0] = 200;
    ASSERT_EQ(tavolix_gui_rebuild(&app), 1);
    const Q_GUI_WIDGET* export_title = q_gui_get_widget(app.gui.ctx, app.gui.pp.export_title);
    EXPECT_STREQ(static_cast<const Q_GUI_LABEL_DATA*>(export_title->data)->text,
                 "Export PNG: nothing to export") << "the blank page, measured again";
    EXPECT_TRUE(shown(GUI_POPUP_SAVE_NAME));
    EXPECT_TRUE(shown(GUI_POPUP_NOTIFY));
    EXPECT_FALSE(shown(GUI_POPUP_PICKER));
    EXPECT_STREQ(q_gui_textarea_get_text(app.gui.ctx, app.gui.popup_field[GUI_POPUP_SAVE_NAME]),
                 "Ébauche 1");
    EXPECT_EQ(tavolix_gui_wants_keyboard(&app), 1) << "the field has the focus again";
    EXPECT_EQ(notified(), "Loaded: x.tvl");
    EXPECT_EQ(q_gui_slider_get_value(app.gui.ctx, app.gui.pp.picker_sliders[0]), 200);
}

TEST_F(PopupTest, SaveNameStaysInTheSaveFolderAndSavesWhatTheScreenShows) {
    ALLEGRO_BITMAP* ink = al_create_bitmap(10, 10);
    ASSERT_NE(ink, nullptr);
    {
        ALLEGRO_STATE saved;
        al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP);
        al_set_target_bitmap(ink);
        al_clear_to_color(al_map_rgb(255, 0, 0));
        al_restore_state(&saved);
    }
    ASSERT_EQ(selection_paste(&app.selection, app.doc, ink, 20, 20), 1);
    al_destroy_bitmap(ink);

    tavolix_gui_request_save(&app);
    type_into(GUI_POPUP_SAVE_NAME, "../../etc/passwd");
    click(app.gui.pp.ok[GUI_POPUP_SAVE_NAME]);
    const std::string path = save_root.path() + "/Tavolix/etcpasswd.tvl";
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_STREQ(app.gui.doc_name, "etcpasswd");
    EXPECT_EQ(app.gui.last_file, path);
    EXPECT_EQ(notified(), "Saved: etcpasswd.tvl");
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_NONE) << "the float went into the layer first";
    DOCUMENT* back = document_load(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(pixel_at(document_layer_at(back, 0)->bitmap, 25, 25).r, 255);
    document_free(&back);
}

TEST_F(PopupTest, NewCanvasRefusesSizesItCannotMakeAndKeepsTheDrawing) {
    snprintf(app.gui.doc_name, sizeof app.gui.doc_name, "old");
    for (const char* typed : {"100000", "abc", "63", "99999999999"}) {
        DOCUMENT* before = app.doc;
        _open_new_canvas(&app); // its button sits in the folded File section
        ASSERT_TRUE(shown(GUI_POPUP_NEW_DOC));
        type_into(GUI_POPUP_NEW_DOC, typed);
        click(app.gui.pp.ok[GUI_POPUP_NEW_DOC]);
        EXPECT_EQ(app.doc, before) << typed;
        EXPECT_EQ(notified(), "Custom size must be between 64 and 16384.") << typed;
        tavolix_gui_close_top_popup(&app);
    }
    _open_new_canvas(&app);
    type_into(GUI_POPUP_NEW_DOC, "64");
    click(app.gui.pp.ok[GUI_POPUP_NEW_DOC]);
    EXPECT_EQ(app.doc->width, 64);
    EXPECT_EQ(notified(), "New 64x64 canvas.");
    EXPECT_STREQ(app.gui.doc_name, "sketch") << "a new drawing must not save over the old file";
}

TEST_F(PopupTest, ReadOnlyTargetsAreRefusedWithANotice) {
    const struct {
        int button; // palette manager button, or -1 for "Clear" on a locked layer
        const char* notice;
    } cases[] = {{0, "Rename a custom palette (presets are read-only)."},
                 {3, "Remove a custom palette (presets are read-only)."},
                 {-1, "The layer is locked."}};
    app.doc->active_layer->locked = true;
    for (const auto& c : cases) {
        if (c.button >= 0) {
            click(app.gui.tb.manage);
            click(app.gui.pp.manage[c.button]);
        } else {
            click(app.gui.lp.clear);
            ASSERT_TRUE(shown(GUI_POPUP_CONFIRM));
            click(app.gui.pp.ok[GUI_POPUP_CONFIRM]);
        }
        EXPECT_EQ(notified(), c.notice);
        EXPECT_FALSE(shown(GUI_POPUP_PALETTE_NAME) || shown(GUI_POPUP_CONFIRM));
        tavolix_gui_close_top_popup(&app);
    }
    EXPECT_EQ(palette_count(&app.palettes), palette_preset_count());
}

// The picker's hex field: a colour typed whole is taken at once by the sliders and the wheel;
// text that is not a colour changes nothing and is refused at OK, the field showing the colour
// again.
TEST_F(PopupTest, PickerHexFieldTakesColoursAndRefusesOtherText) {
    _open_picker(&app);
    type_into(GUI_POPUP_PICKER, "#00ff00");
    const unsigned char green[4] = {0, 255, 0, 255};
    EXPECT_EQ(memcmp(app.gui.picker_rgba, green, 4), 0);
    EXPECT_EQ(q_gui_slider_get_value(app.gui.ctx, app.gui.pp.picker_sliders[1]), 255.0);
    float h = 0, s = 0, v = 0;
    ASSERT_EQ(q_gui_colorwheel_get_hsv(app.gui.ctx, app.gui.pp.picker_wheel, &h, &s, &v), 1);
    EXPECT_NEAR(h, 1.0f / 3.0f, 1e-4f);
    for (const char* bad : {"#", "#12", "#GGGGGG", "12345", "#12345 7"}) {
        type_into(GUI_POPUP_PICKER, bad);
        EXPECT_EQ(memcmp(app.gui.picker_rgba, green, 4), 0) << bad;
        click(app.gui.pp.ok[GUI_POPUP_PICKER]);
        EXPECT_TRUE(shown(GUI_POPUP_PICKER)) << bad;
        EXPECT_STREQ(q_gui_textarea_get_text(app.gui.ctx, app.gui.popup_field[GUI_POPUP_PICKER]),
                     "#00ff00");
    }
    type_into(GUI_POPUP_PICKER, "FF000080");
    click(app.gui.pp.ok[GUI_POPUP_PICKER]);
    EXPECT_FALSE(shown(GUI_POPUP_PICKER));
    unsigned char rgba[4];
    al_unmap_rgba(app.brush.color, &rgba[0], &rgba[1], &rgba[2], &rgba[3]);
    EXPECT_TRUE(rgba[0] == 255 && rgba[1] == 0 && rgba[3] == 128 && app.gui.selected_swatch == 8);
    char hex[16];
    _rgba_to_hex(rgba, hex, sizeof hex);
    EXPECT_STREQ(hex, "#ff000080");
}
