// What the GUI's source files share among themselves; the shell sees only gui.h.
#pragma once

#include <cstddef>

#include "gui/gui.h"

struct Q_GUI_CTX;

// Sets a window's height without stretching its widgets to the new size.
void _gui_set_window_height(Q_GUI_CTX* ctx, int window, float height);
// Moves "Help" and "Exit" below the tool bar's sections and fits the window around them.
void _gui_place_toolbar_foot(TAVOLIX_APP* app);
// Fills the palette combo box with the translated palette names.
void _gui_fill_palettes(TAVOLIX_APP* app);

// Callbacks of the panels (gui_callbacks.cpp). `user` is the application record.
void _on_toolbar_collapse(int widget, void* user);
void _on_toolbar_expand(int widget, void* user);
void _on_panel_collapse(int widget, void* user);
void _on_panel_expand(int widget, void* user);
void _on_hide_ui(int widget, void* user);
void _on_undo(int widget, void* user);
void _on_redo(int widget, void* user);
void _on_tool(int widget, void* user);
void _on_eraser(int widget, void* user);
void _on_clipboard(int widget, void* user);
void _on_navigate(int widget, void* user);
void _on_preset(int widget, void* user);
void _on_brush_slider(int widget, double value, void* user);
void _on_tip(int widget, void* user);
void _on_shape(int widget, void* user);
void _on_palette_select(int widget, int index, void* user);
void _on_color_chip(int widget, void* user);
void _on_swatch(int widget, void* user);
void _on_palette_edit(int widget, void* user);
void _on_palette_new(int widget, void* user);
void _on_popup_button(int widget, void* user);
void _on_sym_mode(int widget, void* user);
void _on_sym_move(int widget, void* user);
void _on_sym_count(int widget, double value, void* user);
void _on_sym_reset(int widget, void* user);
void _on_save(int widget, void* user);
void _on_load(int widget, void* user);
void _on_setting_toggle(int widget, void* user);
void _on_language(int widget, int index, void* user);
void _on_ui_size(int widget, int index, void* user);
void _on_exit(int widget, void* user);
void _on_toolbar_section(int section, int folded, void* user);
void _on_panel_section(int section, int folded, void* user);
void _on_layer_select(int widget, int index, int selected, void* user);
void _on_layer_add(int widget, void* user);
void _on_layer_remove(int widget, void* user);
void _on_layer_move(int widget, void* user);
void _on_layer_check(int widget, int checked, void* user);
void _on_layer_blend(int widget, void* user);
void _on_layer_opacity(int widget, double value, void* user);
void _on_template(int widget, int index, void* user);
void _on_grid_toggle(int widget, void* user);
void _on_grid_size(int widget, double value, void* user);
