// The interface-size factor and the display-density rule behind the UI scale.
#pragma once

float tavolix_ui_size_factor(int choice);
float tavolix_ui_scale_from_density(float density, int choice, int use_density);
