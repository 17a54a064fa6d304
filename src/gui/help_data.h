// The help pages: eleven tabs of (key, text) lines. Every title, key and text is an English
// translation key; the help popup passes each through tavolix_tr when it builds its labels.
#pragma once

#include <cstddef>

struct HELP_LINE {
    const char* key; // "" for a line that is only text
    const char* text;
};

struct HELP_TAB {
    const char* title;
    const HELP_LINE* lines;
    size_t count;
};

constexpr int HELP_TAB_COUNT = 11;

// The tab at `index`; an index outside 0..10 reads as tab 0.
const HELP_TAB* help_data_tab(int index);
