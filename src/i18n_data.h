// The compiled-in translation tables, each sorted by key in byte order.
#pragma once

#include "i18n.h"

extern const TAVOLIX_I18N_PAIR tavolix_i18n_en[];
extern const size_t tavolix_i18n_en_count;
extern const TAVOLIX_I18N_PAIR tavolix_i18n_fr[];
extern const size_t tavolix_i18n_fr_count;
extern const TAVOLIX_I18N_PAIR tavolix_i18n_es[];
extern const size_t tavolix_i18n_es_count;
extern const TAVOLIX_I18N_PAIR tavolix_i18n_de[];
extern const size_t tavolix_i18n_de_count;
