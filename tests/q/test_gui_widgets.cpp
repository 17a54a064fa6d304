// Toolkit widgets: slider values, UTF-8 text editing and the clipboard, list and combo boxes,
// cutting text to its field, and what a font change does to measurements.
#include <cmath>
#include <string>

#include "gui_fixture.h"
#include "q/q_gui_internal.h"
#include "test_support.h"

namespace {

struct GuiWidgetTest : GuiTest {
    int win = -1;
    void SetUp() override {
        GuiTest::SetUp();
        win = plain_window(0, 0, 600, 400);
        q_gui_set_display(ctx, al_get_current_display());
    }
    int textarea(int max_length, int multiline = 0, Calls* calls = nullptr) {
        const int id = q_gui_add_textarea(ctx, win, 10, 10, 300, multiline ? 100 : 24, multiline,
                                          max_length, calls ? count_text : nullptr, calls);
        q_gui_set_focus(ctx, id);
        return id;
    }
    std::string text(int id) { return q_gui_textarea_get_text(ctx, id); }
    int cursor(int id) {
        return static_cast<Q_GUI_TEXTAREA_DATA*>(q_gui_get_widget(ctx, id)->data)->cursor;
    }
    void draw_once() {
        ALLEGRO_BITMAP* target = al_create_bitmap(640, 420);
        ALLEGRO_BITMAP* previous = al_get_target_bitmap();
        al_set_target_bitmap(target);
        q_gui_draw(ctx);
        al_set_target_bitmap(previous);
        al_destroy_bitmap(target);
    }
};

constexpr int CTRL = ALLEGRO_KEYMOD_CTRL;
constexpr int SHIFT = ALLEGRO_KEYMOD_SHIFT;
const char* const E_ACUTE = "\xc3\xa9";       // é, 2 bytes
const char* const KANJI = "\xe6\xbc\xa2";     // 漢, 3 bytes
const char* const EMOJI = "\xf0\x9f\x98\x80"; // 😀, 4 bytes

} // namespace

TEST_F(GuiWidgetTest, SliderSnapsToStepAndRange) {
    const int s = q_gui_add_slider(ctx, win, 0, 0, 100, 20, 0, 100, 0, 0, nullptr, nullptr);
    q_gui_slider_set_step(ctx, s, 5);
    const struct {
        double in, held;
    } cases[] = {{42.4, 40}, {43, 45}, {250, 100}, {-3, 0}, {INFINITY, 100}, {NAN, 100}};
    for (const auto& c : cases) {
        q_gui_slider_set_value(ctx, s, c.in);
        EXPECT_EQ(q_gui_slider_get_value(ctx, s), c.held) << c.in;
    }
    q_gui_slider_set_step(ctx, s, 0);
    q_gui_slider_set_value(ctx, s, 47);
    q_gui_slider_set_step(ctx, s, 10);
    EXPECT_EQ(q_gui_slider_get_value(ctx, s), 50);

    LogCapture log(4);
    q_gui_slider_set_range(ctx, s, 10, 5);
    q_gui_slider_set_step(ctx, s, -1);
    EXPECT_TRUE(log.contains("keeps its range"));
    EXPECT_TRUE(log.contains("keeps its step"));
    // A reversed range at creation is put in order; percent mode is always 0..100.
    const int r = q_gui_add_slider(ctx, win, 0, 0, 100, 20, 9, 1, 20, 0, nullptr, nullptr);
    EXPECT_EQ(q_gui_slider_get_value(ctx, r), 9);
    const int p = q_gui_add_slider(ctx, win, 0, 0, 100, 20, 3, 4, 70, 1, nullptr, nullptr);
    EXPECT_EQ(q_gui_slider_get_value(ctx, p), 70);
}

TEST_F(GuiWidgetTest, SliderValueFormatReadsOneDoubleOnly) {
    const int s = q_gui_add_slider(ctx, win, 0, 0, 100, 20, 0, 100, 33, 0, nullptr, nullptr);
    const auto* sd = static_cast<const Q_GUI_SLIDER_DATA*>(q_gui_get_widget(ctx, s)->data);
    const struct {
        const char* format;
        bool taken;
    } cases[] = {{"%.0f px", true}, {"%.0f %%", true}, {"%+08.2lf", true}, {"%s", false},
                 {"%d", false},     {"%f %f", false},  {"100%%", false},   {"%*f", false},
                 {"%n%f", false},   {"%.999f", false}};
    for (const auto& c : cases) {
        q_gui_slider_set_value_format(ctx, s, "%.1f");
        q_gui_slider_set_value_format(ctx, s, c.format);
        EXPECT_STREQ(sd->format, c.taken ? c.format : "%.1f") << c.format;
        draw_once(); // whatever is kept must print safely
    }
}

