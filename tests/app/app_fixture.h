// An application record for tests: it borrows the test display and holds a small document
// with one layer and every tool record initialised, as start-up leaves them.
#pragma once

#include <allegro5/allegro_font.h>
#include <gtest/gtest.h>

#include "tavolix_app.h"

struct AppRecordTest : testing::Test {
    TAVOLIX_APP app{};
    void SetUp() override {
        app.display = al_get_current_display();
        app.display_w = al_get_display_width(app.display);
        app.display_h = al_get_display_height(app.display);
        app.doc = document_new(100, 80);
        ASSERT_NE(app.doc, nullptr);
        ASSERT_NE(document_add_layer(app.doc, "Layer 1"), nullptr);
        view_init(&app.view);
        brush_defaults(&app.brush);
        symmetry_init(&app.symmetry, app.doc);
        selection_init(&app.selection);
        form_init(&app.form);
        grid_init(&app.grid);
        gesture_init(&app.gesture);
        app.gui_visible = true;
    }
    void TearDown() override {
        app.display = nullptr; // owned by the test main
        tavolix_gui_shutdown(&app); // a resume may have built the GUI
        if (app.font) al_destroy_font(app.font);
        autosave_shutdown(&app.autosave);
        selection_discard(&app.selection);
        document_free(&app.doc);
        brush_engine_flush_cache();
    }
};
