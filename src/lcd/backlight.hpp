// How a module looks with its backlight off, worked out from its lit colours.
#pragma once

#include "lcd/lcdimg.hpp"

namespace vimbra {

// The panel and dot colours of an unlit module (each component's low byte is what counts,
// as when drawn). A positive module (dots darker than the panel: reflective and
// transflective yellow-green, grey, white) loses the glow behind its panel, which turns a
// dim greyish tone, while its dots stay dark. A negative module (light dots on a dark
// panel: blue, black, OLED-like) goes nearly black, its dots a faint trace of their colour.
void backlight_unlit_colors(const lcdimg_rgb_t& fg, const lcdimg_rgb_t& bg, lcdimg_rgb_t* fg_off,
                            lcdimg_rgb_t* bg_off);

} // namespace vimbra