TEST_F(GuiWidgetTest, TextAreaEditsWholeCharacters) {
    Calls calls;
    const int t = textarea(40, 0, &calls);
    type("a");
    type(E_ACUTE);
    type(KANJI);
    type(EMOJI);
    EXPECT_EQ(text(t), std::string("a") + E_ACUTE + KANJI + EMOJI);
    EXPECT_EQ(calls.count, 4);
    key_char(ALLEGRO_KEY_BACKSPACE, 8); // the whole emoji goes
    EXPECT_EQ(text(t), std::string("a") + E_ACUTE + KANJI);
    key_char(ALLEGRO_KEY_LEFT);
    key_char(ALLEGRO_KEY_LEFT);
    EXPECT_EQ(cursor(t), 1);
    key_char(ALLEGRO_KEY_RIGHT, 0, SHIFT);
    key_char(ALLEGRO_KEY_RIGHT, 0, SHIFT); // selects é and 漢
    type("x");
    EXPECT_EQ(text(t), "ax");
    key_char(ALLEGRO_KEY_HOME);
    key_char(ALLEGRO_KEY_DELETE, 127);
    EXPECT_EQ(text(t), "x");
    key_char(ALLEGRO_KEY_END);
    key_char(0, 0xD800); // a lone surrogate is not a character
    key_char(0, 0x110000);
    key_char(ALLEGRO_KEY_TAB, 9);
    EXPECT_EQ(text(t), "x");
    EXPECT_EQ(key_char(ALLEGRO_KEY_ENTER, 13), 0); // single line: Enter is left to others
    EXPECT_EQ(text(t), "x");

    // Selections and set text land on boundaries; bad bytes never enter the buffer.
    q_gui_textarea_set_text(ctx, t, (std::string(KANJI) + "b\xff\xc3").c_str());
    EXPECT_EQ(text(t), std::string(KANJI) + "b");
    q_gui_textarea_set_selection(ctx, t, 1, 2);
    EXPECT_EQ(cursor(t), 0);
    q_gui_textarea_set_text(ctx, t, "a\r\nb");
    EXPECT_EQ(text(t), "ab");
}

TEST_F(GuiWidgetTest, TextAreaLimitCountsBytes) {
    const int t = textarea(5);
    type("abcde");
    type("f");
    EXPECT_EQ(text(t), "abcde");
    key_char(ALLEGRO_KEY_BACKSPACE, 8);
    type(E_ACUTE); // two bytes after four: does not fit
    EXPECT_EQ(text(t), "abcd");
    q_gui_textarea_set_text(ctx, t, (std::string("abc") + KANJI).c_str());
    EXPECT_EQ(text(t), "abc"); // cut before the character, not inside it

    const int m = textarea(20, 1);
    q_gui_textarea_set_text(ctx, m, "a\r\nb");
    EXPECT_EQ(text(m), "a\nb");
    key_char(ALLEGRO_KEY_ENTER, 13);
    EXPECT_EQ(text(m), "a\nb\n");
    key_char(ALLEGRO_KEY_UP);
    EXPECT_EQ(cursor(m), 2); // start of the line above
}

