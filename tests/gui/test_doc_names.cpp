#include <allegro5/allegro_font.h>
#include <allegro5/allegro_ttf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

struct DocNamesApp : AppRecordTest {
    std::vector<int> region() {
        int x = 0, y = 0, w = 0, h = 0;
        if (!_export_region(&app, &x, &y, &w, &h)) return {};
        return {x, y, w, h};
    }
};

std::string sanitized(const char* text) {
    char out[64];
    _sanitize_doc_name(text, out, sizeof out);
    return out;
}

} // namespace

TEST(DocNames, NameRuleKeepsOnlySafeCharacters) {
    const std::string a300(300, 'a');
    const struct {
        const char* in;
        std::string want;
    } cases[] = {
        {"  my/sketch?:v2  ", "mysketchv2"},
        {"../../etc/passwd", "etcpasswd"},
        {"a/b", "ab"},
        {a300.c_str(), std::string(63, 'a')},
        {"!@#$%^&*().", "sketch"},
        {"\xC3\x89"
         "bauche \xE8\x8D\x89\xE7\xA8\xBF",
         "bauche"},
        {"\xff\xfe\x80 x", "x"},
        {"a\nb\tc\x01", "abc"},
        {"   ", "sketch"},
        {nullptr, "sketch"},
        {" -_ ok _- ", "-_ ok _-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sanitized(c.in), c.want) << (c.in ? c.in : "NULL");
}

TEST_F(DocNamesApp, DerivedNameUsesTheLastSlashOnly) {
    const struct {
        const char* path;
        const char* want;
    } cases[] = {
        {"/home/u/cat.tvl", "cat"},        {"/x/.tvl", "sketch"},     {"/x/dir/", "sketch"},
        // A name that is a file name of its own is kept, so saving again writes that file.
        {"C:\\pics\\cat.tvl", "C:\\pics\\cat"}, {"/x/été.tvl", "été"},
        {"/a/b\\c.TVL", "b\\c.TVL"},     {"/x/.hidden.tvl", "hidden"},
        {"/x/a\x01" "b.tvl", "ab"},          {"/x/session.tvl", "session"},
        {"/x/v1..v2.tvl", "v1v2"},          {"cat.tvl.tvl", "cat.tvl"},
    };
    for (const auto& c : cases) {
        _derive_doc_name(&app, c.path);
        EXPECT_STREQ(app.gui.doc_name, c.want) << c.path;
    }
    _derive_doc_name(&app, "");
    EXPECT_STREQ(app.gui.doc_name, "cat.tvl");
    // The open list shows exactly what loading by name accepts, and none of the program's own
    // session files.
    for (auto [name, shown] : {std::pair{"cat.tvl", true}, {"été.tvl", true}, {"v1..v2.tvl", false},
                               {"a\tb.tvl", false}, {"session.tvl", false}, {"session-2.tvl", false}}) {
        char path[PLATFORM_PATH_MAX];
        LogCapture quiet(0);
        EXPECT_EQ(_open_list_shows(name), shown) << name;
        if (shown) {
            EXPECT_EQ(_load_named_path(name, path, sizeof path), 1) << name;
        }
    }

    for (auto [path, size, want] : {std::tuple{"/tmp/drawing", 64, "/tmp/drawing.png"},
                                    {"/tmp/drawing.final", 64, "/tmp/drawing.final"},
                                    {"/tmp/my.dir/drawing", 64, "/tmp/my.dir/drawing.png"},
                                    {"/tmp/abc", 13, "/tmp/abc.png"},
                                    {"/tmp/abcd", 13, "/tmp/abcd"}}) {
        char out[64];
        snprintf(out, sizeof out, "%s", path);
        _path_add_extension(out, static_cast<size_t>(size), ".png");
        EXPECT_STREQ(out, want);
    }
}

TEST(DocNames, Utf8CutsNeverSplitACharacter) {
    const char* text = "a\xC3\xA9\xE8\x8D\x89\xF0\x9F\x98\x80"; // characters of 1, 2, 3 and 4 bytes
    const size_t fits[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
    for (size_t limit = 0; limit < 12; limit++)
        EXPECT_EQ(_utf8_fit(text, limit), fits[limit]) << limit;
    EXPECT_EQ(_utf8_fit("ab\x80\x80", 3), 3u); // stray continuation bytes are single bytes
    char out[8];
    EXPECT_EQ(_utf8_format(out, sizeof out, "%s!", text), 0);
    EXPECT_STREQ(out, "a\xC3\xA9\xE8\x8D\x89");
}

// Loading goes through the save folder only, and only a load that worked changes which file
// the next save writes to.
TEST_F(DocNamesApp, LoadByNameRefusesPathsAndKeepsNamesOnFailure) {
    ScratchDir dir;
    EnvOverride env;
    env.set("APPDATA", dir.path().c_str());
    ASSERT_EQ(platform_init(), 1);
    const std::string folder = dir.path() + "/Tavolix/";
    char path[PLATFORM_PATH_MAX];
    {
        LogCapture log(3);
        for (const char* name : {"../x.tvl", "a/b.tvl", "..", "", "a\nb.tvl"})
            EXPECT_EQ(_load_named_path(name, path, sizeof path), 0) << name;
        EXPECT_TRUE(log.contains("refusing to load unsafe document name: ../x.tvl"));
    }
    ASSERT_EQ(_load_named_path("a\\b.tvl", path, sizeof path), 1);
    EXPECT_EQ(std::string(path), folder + "a\\b.tvl");

    snprintf(app.gui.doc_name, sizeof app.gui.doc_name, "%s", "current");
    snprintf(app.gui.last_file, sizeof app.gui.last_file, "%s", "/old/current.tvl");
    ASSERT_TRUE(write_file(folder + "broken.tvl", "TVL3 not really"));
    {
        LogCapture quiet(0);
        EXPECT_EQ(_load_named(&app, "broken.tvl"), 0);
        EXPECT_EQ(_load_named(&app, "../broken.tvl"), 0);
    }
    EXPECT_STREQ(app.gui.doc_name, "current");
    EXPECT_STREQ(app.gui.last_file, "/old/current.tvl");
    ASSERT_EQ(document_save(app.doc, (folder + "My sketch 1.tvl").c_str()), 1);
    ASSERT_EQ(_load_named(&app, "My sketch 1.tvl"), 1);
    EXPECT_STREQ(app.gui.doc_name, "My sketch 1");
    EXPECT_EQ(std::string(app.gui.last_file), folder + "My sketch 1.tvl");
}

TEST_F(DocNamesApp, ExportRegionWidensByTheBorderWithinTheDocument) {
    document_free(&app.doc);
    app.doc = document_new(400, 300);
    LAYER* layer = document_add_layer(app.doc, "Layer 1");
    ASSERT_NE(layer, nullptr);
    auto dot = [&](int x, int y) { // in the committed pixels, which the export reads
        ALLEGRO_BITMAP* previous = al_get_target_bitmap();
        al_set_target_bitmap(layer->bitmap);
        if (layer->needs_clear) al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        layer->needs_clear = false;
        al_put_pixel(x, y, al_map_rgba(255, 0, 0, 255));
        al_set_target_bitmap(previous);
        ASSERT_EQ(layer_backup(layer), 1);
    };
    app.gui.export_mode = 1;
    app.gui.export_border = 32;
    EXPECT_EQ(region(), std::vector<int>{}); // nothing drawn
    dot(100, 100);
    EXPECT_EQ(region(), std::vector<int>({68, 68, 65, 65}));
    dot(1, 298);
    EXPECT_EQ(region(), std::vector<int>({68, 68, 65, 65})); // cached while the popup is open
    app.gui.export_bbox_valid = false;
    app.gui.export_border = 256;
    EXPECT_EQ(region(), std::vector<int>({0, 0, 357, 300}));

    // The displayed area: the display's corners through the view, floored and ceiled.
    app.gui.export_mode = 0;
    app.gui.export_border = 10;
    app.display_w = 320;
    app.display_h = 240;
    app.view.x = -100.0f;
    app.view.y = -50.0f;
    app.view.zoom = 2.0f;
    view_update(&app.view);
    EXPECT_EQ(region(), std::vector<int>({40, 15, 181, 141}));
    app.view.x = 5000.0f; // looking beside the canvas
    view_update(&app.view);
    EXPECT_EQ(region(), std::vector<int>{});
}

// A long notification shows its end after "...", and never half a character.
TEST(DocNames, NotificationKeepsTheEndOfATooWideText) {
    char path[PLATFORM_PATH_MAX];
    ASSERT_EQ(platform_asset_path("fonts/DejaVuSans.ttf", path, sizeof path), 1);
    ALLEGRO_FONT* font = al_load_ttf_font(path, 18, 0);
    ASSERT_NE(font, nullptr);
    std::string text;
    for (int i = 0; i < 40; i++)
        text += "\xE2\x82\xAC\xC3\xA9"; // characters of 3 and 2 bytes
    text += " end";
    char out[256];
    _notify_fit(font, "Saved: a.tvl", 400, out, sizeof out);
    EXPECT_STREQ(out, "Saved: a.tvl");
    _notify_fit(font, text.c_str(), 200, out, sizeof out);
    const std::string shown = out;
    ASSERT_EQ(shown.rfind("...", 0), 0u) << shown;
    EXPECT_LT(al_get_text_width(font, out), 200);
    EXPECT_GT(al_get_text_width(font, out), 150);
    EXPECT_EQ(text.substr(text.size() - (shown.size() - 3)), shown.substr(3));
    EXPECT_NE(static_cast<unsigned char>(shown[3]) & 0xC0, 0x80);

    const std::string huge(600, 'x');
    _notify_fit(nullptr, huge.c_str(), 10, out, sizeof out);
    EXPECT_EQ(std::strlen(out), 255u);
    _notify_fit(font,
                "\xF0"
                "ab",
                0, out, sizeof out); // a broken character is not skipped past
    EXPECT_STREQ(out, "...");
    al_destroy_font(font);
}
