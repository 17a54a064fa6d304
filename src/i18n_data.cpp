#include "i18n_data.h"

// Only keys that carry a "|" disambiguation suffix need an English row; every other key is its
// own English text.
const TAVOLIX_I18N_PAIR tavolix_i18n_en[] = {
    {"Fill|shape", "Fill"},
    {"New|palette", "New"},
};
const size_t tavolix_i18n_en_count = sizeof tavolix_i18n_en / sizeof tavolix_i18n_en[0];
