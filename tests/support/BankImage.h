#pragma once
// What a bank must hold after an image was written into it: the image, the
// zeros that padded its last 128-byte packet, and erased flash after that.
#include <algorithm>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> Written(const std::vector<uint8_t>& image, size_t flashSize) {
    std::vector<uint8_t> flash(flashSize, 0xFF);
    const size_t padded = (image.size() + 127) / 128 * 128;
    std::fill(flash.begin(), flash.begin() + long(padded), 0);
    std::copy(image.begin(), image.end(), flash.begin());
    return flash;
}
