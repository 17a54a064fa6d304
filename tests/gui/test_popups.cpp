// The popups driven the way a user drives them: clicks on their buttons and characters typed
// into their fields, through the GUI's event routing, with the save folder in a scratch folder.
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_ttf.h>
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
#include "../canvas/canvas_test_util.h"

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
    // A red square of `side` pixels floating at (x, y), as a paste leaves it.
    void float_red_square(int x, int y, int side) {
        ALLEGRO_BITMAP* ink = al_create_bitmap(side, side);
        ASSERT_NE(ink, nullptr);
        ALLEGRO_STATE saved;
        al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP);
        al_set_target_bitmap(ink);
        al_clear_to_color(al_map_rgb(255, 0, 0));
        al_restore_state(&saved);
        ASSERT_EQ(selection_paste(&app.selection, app.doc, ink, x, y), 1);
        al_destroy_bitmap(ink);
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
    float_red_square(20, 20, 10);

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

// Nothing replaces a drawing whose changes no name holds without asking: Cancel keeps it,
// Discard replaces it, "Save as..." saves it and then goes on.
TEST_F(PopupTest, ReplacingAnUnsavedDrawingAsksFirst) {
    fill_committed(app.doc->active_layer, al_map_rgba(0, 0, 0, 255));
    app.named_valid = false; // a drawing brought back by the session
    DOCUMENT* before = app.doc;
    _open_new_canvas(&app);
    click(app.gui.pp.new_sizes[5]);
    ASSERT_TRUE(shown(GUI_POPUP_ASK));
    click(app.gui.pp.cancel[GUI_POPUP_ASK]);
    EXPECT_EQ(app.doc, before);
    EXPECT_EQ(app.gui.pending, GUI_PENDING_NONE);

    EXPECT_EQ(tavolix_gui_confirm_replace(&app, GUI_PENDING_NEW, 512, nullptr), 0);
    click(app.gui.pp.ask_save);
    type_into(GUI_POPUP_SAVE_NAME, "kept");
    click(app.gui.pp.ok[GUI_POPUP_SAVE_NAME]);
    EXPECT_TRUE(std::filesystem::exists(save_root.path() + "/Tavolix/kept.tvl"));
    EXPECT_EQ(app.doc->width, 512) << "saved, then replaced";
    EXPECT_EQ(tavolix_gui_confirm_replace(&app, GUI_PENDING_NEW, 1024, nullptr), 1) << "nothing to lose";

    fill_committed(app.doc->active_layer, al_map_rgba(0, 0, 0, 255));
    document_mark_changed(app.doc);
    EXPECT_EQ(tavolix_gui_confirm_replace(&app, GUI_PENDING_NEW, 1024, nullptr), 0);
    click(app.gui.pp.ok[GUI_POPUP_ASK]);
    EXPECT_EQ(app.doc->width, 1024) << "discarded because the user said so";
}

// The save popup never writes over another file without asking, never over the program's own
// files, and a loaded name it cannot type itself ("été") is saved under again as it was.
TEST_F(PopupTest, SavingNeverReplacesAnotherFileUnasked) {
    const std::string folder = save_root.path() + "/Tavolix/";
    ASSERT_TRUE(write_file(folder + "t.tvl", "someone else's"));
    tavolix_gui_request_save(&app);
    type_into(GUI_POPUP_SAVE_NAME, "t");
    click(app.gui.pp.ok[GUI_POPUP_SAVE_NAME]);
    ASSERT_TRUE(shown(GUI_POPUP_CONFIRM));
    EXPECT_STREQ(app.gui.confirm_text, "Replace t.tvl?");
    click(app.gui.pp.cancel[GUI_POPUP_CONFIRM]);
    EXPECT_EQ(read_file(folder + "t.tvl"), "someone else's");

    tavolix_gui_request_save(&app);
    type_into(GUI_POPUP_SAVE_NAME, "Session-2");
    click(app.gui.pp.ok[GUI_POPUP_SAVE_NAME]);
    EXPECT_EQ(notified(), "Reserved name, choose another: Session-2");
    EXPECT_FALSE(std::filesystem::exists(folder + "Session-2.tvl"));

    ASSERT_EQ(document_save(app.doc, (folder + "été.tvl").c_str()), 1);
    ASSERT_EQ(_load_named(&app, "été.tvl"), 1);
    tavolix_gui_request_save(&app);
    click(app.gui.pp.ok[GUI_POPUP_SAVE_NAME]);
    EXPECT_EQ(notified(), "Saved: été.tvl") << "no question: it is the document's own file";
    EXPECT_EQ(read_file(folder + "t.tvl"), "someone else's");
}

// Every text the questions and notices about a drawing's safety show fits its popup, in every
// language and at every interface size.
TEST_F(PopupTest, SafetyTextsFitTheirPopups) {
    const char* lines[] = {"Second window: saved in session-12.tvl",
                           "Kept in the Load list: kept 2026-12-07 03-21 2",
                           "Damaged drawing kept as session.tvl.bad-2",
                           "Could not open, kept as: kept 2026-12-07 03-21",
                           "Reserved name, choose another: session-12",
                           "The drawing has changes not saved under a name.",
                           "Save it before it is replaced?",
                           "Quit anyway? The changes would be lost.",
                           "Drawing saved again."};
    for (int language = 1; language <= 4; language++) {
        tavolix_lang_set(language);
        for (float scale : {0.75f, 1.0f, 1.5f, 2.0f}) {
            const GUI_METRICS m = gui_metrics(scale);
            ALLEGRO_FONT* font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf",
                                                  static_cast<int>(18 * scale + 0.5f), 0);
            ASSERT_NE(font, nullptr);
            auto fits = [&](const std::string& text) {
                return al_get_text_width(font, text.c_str()) < m.popup_wide - 23;
            };
            for (const char* line : lines) {
                std::string text = tavolix_tr(line);
                if (const char* at = strchr(line, ':'); at && text.find("%s") != std::string::npos)
                    text.replace(text.find("%s"), 2, at + 2);
                EXPECT_TRUE(fits(text)) << language << " " << scale << " " << text;
            }
            for (const char* reason : {"the disk is full", "the folder is read-only", "the folder is missing"}) {
                char text[256];
                snprintf(text, sizeof text, tavolix_tr("Drawing not saved: %s"), tavolix_tr(reason));
                EXPECT_TRUE(fits(text)) << language << " " << scale << " " << text;
            }
            float buttons = 2 * m.gap + 20;
            for (const char* label : {"Save as...", "Discard", "Cancel"})
                buttons += std::max(110 * m.k, al_get_text_width(font, tavolix_tr(label)) + 8 * m.k + 8);
            EXPECT_LT(buttons, m.popup_wide + 20) << language << " " << scale;
            al_destroy_font(font);
        }
    }
}

// Opening the export popup leaves a floating selection afloat, and its extent counts in the
// size shown; Cancel keeps it floating (the export itself commits it: test_gui_faults.sh).
TEST_F(PopupTest, TheExportPopupLeavesAFloatAfloat) {
    float_red_square(20, 20, 10);
    _open_export(&app);
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_FLOATING);
    // The float covers 20..29; 32 pixels of border, cut to the 100 x 80 document.
    const Q_GUI_WIDGET* title = q_gui_get_widget(app.gui.ctx, app.gui.pp.export_title);
    EXPECT_STREQ(static_cast<const Q_GUI_LABEL_DATA*>(title->data)->text, "Export PNG: 62 x 62 px");
    click(app.gui.pp.cancel[GUI_POPUP_EXPORT]);
    EXPECT_EQ(app.selection.phase, SELECTION_PHASE_FLOATING);
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
