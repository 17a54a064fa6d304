// Every icon number has a glyph in each of its three states; other numbers draw the frame.
#include <gtest/gtest.h>

#include "gui/icons.h"
#include "q/q_gui.h"
#include "test_support.h"

namespace {

// Pixels of the glyph box in the text colour (bright), which neither the frame nor the
// background of the default look reaches.
int glyph_pixels(ALLEGRO_BITMAP* bitmap, int side) {
    const int box = static_cast<int>(tavolix_icon_glyph_size(side, side));
    const int from = (side - box) / 2 - 1;
    int bright = 0;
    for (int y = from; y < from + box + 2; y++)
        for (int x = from; x < from + box + 2; x++)
            if (pixel_at(bitmap, x, y).g >= 150) bright++;
    return bright;
}

} // namespace

TEST(Icons, EveryNumberHasAGlyphInEveryState) {
    const Q_GUI_THEME theme = q_gui_default_theme();
    for (int icon = 0; icon <= TAVOLIX_ICON_COUNT; icon++) {
        TAVOLIX_ICON_SET set;
        ASSERT_EQ(tavolix_icon_render(icon, &theme, 28, 28, &set), 1);
        for (ALLEGRO_BITMAP* state : set.bitmaps) {
            const int bright = glyph_pixels(state, 28);
            if (icon < TAVOLIX_ICON_COUNT) EXPECT_GE(bright, 12) << "icon " << icon;
            else EXPECT_EQ(bright, 0) << "a number without a glyph draws only the frame";
        }
        EXPECT_EQ(pixel_at(set.bitmaps[0], 0, 0).a, 0) << "rounded corners stay clear";
        tavolix_icon_set_destroy(&set);
        EXPECT_EQ(set.bitmaps[0], nullptr);
    }
}

TEST(Icons, SizesAndRefusals) {
    EXPECT_FLOAT_EQ(tavolix_icon_glyph_size(40, 40), 20.8f);
    EXPECT_FLOAT_EQ(tavolix_icon_line_width(40, 40), 2.288f);
    EXPECT_FLOAT_EQ(tavolix_icon_glyph_size(12, 30), 6.24f);
    EXPECT_FLOAT_EQ(tavolix_icon_line_width(12, 30), 1.6f);
    Q_GUI_THEME theme = q_gui_default_theme();
    TAVOLIX_ICON_SET set{};
    EXPECT_EQ(tavolix_icon_render(3, &theme, 0, 20, &set), 0);
    EXPECT_EQ(set.bitmaps[0], nullptr);
    // A borderless look still gets a one-pixel frame.
    theme.border_thickness = 0;
    ASSERT_EQ(tavolix_icon_render(3, &theme, 20, 20, &set), 1);
    EXPECT_GT(pixel_at(set.bitmaps[0], 10, 0).a, 0);
    tavolix_icon_set_destroy(&set);
}
