#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "palette.h"
#include "q/q_str.h"
#include "test_support.h"

namespace {

constexpr int WARM = 2;

std::vector<int> rgb(const PALETTE_RGB* colors, int swatch) {
    return {colors[swatch][0], colors[swatch][1], colors[swatch][2]};
}

bool same_colors(const PALETTE_RGB* a, const PALETTE_RGB* b) {
    return memcmp(a, b, sizeof(PALETTE_RGB) * PALETTE_SWATCHES) == 0;
}

bool same_set(const PALETTE_SET& a, const PALETTE_SET& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

std::string u32(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

// A file image assembled by hand, independent of palette_serialize.
std::string header(uint32_t user_flag, uint32_t index, uint32_t count) {
    return "TPAL" + u32(1) + u32(user_flag) + u32(index) + u32(count);
}

std::string record(const std::string& name, uint32_t base, uint8_t shade) {
    std::string r = name.substr(0, 32);
    r.resize(32, '\0');
    r += u32(base);
    for (int i = 0; i < 24; i++) r += static_cast<char>(shade + i);
    return r;
}

int deserialize(PALETTE_SET* set, const std::string& image) {
    return palette_deserialize(set, image.data(), image.size());
}

std::string serialize(const PALETTE_SET* set) {
    Q_STR* out = palette_serialize(set);
    if (!out) return "<null>";
    std::string image(out->data, out->used);
    free_qstr(&out);
    return image;
}

// Three user palettes: "A" from Warm, "B" from Cool, "C" with no base; "B" active.
PALETTE_SET three_palettes() {
    PALETTE_SET set;
    palette_set_defaults(&set);
    palette_select(&set, WARM);
    palette_new_from_active(&set);
    palette_rename_active(&set, "A");
    palette_select(&set, 3);
    palette_new_from_active(&set);
    palette_rename_active(&set, "B");
    const uint8_t red[3] = {255, 0, 0};
    palette_assign(&set, 0, red);
    palette_new_from_active(&set);
    palette_rename_active(&set, "C");
    set.user[2].base = -1;
    palette_select(&set, 6);
    return set;
}

} // namespace

TEST(PaletteEdit, AssignOnFactoryPaletteCopiesItFirst) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    palette_select(&set, WARM);
    const uint8_t teal[3] = {1, 128, 128};
    ASSERT_EQ(palette_assign(&set, 3, teal), 5);
    EXPECT_TRUE(set.user_count == 1u && set.active == 5 && set.user[0].base == WARM);
    EXPECT_STREQ(palette_name(&set, 5), "Custom 1");
    // Warm's colours but the one swatch, and Warm itself untouched.
    PALETTE_RGB want[PALETTE_SWATCHES];
    memcpy(want, palette_colors(&set, WARM), sizeof want);
    EXPECT_EQ(rgb(want, 3), (std::vector<int>{230, 90, 30}));
    memcpy(want[3], teal, 3);
    EXPECT_TRUE(same_colors(palette_active_colors(&set), want));
    // A second edit changes the same user palette instead of making another.
    EXPECT_EQ(palette_assign(&set, 0, teal), 5);
    EXPECT_EQ(set.user_count, 1u);

    // A swatch outside 0..7 changes nothing, even on a factory palette.
    palette_select(&set, 1);
    const PALETTE_SET before = set;
    EXPECT_TRUE(palette_assign(&set, 8, teal) == 1 && palette_assign(&set, -1, teal) == 1);
    EXPECT_TRUE(same_set(before, set));
}

TEST(PaletteEdit, SixteenUserPalettesAtMost) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    for (int i = 0; i < PALETTE_USER_MAX; i++) ASSERT_EQ(palette_new_from_active(&set), 5 + i);
    EXPECT_STREQ(palette_name(&set, 20), "Custom 16");
    palette_select(&set, 4);
    const PALETTE_SET before = set;
    const uint8_t black[3] = {0, 0, 0};
    EXPECT_EQ(palette_assign(&set, 2, black), -1);
    EXPECT_EQ(palette_new_from_active(&set), -1);
    EXPECT_TRUE(same_set(before, set));
    palette_select(&set, 12); // a user palette can still be edited
    EXPECT_EQ(palette_assign(&set, 2, black), 12);
}

TEST(PaletteEdit, RemoveMovesLaterPalettesDownAndActivatesTheBase) {
    PALETTE_SET set = three_palettes();
    palette_select(&set, 5);
    const PALETTE b = set.user[1], c = set.user[2];
    ASSERT_EQ(palette_remove_active(&set), 1);
    EXPECT_TRUE(set.active == WARM && set.user_count == 2u);
    const PALETTE zero{};
    EXPECT_EQ(memcmp(&set.user[0], &b, sizeof b), 0);
    EXPECT_EQ(memcmp(&set.user[1], &c, sizeof c), 0);
    EXPECT_EQ(memcmp(&set.user[2], &zero, sizeof zero), 0);
    palette_select(&set, 6); // "C" has no base: "Default" becomes active
    ASSERT_EQ(palette_remove_active(&set), 1);
    EXPECT_EQ(set.active, 0);
    EXPECT_EQ(palette_remove_active(&set), 0); // factory palettes cannot be removed
}

