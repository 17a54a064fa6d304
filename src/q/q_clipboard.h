// Text clipboard for the toolkit's text fields, reached through the display's clipboard.
#pragma once

int q_clipboard_init();
int q_clipboard_available();
void q_clipboard_destroy();
// 0 on success, -1 on failure. Selection 0 is the system clipboard; 1 (primary) is unsupported.
int q_clipboard_set(int selection, const char* text);
// Newly allocated UTF-8 text the caller frees with free(), or NULL.
char* q_clipboard_get(int selection);
