// ============================================================================================
// Help pages
//   [SECTION] Lines of each tab
//   [SECTION] Tab table
// ============================================================================================
#include "gui/help_data.h"

namespace {

// --------------------------------------------------------------------------------------------
// [SECTION] Lines of each tab
// --------------------------------------------------------------------------------------------

constexpr HELP_LINE OVERVIEW[] = {
    {"", "Tavolix - a layered sketching app"},
    {"Action block", "Pinned on top: the nine everyday buttons"},
    {"Toolbar", "Left dock: foldable sections of tools"},
    {"Section header", "Tap a header to fold or unfold that section"},
    {"<  /  >", "Collapse or expand the whole toolbar to a side tab"},
    {"Layers panel", "Right dock: layers, template, blend, opacity"},
    {"Help", "Open this reference"},
    {"Exit", "Quit Tavolix (asks to confirm)"},
    {"", "Hover an icon to see what it does"},
    {"", "Draw with the left mouse button or one finger"},
    {"", "Your settings persist across sessions"},
};

// The tool lines repeat the tool buttons' tooltips.
constexpr HELP_LINE TOOLS[] = {
    {"Brush", "Paint with the current color, size and opacity"},
    {"Eraser", "Erase to transparent on the active layer"},
    {"Select", "Box selection: move, scale, rotate, commit"},
    {"Fill", "Flood-fill from the click with the brush color"},
    {"Gradient", "Drag to lay a linear gradient in the brush color"},
    {"Lasso", "Freehand lasso selection"},
    {"Text", "Type text and drop it as a movable selection"},
    {"Line", "Drag a line, move its ends, press off it to draw"},
    {"Bezier", "Drag a chord, bend it, press off it to draw"},
    {"Rect", "Drop a rectangle as a movable selection"},
    {"Circle", "Drop a circle or ellipse as a movable selection"},
    {"Triangle", "Drop a triangle as a movable selection"},
    {"Star", "Drop a star as a movable selection"},
    {"Pentagon", "Drop a pentagon as a movable selection"},
    {"Hexagon", "Drop a hexagon as a movable selection"},
    {"Arrow", "Drop an arrow as a movable selection"},
    {"", "Resizing a shape keeps the brush stroke width"},
    {"", "A pending line or curve follows the color picked"},
    {"Fill|shape", "Placed shapes are solid when on, outlines when off"},
    {"Hide UI", "Hide the whole UI for a clean canvas"},
    {"", "Hidden UI: tap the corner handle to restore"},
    {"Presets", "Quick brush setups (pencil, ink, marker...)"},
    {"Tip", "Choose the brush tip shape (round, square, ...)"},
};

constexpr HELP_LINE BRUSH[] = {
    {"Size", "Brush diameter, 1 to 128 px"},
    {"Opacity", "Overall stroke opacity, 1 to 100%"},
    {"Flow", "Paint laid down per dab, 1 to 100%"},
    {"Hardness", "Edge softness, 0 (soft) to 100% (hard)"},
    {"Stabilizer", "Steadies the line: it trails the pointer on a string, 0 is off"},
};

constexpr HELP_LINE COLOR[] = {
    {"Palette", "Pick the active palette (a preset or your own)"},
    {"Color chip", "Open the R/G/B/A picker for a custom color"},
    {"Swatches", "Tap a swatch to paint with that color"},
    {"Edit", "On: tap a swatch to store the current color"},
    {"New|palette", "Fork the current colors into a new palette"},
    {"Manage palettes", "Rename, reset or remove palettes"},
    {"Rename palette", "Rename the active (user) palette"},
    {"Reset palette", "Restore the palette to its baseline colors"},
    {"Remove palette", "Delete the active custom palette"},
    {"Reset all", "Factory-reset every palette (asks to confirm)"},
    {"", "Picker: R/G/B set the color, A sets its transparency"},
    {"x marker", "Shows which swatch or chip is the active color"},
    {"", "Picker: drag the ring for the hue, the square for the shade"},
    {"Hex", "Type #RRGGBB or #RRGGBBAA"},
    {"Recent", "The last colors you painted with, newest first"},
    {"Eyedropper", "Pick a color from the canvas (I, or hold Alt or Ctrl)"},
    {"Shift", "With the eyedropper: pick from the active layer only"},
};

constexpr HELP_LINE EDIT[] = {
    {"", "All pinned in the top action block"},
    {"Undo", "Undo the last change"},
    {"Redo", "Redo the last undone change"},
    {"Cut", "Cut the floating selection to the clipboard"},
    {"Copy", "Copy the floating selection to the clipboard"},
    {"Paste", "Paste the clipboard as a new floating selection"},
    {"Clear", "Clear the active layer (asks to confirm)"},
    {"", "Clear lives in the layers panel"},
};

constexpr HELP_LINE LAYERS[] = {
    {"", "Layers panel (right dock)"},
    {"List", "Tap a layer to make it active (top = front)"},
    {"Template", "Guide drawn under all layers (grid, dots...)"},
    {"+  /  -", "Add a new layer / delete the active layer"},
    {"Up / Dn", "Move the active layer toward the top / bottom"},
    {"Show", "Toggle the active layer's visibility"},
    {"Lock", "Lock the active layer against edits"},
    {"Blend", "Cycle blend mode: normal, multiply, screen, add"},
    {"Opacity", "Active layer opacity, 0 to 100%"},
    {"Clear", "Clear the active layer (asks to confirm)"},
    {"Rename", "Rename the active layer"},
};

constexpr HELP_LINE CANVAS[] = {
    {"Grid", "Toggle the grid overlay"},
    {"Snap", "Snap strokes and segments to the grid"},
    {"Diagonals", "Add diagonal grid lines and snap points"},
    {"", "Diagonals show even with the grid off"},
    {"", "Snap also sizes and centers placed shapes"},
    {"Grid size", "Cell size and snap step, 2 to 256 px"},
    {"", "Navigate: wheel zooms, Ctrl+wheel rotates"},
    {"Pan", "Middle-button drag, or hold Space and drag"},
};

constexpr HELP_LINE SYMMETRY[] = {
    {"Sym", "Cycle symmetry: Off, X, Y, XY, Rad"},
    {"Rad splits", "Number of radial mirror slices, 2 to 12"},
    {"MoveSym", "Drag on the canvas to move the symmetry center"},
    {"Reset", "Move the symmetry center back to center"},
    {"Off 0,0", "Shows the current symmetry-center offset"},
};

constexpr HELP_LINE SETTINGS[] = {
    {"", "Saved automatically and restored on the next launch"},
    {"Pressure Speed", "Slow strokes paint heavier, fast ones lighter"},
    {"Palm rejection", "Ignore an extra touch during a stroke"},
    {"Pressure changes size", "A pen's pressure also sets the brush size"},
    {"Pen pressure", "Soft, linear or firm response to a pen"},
    {"Language", "Switch the interface language"},
    {"Interface size", "Make the toolbar and text bigger or smaller"},
};

constexpr HELP_LINE FILE_TAB[] = {
    {"New", "New canvas: pick a size (replaces drawing)"},
    {"Save", "Save a .tvl (dialog, or name popup on mobile)"},
    {"Load", "Open a .tvl, an .ora or a picture"},
    {"Ctrl+I", "Import a picture as a layer"},
    {"Export", "Write a PNG (area/full, border, template) or an .ora"},
    {"", "Export options live in the Export popup"},
};

constexpr HELP_LINE SHORTCUTS[] = {
    {"", "Keyboard"},
    {"Ctrl+S", "Save"},
    {"Ctrl+O", "Open / load"},
    {"Ctrl+E", "Export PNG"},
    {"Ctrl+Z", "Undo"},
    {"Ctrl+Y", "Redo (also Ctrl+Shift+Z)"},
    {"Ctrl+X / C / V", "Cut / copy / paste selection"},
    {"Enter", "Commit the float, or the pending line/curve"},
    {"B / E", "Brush / Eraser"},
    {"S / L", "Select / Lasso"},
    {"I", "Eyedropper"},
    {"Alt / Ctrl + click", "Pick a color (with Shift: from the active layer)"},
    {"[  /  ]", "Decrease / increase brush size"},
    {"F", "Fit and reset the view"},
    {"G / Shift+G", "Toggle grid / grid snap"},
    {"D", "Toggle grid diagonals"},
    {"Tab", "Show or hide the UI"},
    {"Space (hold)", "Pan with the left button"},
    {"Esc", "Cancel line/curve, selection, or quit"},
    {"", "Mouse"},
    {"Left drag", "Draw with the current tool"},
    {"Wheel", "Zoom about the cursor"},
    {"Ctrl+Wheel", "Rotate about the cursor"},
    {"Middle drag", "Pan the view"},
    {"", "Touch"},
    {"One finger", "Draw"},
    {"Two fingers", "Pan / zoom / rotate"},
    {"Back (Android)", "Close popup, cancel selection, or quit"},
};

// --------------------------------------------------------------------------------------------
// [SECTION] Tab table
// --------------------------------------------------------------------------------------------

template <size_t N> constexpr HELP_TAB tab(const char* title, const HELP_LINE (&lines)[N]) {
    return HELP_TAB{title, lines, N};
}

constexpr HELP_TAB TABS[HELP_TAB_COUNT] = {
    tab("Overview", OVERVIEW), tab("Tools", TOOLS),         tab("Brush", BRUSH),
    tab("Color", COLOR),       tab("Edit", EDIT),           tab("Layers", LAYERS),
    tab("Canvas", CANVAS),     tab("Symmetry", SYMMETRY),   tab("Settings", SETTINGS),
    tab("File", FILE_TAB),     tab("Shortcuts", SHORTCUTS),
};

} // namespace

const HELP_TAB* help_data_tab(int index) {
    return &TABS[index >= 0 && index < HELP_TAB_COUNT ? index : 0];
}