TEST_F(GuiWidgetTest, ClipboardCopyPasteAndRefusals) {
    Calls calls;
    const int t = textarea(12, 0, &calls);
    q_gui_textarea_set_text(ctx, t, (std::string(KANJI) + "ab").c_str());
    key_char(ALLEGRO_KEY_A, 1, CTRL);
    key_char(ALLEGRO_KEY_C, 3, CTRL);
    key_char(ALLEGRO_KEY_END);
    key_char(ALLEGRO_KEY_V, 22, CTRL);
    EXPECT_EQ(text(t), std::string(KANJI) + "ab" + KANJI + "ab");
    EXPECT_EQ(calls.count, 1);

    // A paste that cannot fit leaves the selection it would have replaced.
    q_gui_textarea_set_selection(ctx, t, 0, 3);
    key_char(ALLEGRO_KEY_V, 22, CTRL); // 10 - 3 + 5 = 12 fits
    EXPECT_EQ(text(t), std::string(KANJI) + "ab" + "ab" + KANJI + "ab");
    q_gui_textarea_set_selection(ctx, t, 0, 3);
    key_char(ALLEGRO_KEY_V, 22, CTRL); // 12 - 3 + 5 does not fit
    EXPECT_EQ(text(t), std::string(KANJI) + "ab" + "ab" + KANJI + "ab");

    // Pasted text is filtered for the field; a hidden field gives nothing away.
    q_gui_textarea_set_text(ctx, t, "");
    _textarea_paste_text(const_cast<Q_GUI_WIDGET*>(q_gui_get_widget(ctx, t)), "x\r\ny\x01\xff");
    EXPECT_EQ(text(t), "xy");
    q_gui_textarea_set_mask_char(ctx, t, '*');
    key_char(ALLEGRO_KEY_A, 1, CTRL);
    key_char(ALLEGRO_KEY_X, 24, CTRL);
    EXPECT_EQ(text(t), "xy");
}

TEST_F(GuiWidgetTest, ComboBoxKeysWheelAndSelection) {
    Calls calls;
    const int c = q_gui_add_combobox(ctx, win, 10, 10, 150, 24, count_index, &calls);
    for (const char* item : {"one", "two", "three"})
        q_gui_combobox_add_item(ctx, c, item);
    q_gui_combobox_set_selected(ctx, c, 7);
    EXPECT_EQ(q_gui_combobox_get_selected(ctx, c), -1);
    q_gui_set_focus(ctx, c);
    const struct {
        int key, selected, calls;
    } keys[] = {{ALLEGRO_KEY_UP, -1, 0},  {ALLEGRO_KEY_DOWN, 0, 1}, {ALLEGRO_KEY_END, 2, 2},
                {ALLEGRO_KEY_DOWN, 2, 2}, {ALLEGRO_KEY_HOME, 0, 3}, {ALLEGRO_KEY_HOME, 0, 3}};
    for (const auto& k : keys) {
        key_down(k.key);
        EXPECT_EQ(q_gui_combobox_get_selected(ctx, c), k.selected) << k.key;
        EXPECT_EQ(calls.count, k.calls) << k.key;
    }
    click(20, 20); // opens the list
    ASSERT_EQ(ctx->open_combo_id, c);
    move(20, 40, -2); // wheel down twice: the highlight moves, nothing is chosen yet
    EXPECT_EQ(q_gui_combobox_get_selected(ctx, c), 0);
    EXPECT_EQ(key_down(ALLEGRO_KEY_ENTER), 1);
    EXPECT_EQ(q_gui_combobox_get_selected(ctx, c), 2);
    EXPECT_EQ(ctx->open_combo_id, -1);
    q_gui_combobox_set_selected(ctx, c, -1);
    EXPECT_EQ(q_gui_combobox_get_selected(ctx, c), -1);
    q_gui_combobox_clear(ctx, c);
    EXPECT_EQ(key_down(ALLEGRO_KEY_DOWN), 0); // no items, nothing to step through
    EXPECT_EQ(q_gui_combobox_get_item_text(ctx, c, 0), nullptr);
}