TEST(PaletteRename, NamesAreCutBetweenCharactersAndEmptyOnesNumbered) {
    PALETTE_SET set = three_palettes();
    EXPECT_EQ(palette_rename_active(&set, nullptr), 0);
    struct Case {
        std::string text, expected;
    };
    const std::string a29(29, 'a'), a30(30, 'a');
    const std::vector<Case> cases = {
        {std::string(40, 'x'), std::string(31, 'x')},
        {a30 + "\xC3\xA9" "b", a30},                 // é would straddle the cut
        {a29 + "\xE2\x82\xAC" "b", a29},             // so would €
        {"\xF0\x9F\x8E\xA8" + a30, "\xF0\x9F\x8E\xA8" + std::string(27, 'a')},
        {std::string(28, 'a') + "\xF0\x9F\x8E\xA8", std::string(28, 'a')}, // 4-byte character
        {a29 + "\xC3\xA9", a29 + "\xC3\xA9"},        // exactly 31 bytes: kept whole
        {a29 + "\xC3\xA9" "c", a29 + "\xC3\xA9"},    // ends on a boundary: plain cut
        {"", "Custom 2"},                             // empty or blank: the slot number
        {" \t  ", "Custom 2"},
        {" Sky ", " Sky "},                           // spaces around a name are the user's
    };
    for (const Case& c : cases) {
        ASSERT_EQ(palette_rename_active(&set, c.text.c_str()), 1);
        EXPECT_EQ(std::string(palette_name(&set, 6)), c.expected) << c.text;
        // Nothing of the previous, longer name is left behind the terminator.
        const PALETTE& p = set.user[1];
        for (size_t i = strlen(p.name); i < sizeof p.name; i++) ASSERT_EQ(p.name[i], 0) << c.text;
    }
    palette_select(&set, 1); // factory palettes keep their names
    EXPECT_EQ(palette_rename_active(&set, "Mine"), 0);
    EXPECT_STREQ(palette_name(&set, 1), "Grayscale");
}

TEST(PaletteFile, RoundTripRestoresTheSetExactly) {
    PALETTE_SET set = three_palettes();
    palette_select(&set, 7);
    palette_rename_active(&set, "Pinceau \xC3\xA9t\xC3\xA9");
    PALETTE_SET back;
    palette_set_defaults(&back);
    EXPECT_EQ(serialize(&back), header(0, 0, 0));
    const std::string image = serialize(&set);
    ASSERT_EQ(image.size(), 20u + 3 * 60);
    EXPECT_EQ(image.substr(0, 20), header(1, 2, 3));
    EXPECT_EQ(image.substr(20 + 2 * 60 + 32, 4), u32(0xFFFFFFFFu)); // no base: all bits set
    ASSERT_EQ(deserialize(&back, image), 1);
    EXPECT_TRUE(same_set(set, back));
}

TEST(PaletteFile, ActiveIndexRulesOnReading) {
    const std::string two = record("One", 0, 10) + record("Two", 1, 20);
    const std::pair<std::string, int> cases[] = {
        {header(1, 1, 2) + two, 6},
        {header(1, 7, 2) + two, 6}, // past the last user palette: the last one
        {header(1, 3, 0), 0},       // user flag without user palettes: "Default"
        {header(0, 9, 2) + two, 4}, // factory index past the last: the last factory palette
        {header(0, 3, 2) + two, 3},
        {header(7, 0, 2) + two, 5}, // any non-zero flag counts as set
    };
    for (const auto& [image, active] : cases) {
        PALETTE_SET set;
        ASSERT_EQ(deserialize(&set, image), 1);
        EXPECT_EQ(set.active, active) << testing::PrintToString(image.substr(8, 8));
    }
}

// After every user palette is deleted the active index may still say 7. It shows "Default" and
// must come back as "Default", not as the last factory palette.
TEST(PaletteFile, StaleIndexAfterResetAllReadsBackAsDefault) {
    PALETTE_SET set = three_palettes();
    palette_select(&set, 7);
    palette_reset_all(&set);
    EXPECT_STREQ(palette_name(&set, set.active), "");
    EXPECT_TRUE(same_colors(palette_active_colors(&set), palette_colors(&set, 0)));
    const std::string image = serialize(&set);
    EXPECT_EQ(image, header(1, 2, 0));
    PALETTE_SET back;
    palette_set_defaults(&back);
    back.active = 3;
    ASSERT_EQ(deserialize(&back, image), 1);
    EXPECT_EQ(back.active, 0);
    // Editing from the stale index starts from the "Default" colours it shows.
    const uint8_t white[3] = {255, 255, 255};
    ASSERT_EQ(palette_assign(&set, 0, white), 5);
    EXPECT_EQ(set.user[0].base, 0);
}

