#include "lcd/backlight.hpp"

namespace vimbra {

namespace {

// Brightness of a colour, 0..255, with the usual weights of the eye (299, 587, 114).
int luma(int r, int g, int b) {
    return (299 * r + 587 * g + 114 * b) / 1000;
}

lcdimg_rgb_t low_bytes(const lcdimg_rgb_t& c) {
    return {c.r & 0xFF, c.g & 0xFF, c.b & 0xFF};
}

} // namespace

void backlight_unlit_colors(const lcdimg_rgb_t& fg, const lcdimg_rgb_t& bg, lcdimg_rgb_t* fg_off,
                            lcdimg_rgb_t* bg_off) {
    const lcdimg_rgb_t f = low_bytes(fg);
    const lcdimg_rgb_t b = low_bytes(bg);
    const int panel = luma(b.r, b.g, b.b);
    if (luma(f.r, f.g, f.b) <= panel) {
        // Positive: half-way to the panel's grey, then at 60 percent; the dots as they were.
        const auto dim = [panel](int c) { return (panel + c) * 3 / 10; };
        *bg_off = {dim(b.r), dim(b.g), dim(b.b)};
        *fg_off = f;
        return;
    }
    // Negative: the panel at 15 percent, the dots a fifth of the way from it to their colour.
    const auto dark = [](int c) { return c * 15 / 100; };
    *bg_off = {dark(b.r), dark(b.g), dark(b.b)};
    const auto trace = [](int off, int lit) { return off + (lit - off) / 5; };
    *fg_off = {trace(bg_off->r, f.r), trace(bg_off->g, f.g), trace(bg_off->b, f.b)};
}

} // namespace vimbra
