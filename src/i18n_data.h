// The compiled-in translation tables, each sorted by key in byte order.
#pragma once

#include "i18n.h"

extern const TAVOLIX_I18N_PAIR tavolix_i18n_en[];
extern const size_t tavolix_i18n_en_count;