TEST(PaletteFile, RecordFieldsAreSanitisedOnReading) {
    // A base of 7 is no factory palette; a name field with no terminator is cut at 31 bytes,
    // here before an é that the forced terminator would split.
    const std::string name = std::string(30, 'n') + "\xC3\xA9";
    PALETTE_SET set;
    palette_set_defaults(&set);
    ASSERT_EQ(deserialize(&set, header(1, 0, 1) + record(name, 7, 50)), 1);
    EXPECT_TRUE(set.user[0].base == -1 && std::string(set.user[0].name) == std::string(30, 'n'));
    EXPECT_EQ(rgb(palette_colors(&set, 5), 7), (std::vector<int>{71, 72, 73}));
    palette_reset_active(&set);
    EXPECT_TRUE(same_colors(palette_active_colors(&set), palette_colors(&set, 0)));

    // Bytes after the terminator are not carried along.
    std::string dirty = record("Ab", 1, 0);
    dirty[10] = 'Z';
    ASSERT_EQ(deserialize(&set, header(1, 0, 1) + dirty), 1);
    EXPECT_EQ(serialize(&set).substr(20, 60), record("Ab", 1, 0));
}

TEST(PaletteFile, BadHeadersAreRefusedAndChangeNothing) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"short magic", "TPA"},
        {"wrong magic", "TPAX" + header(0, 0, 0).substr(4)},
        {"no version", "TPAL\x01"},
        {"version 2", "TPAL" + u32(2) + header(0, 0, 0).substr(8)},
        {"short header", header(0, 0, 0).substr(0, 19)},
    };
    const PALETTE_SET original = three_palettes();
    for (const auto& [what, image] : cases) {
        PALETTE_SET set = original;
        LogCapture log(3);
        EXPECT_EQ(deserialize(&set, image), 0) << what;
        EXPECT_TRUE(same_set(original, set)) << what;
        EXPECT_TRUE(log.contains("ERR:") && log.contains("palette file refused")) << what;
    }
}

// A count that claims too much, or a file cut short, loses only what is missing: every
// complete record up to the sixteenth is the user's and is kept.
TEST(PaletteFile, DamagedImagesKeepEveryCompleteRecord) {
    const std::string three = record("a", 0, 1) + record("b", 1, 2) + record("c", 2, 3);
    std::string twenty;
    for (int i = 0; i < 20; i++) twenty += record("x", 0, static_cast<uint8_t>(i));
    struct Case {
        const char* what;
        std::string image;
        uint32_t kept, dropped;
        int active;
    };
    const std::vector<Case> cases = {
        {"count 20", header(1, 17, 20) + twenty, 16, 4, 20},
        {"huge count", header(1, 0, 0xFFFFFFFFu) + three, 3, 0xFFFFFFFFu - 3, 5},
        {"cut in the third record", (header(1, 2, 3) + three).substr(0, 20 + 120 + 33), 2, 1, 6},
        {"third record missing", header(0, 1, 3) + three.substr(0, 120), 2, 1, 1},
        {"cut in the first name", header(1, 0, 1) + "abc", 0, 1, 0},
    };
    for (const Case& c : cases) {
        PALETTE_SET set = three_palettes();
        uint32_t dropped = 0;
        LogCapture log(3);
        ASSERT_EQ(palette_deserialize(&set, c.image.data(), c.image.size(), &dropped), 1) << c.what;
        EXPECT_TRUE(set.user_count == c.kept && dropped == c.dropped && set.active == c.active)
            << c.what << ": " << set.user_count << " " << dropped << " " << set.active;
        EXPECT_TRUE(log.contains("palette file damaged")) << c.what;
        for (uint32_t i = 0; i < c.kept; i++)
            EXPECT_EQ(serialize(&set).substr(20 + 60 * i, 60), c.image.substr(20 + 60 * i, 60));
    }
}

// Every file in the sample folder: the good ones load whole, the damaged ones in part, the
// broken ones are refused and leave the set alone.
TEST(PaletteSamples, GoodDamagedAndBroken) {
    const PALETTE_SET original = three_palettes();
    for (const auto& entry : std::filesystem::directory_iterator(TAVOLIX_TEST_DATA "/palette")) {
        const std::string name = entry.path().filename().string();
        const std::string bytes = read_file(entry.path().string());
        PALETTE_SET set = original;
        uint32_t dropped = 0;
        LogCapture log(3);
        const int ok = palette_deserialize(&set, bytes.data(), bytes.size(), &dropped);
        const bool broken = name.rfind("broken_", 0) == 0;
        EXPECT_EQ(ok, broken ? 0 : 1) << name;
        EXPECT_EQ(dropped > 0, name.rfind("damaged_", 0) == 0) << name;
        EXPECT_EQ(log.contains("ERR:"), broken || dropped > 0) << name;
        if (broken) EXPECT_TRUE(same_set(original, set)) << name;
        else EXPECT_LT(set.active, palette_count(&set)) << name;
    }
}
