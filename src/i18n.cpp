#include "i18n.h"

#include "i18n_data.h"

#include <cstdlib>
#include <cstring>

namespace {

int _active = LANG_NONE;

int _pair_cmp(const void* key, const void* row) {
    return strcmp(static_cast<const char*>(key), static_cast<const TAVOLIX_I18N_PAIR*>(row)->key);
}

const char* lookup(const TAVOLIX_I18N_PAIR* table, size_t count, const char* key) {
    if (!table || count == 0) return nullptr;
    const void* hit = bsearch(key, table, count, sizeof(TAVOLIX_I18N_PAIR), _pair_cmp);
    return hit ? static_cast<const TAVOLIX_I18N_PAIR*>(hit)->text : nullptr;
}

} // namespace

void tavolix_lang_set(int id) {
    if (id >= LANG_NONE && id <= LANG_GERMAN) _active = id;
}

int tavolix_lang_get() { return _active; }

const char* tavolix_lang_name(int id) {
    switch (id) {
    case LANG_FRENCH: return "Français";
    case LANG_SPANISH: return "Español";
    case LANG_GERMAN: return "Deutsch";
    default: return "English";
    }
}

const char* tavolix_tr(const char* key) {
    if (!key) return "";
    const TAVOLIX_I18N_PAIR* table = tavolix_i18n_en;
    size_t count = tavolix_i18n_en_count;
    switch (_active) {
    case LANG_FRENCH: table = tavolix_i18n_fr; count = tavolix_i18n_fr_count; break;
    case LANG_SPANISH: table = tavolix_i18n_es; count = tavolix_i18n_es_count; break;
    case LANG_GERMAN: table = tavolix_i18n_de; count = tavolix_i18n_de_count; break;
    default: break;
    }
    if (const char* text = lookup(table, count, key)) return text;
    // A key the language lacks shows its English text, so a "|" suffix never reaches the screen.
    if (table != tavolix_i18n_en) {
        if (const char* text = lookup(tavolix_i18n_en, tavolix_i18n_en_count, key)) return text;
    }
    return key;
}
