#include "script/hal.hpp"

#include "base/console.hpp"
#include "lcd/lcdimg_draw.hpp"

namespace vimbra {

namespace {

// The drawing surface takes colour channels as bytes: keep the low 8 bits.
unsigned char low_byte(std::int32_t v) {
    return static_cast<unsigned char>(v & 0xFF);
}

// Hexadecimal of the value's two's complement.
unsigned bits(std::int32_t v) {
    return static_cast<unsigned>(static_cast<std::uint32_t>(v));
}

} // namespace

int hal_init(hal_t* hal, lcdimg_t* lcd_image) {
    hal->lcd_image = lcd_image;
    hal->console = nullptr;
    return 0;
}

int hal_getc(hal_t* hal) {
    return console_getc(hal->console);
}

int hal_putc(hal_t* hal, int c) {
    const char byte = static_cast<char>(c & 0xFF);
    return console_write(hal->console, &byte, 1) == 0 ? c & 0xFF : -1;
}

int hal_puts(hal_t* hal, const char* text) {
    for (int i = 0; text[i] != 0; ++i)
        hal_putc(hal, static_cast<unsigned char>(text[i]));
    return 0;
}

char* hal_gets(hal_t* hal, char* buf, int capacity) {
    if (capacity < 0) return buf; // no room even for the terminator
    int n = 0;
    while (n < capacity) {
        const int c = hal_getc(hal);
        if (c == -1 || c == 0 || c == '\n' || c == '\r') break;
        buf[n++] = static_cast<char>(c);
    }
    buf[n] = 0;
    return buf;
}

int hal_read(hal_t* hal, std::int32_t port, std::int32_t* value) {
    if (port == 0) {
        *value = hal_getc(hal);
        return 0;
    }
    // Wraps at 32 bits like the port hardware it stands in for.
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(port) * 110u);
    console_printf(hal->console, "HAL:INPUT(PORT=%d, DATA=0x%08X)\n", static_cast<int>(port),
                   bits(*value));
    return 0;
}

int hal_write(hal_t* hal, std::int32_t port, std::int32_t value) {
    if (port == 0) {
        hal_putc(hal, value & 0xFF);
        return 0;
    }
    console_printf(hal->console, "HAL:OUTPUT(PORT=%d, DATA=0x%08X)\n", static_cast<int>(port),
                   bits(value));
    return 0;
}

void hal_color(hal_t* hal, std::int32_t r, std::int32_t g, std::int32_t b) {
    if (hal->lcd_image == nullptr) return;
    lcdimg_draw_color(hal->lcd_image, low_byte(r), low_byte(g), low_byte(b));
}

void hal_plot(hal_t* hal, std::int32_t x, std::int32_t y) {
    if (hal->lcd_image == nullptr) return;
    lcdimg_draw_plot(hal->lcd_image, x, y);
}

void hal_line(hal_t* hal, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    if (hal->lcd_image == nullptr) return;
    lcdimg_draw_line(hal->lcd_image, x1, y1, x2, y2);
}

void hal_box(hal_t* hal, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    if (hal->lcd_image == nullptr) return;
    lcdimg_draw_box(hal->lcd_image, x1, y1, x2, y2);
}

void hal_fillbox(hal_t* hal, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    if (hal->lcd_image == nullptr) return;
    lcdimg_draw_fillbox(hal->lcd_image, x1, y1, x2, y2);
}

void hal_circle(hal_t* hal, std::int32_t x, std::int32_t y, std::int32_t radius) {
    if (hal->lcd_image == nullptr) return;
    lcdimg_draw_circle(hal->lcd_image, x, y, radius);
}

} // namespace vimbra
