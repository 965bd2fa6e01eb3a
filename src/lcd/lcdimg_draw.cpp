#include "lcd/lcdimg_draw.hpp"

#include <algorithm>
#include <cmath>

#include "lcd/lcdimg.hpp"

namespace {

// Farthest a midpoint-circle point strays from the true radius, with room to spare.
constexpr double CIRCLE_SLACK = 2.0;

// The distance from v to the nearest point of [0, last], and to the farthest one.
double near_gap(double v, double last) {
    return v < 0 ? -v : (v > last ? v - last : 0.0);
}
double far_gap(double v, double last) {
    return std::max(std::fabs(v), std::fabs(v - last));
}

// True when no point of the circle can land on the picture: the picture lies wholly outside
// the ring or wholly inside its hole. Such circles are skipped, which draws the same pixels
// (none) without walking a radius of billions.
bool circle_misses_picture(const lcdimg_t* img, int x, int y, int radius) {
    if (radius < 0) {
        return true;
    }
    const double last_x = img->canvas.width - 1.0;
    const double last_y = img->canvas.height - 1.0;
    const double r = radius;
    const double near_x = near_gap(x, last_x);
    const double near_y = near_gap(y, last_y);
    if (near_x * near_x + near_y * near_y > (r + CIRCLE_SLACK) * (r + CIRCLE_SLACK)) {
        return true;
    }
    const double far_x = far_gap(x, last_x);
    const double far_y = far_gap(y, last_y);
    return r > CIRCLE_SLACK &&
           far_x * far_x + far_y * far_y < (r - CIRCLE_SLACK) * (r - CIRCLE_SLACK);
}

} // namespace

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
    if (img == nullptr || circle_misses_picture(img, x, y, radius)) {
        return 0;
    }
    const bmpimg_color_t color = img->draw_color;
    bmpimg_draw_circle(&img->canvas, x, y, radius, color);
    return 0;
}
