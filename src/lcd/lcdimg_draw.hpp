// The drawing surface offered to scripts. Knows the image only as a handle.
#pragma once

namespace vimbra {

struct lcdimg_t;

// Sets the current drawing colour. Returns 0.
int lcdimg_draw_color(lcdimg_t* img, unsigned char r, unsigned char g, unsigned char b);
// The shapes below draw in the current colour on the image's canvas; each returns 0.
int lcdimg_draw_plot(lcdimg_t* img, int x, int y);
int lcdimg_draw_line(lcdimg_t* img, int x1, int y1, int x2, int y2);
int lcdimg_draw_box(lcdimg_t* img, int x1, int y1, int x2, int y2);
int lcdimg_draw_fillbox(lcdimg_t* img, int x1, int y1, int x2, int y2);
int lcdimg_draw_circle(lcdimg_t* img, int x, int y, int radius);

} // namespace vimbra
