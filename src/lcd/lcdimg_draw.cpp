#include "lcd/lcdimg_draw.hpp"

#include "lcd/lcdimg.hpp"

namespace vimbra {

int lcdimg_draw_color(lcdimg_t* img, unsigned char r, unsigned char g, unsigned char b) {
    if (img != nullptr) {
        img->draw_color = {r, g, b};
    }
    return 0;
}

int lcdimg_draw_plot(lcdimg_t* img, int x, int y) {
    if (img == nullptr) {
        return 0;
    }
    const bmpimg_color_t color = img->draw_color;
    bmpimg_draw_pixel(&img->canvas, x, y, color);
    return 0;
}

int lcdimg_draw_line(lcdimg_t* img, int x1, int y1, int x2, int y2) {
    if (img == nullptr) {
        return 0;
    }
    const bmpimg_color_t color = img->draw_color;
    bmpimg_draw_line(&img->canvas, x1, y1, x2, y2, color);
    return 0;
}

int lcdimg_draw_box(lcdimg_t* img, int x1, int y1, int x2, int y2) {
    if (img == nullptr) {
        return 0;
    }
    const bmpimg_color_t color = img->draw_color;
    bmpimg_draw_box(&img->canvas, x1, y1, x2, y2, color);
    return 0;
}

int lcdimg_draw_fillbox(lcdimg_t* img, int x1, int y1, int x2, int y2) {
    if (img == nullptr) {
        return 0;
    }
    const bmpimg_color_t color = img->draw_color;
    bmpimg_fill_box(&img->canvas, x1, y1, x2, y2, color);
    return 0;
}

int lcdimg_draw_circle(lcdimg_t* img, int x, int y, int radius) {
    if (img == nullptr) {
        return 0;
    }
    const bmpimg_color_t color = img->draw_color;
    bmpimg_draw_circle(&img->canvas, x, y, radius, color);
    return 0;
}

} // namespace vimbra
