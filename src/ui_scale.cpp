#include "ui_scale.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {
// Small, Normal, Large, Huge.
constexpr std::array<float, 4> _ui_size_factors = {0.85f, 1.0f, 1.15f, 1.3f};
} // namespace

float tavolix_ui_size_factor(int choice) {
    return _ui_size_factors[static_cast<size_t>(std::clamp(choice, 0, 3))];
}

float tavolix_ui_scale_from_density(float density, int choice, int use_density) {
    float base = 1.0f;
    // NaN would pass every comparison below and reach the font size as an integer.
    if (use_density && std::isfinite(density)) {
        const float d = density / 1.5f;
        base = d < 1.0f ? 1.0f : std::min(d, 2.5f);
    }
    return base * tavolix_ui_size_factor(choice);
}