TEST_F(GuiWidgetTest, ListBoxKeysWheelAndItems) {
    Calls calls;
    const int l = q_gui_add_listbox(
        ctx, win, 10, 10, 200, 80, Q_GUI_LISTBOX_SINGLE,
        [](int, int index, int, void* user) {
            static_cast<Calls*>(user)->count++;
            static_cast<Calls*>(user)->value = index;
        },
        &calls);
    q_gui_set_focus(ctx, l);
    EXPECT_EQ(key_down(ALLEGRO_KEY_DOWN), 0); // empty list
    char name[8];
    for (int i = 0; i < 20; i++) {
        snprintf(name, sizeof name, "row %d", i);
        ASSERT_EQ(q_gui_listbox_add_item(ctx, l, name), i);
    }
    EXPECT_STREQ(q_gui_listbox_get_item_text(ctx, l, 8), "row 8"); // survived the growth
    key_down(ALLEGRO_KEY_DOWN);
    key_down(ALLEGRO_KEY_END);
    EXPECT_EQ(q_gui_listbox_get_selected(ctx, l), 19);
    EXPECT_EQ(calls.count, 2);
    EXPECT_GT(q_gui_listbox_get_scroll_offset(ctx, l), 0); // scrolled to show the last row
    move(50, 30, 100);                                     // wheel up far past the top
    EXPECT_EQ(q_gui_listbox_get_scroll_offset(ctx, l), 0);
    move(50, 30, -100);
    const int rows = 80 / 20;
    EXPECT_EQ(q_gui_listbox_get_scroll_offset(ctx, l), 20 - rows);

    q_gui_listbox_set_selected(ctx, l, 3, 1);
    q_gui_listbox_set_selected(ctx, l, 5, 1);
    int selected = 0;
    for (int i = 0; i < 20; i++)
        selected += q_gui_listbox_is_selected(ctx, l, i);
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(q_gui_listbox_remove_item(ctx, l, 20), -1);
    EXPECT_EQ(q_gui_listbox_remove_item(ctx, l, 0), 0);
    EXPECT_EQ(q_gui_listbox_get_selected(ctx, l), 4);
    q_gui_listbox_clear(ctx, l);
    EXPECT_EQ(q_gui_listbox_get_count(ctx, l), 0);
    EXPECT_EQ(q_gui_listbox_get_selected(ctx, l), -1);
}

TEST_F(GuiWidgetTest, FixedFieldsKeepWholeCharacters) {
    // Each field keeps `limit` bytes at most; the text puts a 3-byte character across it.
    std::string over(125, 'a');
    over += KANJI;
    const std::string under(125, 'a');
    const int w = q_gui_add_window(ctx, over.c_str(), 0, 0, 10, 10);
    EXPECT_EQ(std::string(q_gui_get_window(ctx, w)->title), under);
    const int b = q_gui_add_button(ctx, win, over.c_str(), 0, 0, 10, 10, 1, nullptr, nullptr);
    EXPECT_EQ(std::string(static_cast<Q_GUI_BUTTON_DATA*>(q_gui_get_widget(ctx, b)->data)->label),
              under);
    q_gui_widget_set_persist_key(ctx, b, over.c_str());
    EXPECT_EQ(std::string(q_gui_widget_get_persist_key(ctx, b)), under);
    const int l = q_gui_add_listbox(ctx, win, 0, 0, 10, 10, 1, nullptr, nullptr);
    q_gui_listbox_add_item(ctx, l, over.c_str());
    EXPECT_EQ(std::string(q_gui_listbox_get_item_text(ctx, l, 0)), under);

    std::string long_label(4093, 'b');
    long_label += EMOJI;
    const int lab = q_gui_add_label(ctx, win, long_label.c_str(), 0, 0, 100, 20, 0);
    EXPECT_EQ(static_cast<Q_GUI_LABEL_DATA*>(q_gui_get_widget(ctx, lab)->data)->length, 4093);
    std::string tip(1021, 'c');
    tip += KANJI;
    q_gui_set_widget_tooltip(ctx, b, tip.c_str());
    EXPECT_EQ(strlen(q_gui_get_widget(ctx, b)->tooltip), 1021u);

    // Text that is not UTF-8 at all is drawn by length, never past its end.
    q_gui_label_set_text(ctx, lab, "\xf0\x9f\x98");
    q_gui_button_set_label(ctx, b, "\xe6\xbc");
    draw_once();
}

TEST_F(GuiWidgetTest, FontChangeDropsMeasurements) {
    const int lab = q_gui_add_label(ctx, win, "Measure me", 0, 0, 10, 10, 0);
    ALLEGRO_FONT* placeholder = al_create_builtin_font();
    for (int i = 0; i < 16; i++) {
        // Each font is destroyed right after the switch away from it, so the next one, of
        // another size, is often allocated at the same address.
        ALLEGRO_FONT* f = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", i % 2 ? 36 : 12, 0);
        ASSERT_NE(f, nullptr);
        q_gui_set_default_font(ctx, f);
        float needed = 0, h = 0;
        q_gui_label_fits(ctx, lab, &needed, &h);
        EXPECT_FLOAT_EQ(needed, al_get_text_width(f, "Measure me") + 2 * ctx->style.label_padding);
        draw_once();
        q_gui_set_default_font(ctx, placeholder);
        al_destroy_font(f);
    }
    q_gui_set_default_font(ctx, font);
    al_destroy_font(placeholder);
}
