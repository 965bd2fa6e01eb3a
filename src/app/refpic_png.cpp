// The PNG half of the reference reader: libpng's simplified interface does the decoding.
#include <png.h>

#include <cstdio>
#include <cstdlib>

#include "app/refpic.hpp"

int refpic_read_png(const unsigned char* data, std::size_t size, int want_width, int want_height,
                    refpic_t* pic, char* message, int message_capacity) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, data, size) == 0) {
        std::snprintf(message, static_cast<std::size_t>(message_capacity), "bad PNG file: %s",
                      image.message);
        return REFPIC_REFUSED;
    }
    pic->width = static_cast<int>(image.width);
    pic->height = static_cast<int>(image.height);
    if (image.width != static_cast<png_uint_32>(want_width) ||
        image.height != static_cast<png_uint_32>(want_height)) {
        png_image_free(&image);
        return REFPIC_OK;
    }
    image.format = PNG_FORMAT_RGB;
    pic->rgb = static_cast<unsigned char*>(std::malloc(PNG_IMAGE_SIZE(image)));
    if (pic->rgb == nullptr) {
        png_image_free(&image);
        return REFPIC_NO_MEMORY;
    }
    // A picture with transparency is seen over black, as a viewer without a page shows it.
    const png_color black{0, 0, 0};
    if (png_image_finish_read(&image, &black, pic->rgb, 0, nullptr) == 0) {
        std::snprintf(message, static_cast<std::size_t>(message_capacity), "bad PNG file: %s",
                      image.message);
        std::free(pic->rgb);
        pic->rgb = nullptr;
        return REFPIC_REFUSED;
    }
    return REFPIC_OK;
}
