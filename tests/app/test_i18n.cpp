#include <allegro5/allegro.h>
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "gui/help_data.h"
#include "i18n.h"
#include "i18n_data.h"

namespace {

struct Table {
    const char* name;
    const TAVOLIX_I18N_PAIR* rows;
    size_t count;
};

const Table kTranslated[] = {
    {"fr", tavolix_i18n_fr, tavolix_i18n_fr_count},
    {"es", tavolix_i18n_es, tavolix_i18n_es_count},
    {"de", tavolix_i18n_de, tavolix_i18n_de_count},
};

// The printf conversions of a format in order, written out whole ("%+d", "%-08.3lf"). "%%"
// prints a percent sign; a '%' that starts no valid conversion ("100%" at the end, "100% (hard)")
// is plain text, so only a real conversion can make a text disagree with its key.
std::vector<std::string> printf_conversions(const std::string& s) {
    static const std::regex conversion(
        "%%|%[-+ #0']*(\\*|[0-9]+)?(\\.(\\*|[0-9]+))?(hh|ll|[hljztL])?[diouxXeEfFgGaAcspn]");
    std::vector<std::string> out;
    for (std::sregex_iterator it(s.begin(), s.end(), conversion), end; it != end; ++it)
        if (it->str() != "%%") out.push_back(it->str());
    return out;
}

// Allegro reads every code point up to the end: -1 there, -2 at a broken sequence.
bool valid_utf8(const char* s) {
    ALLEGRO_USTR_INFO info;
    const ALLEGRO_USTR* text = al_ref_cstr(&info, s);
    int pos = 0, c = 0;
    while ((c = al_ustr_get_next(text, &pos)) >= 0) {
    }
    return c == -1;
}

bool ends_with_space(const char* s) { return s[0] && s[std::strlen(s) - 1] == ' '; }

} // namespace

// The lookup binary-searches with strcmp, so an unsorted or duplicated row silently hides keys.
TEST(I18nTables, SortedUniqueAndWellFormed) {
    std::vector<Table> all(std::begin(kTranslated), std::end(kTranslated));
    all.push_back({"en", tavolix_i18n_en, tavolix_i18n_en_count});
    for (const Table& t : all) {
        SCOPED_TRACE(t.name);
        ASSERT_GT(t.count, 0u);
        for (size_t i = 0; i < t.count; i++) {
            const TAVOLIX_I18N_PAIR& row = t.rows[i];
            ASSERT_NE(row.key, nullptr) << i;
            ASSERT_NE(row.text, nullptr) << row.key;
            if (i > 0) {
                EXPECT_LT(std::strcmp(t.rows[i - 1].key, row.key), 0) << row.key;
            }
            EXPECT_TRUE(valid_utf8(row.text)) << row.key;
            EXPECT_NE(row.text[0], '\0') << row.key;
            // Markers such as " [L]" are appended to names; losing the space glues them on.
            EXPECT_EQ(row.text[0] == ' ', row.key[0] == ' ') << row.key;
            EXPECT_EQ(ends_with_space(row.text), ends_with_space(row.key)) << row.key;
        }
    }
}

TEST(I18nTables, LanguagesShareKeysAndConversions) {
    ASSERT_EQ(tavolix_i18n_fr_count, 406u);
    ASSERT_EQ(tavolix_i18n_es_count, tavolix_i18n_fr_count);
    ASSERT_EQ(tavolix_i18n_de_count, tavolix_i18n_fr_count);
    for (const Table& t : kTranslated) {
        SCOPED_TRACE(t.name);
        size_t untranslated = 0;
        for (size_t i = 0; i < t.count; i++) {
            const TAVOLIX_I18N_PAIR& row = t.rows[i];
            EXPECT_STREQ(row.key, tavolix_i18n_fr[i].key);
            // Callers pass the same arguments in every language.
            EXPECT_EQ(printf_conversions(row.text), printf_conversions(row.key)) << row.key;
            if (std::strcmp(row.text, row.key) == 0) untranslated++;
        }
        // Only symbols, key names and words shared with English may stay as they are.
        EXPECT_LE(untranslated, 43u);
    }
}

