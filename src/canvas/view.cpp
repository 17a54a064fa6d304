#include "canvas/view.h"

#include <algorithm>
#include <cmath>

#include "q/q_common.h"
#include "q/q_log.h"

namespace {

// Share of the screen the canvas may take when fitted; the rest is margin.
constexpr float FIT_SHARE = 0.92f;

void _view_rebuild(VIEW* view) {
    al_build_transform(&view->transform, view->x, view->y, view->zoom, view->zoom, view->rotation);
    al_copy_transform(&view->inverse, &view->transform);
    al_invert_transform(&view->inverse);
}

} // namespace

int view_init(VIEW* view) {
    q_assert(view, return 0);
    view->x = 0.0f;
    view->y = 0.0f;
    view->zoom = 1.0f;
    view->rotation = 0.0f;
    al_identity_transform(&view->transform);
    al_identity_transform(&view->inverse);
    return 1;
}

int view_fit(VIEW* view, int canvas_w, int canvas_h, int screen_w, int screen_h) {
    q_assert(view, return 0);
    if (canvas_w < 1 || canvas_h < 1 || screen_w < 1 || screen_h < 1) {
        q_log(3, "bad fit sizes canvas %dx%d screen %dx%d", canvas_w, canvas_h, screen_w, screen_h);
        return 0;
    }
    const float cw = static_cast<float>(canvas_w);
    const float ch = static_cast<float>(canvas_h);
    const float sw = static_cast<float>(screen_w);
    const float sh = static_cast<float>(screen_h);
    view->rotation = 0.0f;
    view->zoom = FIT_SHARE * std::min(sw / cw, sh / ch);
    view->x = (sw - cw * view->zoom) * 0.5f;
    view->y = (sh - ch * view->zoom) * 0.5f;
    _view_rebuild(view);
    return 1;
}

int view_center(VIEW* view, int canvas_w, int canvas_h, int screen_w, int screen_h) {
    q_assert(view, return 0);
    if (canvas_w < 1 || canvas_h < 1 || screen_w < 1 || screen_h < 1) {
        q_log(3, "bad center sizes canvas %dx%d screen %dx%d", canvas_w, canvas_h, screen_w,
              screen_h);
        return 0;
    }
    view->zoom = 1.0f;
    view->rotation = 0.0f;
    view->x = static_cast<float>(screen_w - canvas_w) * 0.5f;
    view->y = static_cast<float>(screen_h - canvas_h) * 0.5f;
    _view_rebuild(view);
    return 1;
}

int view_recenter(VIEW* view, int old_w, int old_h, int new_w, int new_h) {
    q_assert(view, return 0);
    view->x += static_cast<float>(new_w - old_w) * 0.5f;
    view->y += static_cast<float>(new_h - old_h) * 0.5f;
    _view_rebuild(view);
    return 1;
}

int view_update(VIEW* view) {
    q_assert(view, return 0);
    _view_rebuild(view);
    return 1;
}

int view_apply(const VIEW* view) {
    q_assert(view, return 0);
    al_use_transform(&view->transform);
    return 1;
}

int view_screen_to_canvas(const VIEW* view, float screen_x, float screen_y, float* canvas_x,
                          float* canvas_y) {
    q_assert(view, return 0);
    q_assert(canvas_x, return 0);
    q_assert(canvas_y, return 0);
    float x = screen_x;
    float y = screen_y;
    al_transform_coordinates(&view->inverse, &x, &y);
    *canvas_x = x;
    *canvas_y = y;
    return 1;
}

int view_canvas_to_screen(const VIEW* view, float canvas_x, float canvas_y, float* screen_x,
                          float* screen_y) {
    q_assert(view, return 0);
    q_assert(screen_x, return 0);
    q_assert(screen_y, return 0);
    float x = canvas_x;
    float y = canvas_y;
    al_transform_coordinates(&view->transform, &x, &y);
    *screen_x = x;
    *screen_y = y;
    return 1;
}

int view_pan(VIEW* view, float dx, float dy) {
    q_assert(view, return 0);
    view->x += dx;
    view->y += dy;
    _view_rebuild(view);
    return 1;
}

int view_zoom_at(VIEW* view, float factor, float px, float py) {
    q_assert(view, return 0);
    if (!(factor > 0.0f)) return 0;

    // At a limit the factor shrinks to what reaches it and the zoom is set to the limit
    // itself, because zoom * (limit / zoom) can miss the limit by a rounding step.
    float zoom = view->zoom * factor;
    if (zoom < VIEW_ZOOM_MIN) {
        factor = VIEW_ZOOM_MIN / view->zoom;
        zoom = VIEW_ZOOM_MIN;
    } else if (zoom > VIEW_ZOOM_MAX) {
        factor = VIEW_ZOOM_MAX / view->zoom;
        zoom = VIEW_ZOOM_MAX;
    }
    view->zoom = zoom;
    view->x = px + factor * (view->x - px);
    view->y = py + factor * (view->y - py);
    _view_rebuild(view);
    return 1;
}

int view_rotate_at(VIEW* view, float angle, float px, float py) {
    q_assert(view, return 0);
    const float s = std::sin(angle);
    const float c = std::cos(angle);
    const float dx = view->x - px;
    const float dy = view->y - py;
    view->x = px + dx * c - dy * s;
    view->y = py + dx * s + dy * c;
    view->rotation += angle;
    _view_rebuild(view);
    return 1;
}
