// Interface texts: English keys looked up in the current language's table.
#pragma once

#include <cstddef>

struct TAVOLIX_I18N_PAIR {
    const char* key;
    const char* text;
};

enum {
    LANG_NONE = 0,
    LANG_ENGLISH = 1,
    LANG_FRENCH = 2,
    LANG_SPANISH = 3,
    LANG_GERMAN = 4,
};

void tavolix_lang_set(int id);
int tavolix_lang_get();
const char* tavolix_lang_name(int id);
const char* tavolix_tr(const char* key);