// Key caps are named as printed on that language's keyboards, and one action keeps one verb.
TEST(I18nTables, KeyNamesAndVerbsAsNativeSpeakersWriteThem) {
    const std::pair<const Table&, std::vector<const char*>> rules[] = {
        {kTranslated[0], {"Shift"}},
        {kTranslated[2], {"Ctrl", "Shift", "Reset", "Sichern", "sichern"}},
    };
    for (const auto& [table, never] : rules)
        for (size_t i = 0; i < table.count; i++)
            for (const char* word : never)
                EXPECT_EQ(std::strstr(table.rows[i].text, word), nullptr) << table.rows[i].text;
}

// A key with a "|" suffix must never reach the screen, so English must have a row for it.
TEST(I18nTables, SuffixedKeysHaveEnglishText) {
    for (const Table& t : kTranslated) {
        for (size_t i = 0; i < t.count; i++) {
            if (!std::strchr(t.rows[i].key, '|')) continue;
            SCOPED_TRACE(t.rows[i].key);
            EXPECT_EQ(nullptr, std::strchr(t.rows[i].text, '|'));
            bool found = false;
            for (size_t e = 0; e < tavolix_i18n_en_count; e++)
                found |= std::strcmp(tavolix_i18n_en[e].key, t.rows[i].key) == 0;
            EXPECT_TRUE(found);
        }
    }
}

// The help pages show every title, key and text translated, tab by tab in a fixed order.
TEST(I18nTables, HelpPagesAreTranslated) {
    const size_t lines[HELP_TAB_COUNT] = {11, 23, 5, 17, 8, 11, 8, 5, 7, 6, 28};
    for (int i = 0; i < HELP_TAB_COUNT; i++) {
        const HELP_TAB* tab = help_data_tab(i);
        EXPECT_EQ(tab->count, lines[i]) << tab->title;
        std::vector<const char*> keys{tab->title};
        for (size_t l = 0; l < tab->count; l++) {
            if (tab->lines[l].key[0]) keys.push_back(tab->lines[l].key);
            keys.push_back(tab->lines[l].text);
        }
        for (const Table& t : kTranslated)
            for (const char* key : keys) {
                bool found = false;
                for (size_t r = 0; r < t.count && !found; r++) found = std::strcmp(t.rows[r].key, key) == 0;
                EXPECT_TRUE(found) << t.name << ": " << key;
            }
    }
    EXPECT_EQ(help_data_tab(11), help_data_tab(0));
}

namespace {

struct I18nLookup : testing::Test {
    int saved = LANG_NONE;
    void SetUp() override { saved = tavolix_lang_get(); }
    void TearDown() override { tavolix_lang_set(saved); }
};

} // namespace

TEST_F(I18nLookup, EachLanguageFindsItsOwnRows) {
    struct Row {
        const char *key, *es, *de, *fr;
    };
    const Row rows[] = {
        {" [L]", " [B]", " [G]", " [V]"}, // the first row
        {"Fill|shape", "Sólido", "Gefüllt", "Plein"},
        {"Off %+d,%+d", "Desp %+d,%+d", "Vers. %+d,%+d", "Déc %+d,%+d"},
        {"x marker", "marca x", "x-Markierung", "repère x"}, // the last row
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key);
        for (auto [lang, text] : {std::pair{LANG_SPANISH, r.es}, {LANG_GERMAN, r.de},
                                  {LANG_FRENCH, r.fr}}) {
            tavolix_lang_set(lang);
            EXPECT_STREQ(tavolix_tr(r.key), text);
        }
    }
}

TEST_F(I18nLookup, FallbacksAndLanguageSwitching) {
    tavolix_lang_set(LANG_FRENCH);
    tavolix_lang_set(7); // unknown ids are ignored
    tavolix_lang_set(-1);
    EXPECT_STREQ(tavolix_tr("Quit"), "Quitter");

    // A key that no table holds comes back as the very same string.
    const char* unknown = "Custom 3";
    for (int lang : {LANG_NONE, LANG_ENGLISH, LANG_FRENCH, LANG_SPANISH, LANG_GERMAN}) {
        tavolix_lang_set(lang);
        EXPECT_EQ(tavolix_tr(unknown), unknown) << lang;
        EXPECT_STREQ(tavolix_tr(nullptr), "") << lang;
    }

    // No language chosen yet reads like English, suffixes stripped.
    tavolix_lang_set(LANG_NONE);
    EXPECT_STREQ(tavolix_tr("Fill|shape"), "Fill");
    EXPECT_STREQ(tavolix_lang_name(42), "English");
}
