#include "windows_pictures.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace {

uint32_t u16(std::string_view d, size_t at) { return uint8_t(d[at]) | uint32_t(uint8_t(d[at + 1])) << 8; }
uint32_t u32(std::string_view d, size_t at) { return u16(d, at) | u16(d, at + 2) << 16; }

size_t rowBytes(int64_t width, int bits) { return size_t((width * bits + 31) / 32 * 4); }

// A device-independent bitmap: the info header, the palette and the pixels,
// then, in an icon, the 1-bit AND mask (`icon`: the stored height counts both).
std::optional<QImage> decodeDib(std::string_view dib, size_t pixelsAt, bool icon)
{
    if (dib.size() < 40)
        return std::nullopt;
    const uint32_t headerSize = u32(dib, 0);
    const int32_t width = int32_t(u32(dib, 4));
    int32_t height = int32_t(u32(dib, 8));
    const int bits = int(u16(dib, 14));
    const uint32_t compression = u32(dib, 16);
    uint32_t colours = u32(dib, 32);
    const bool bottomUp = height > 0;
    if (height < 0)
        height = -height;
    if (icon)
        height /= 2;
    if (headerSize < 40 || headerSize > dib.size() || compression != 0 || width <= 0 || height <= 0
        || width > 32768 || height > 32768 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
        return std::nullopt;
    if (bits <= 8 && (colours == 0 || colours > (1u << bits)))
        colours = 1u << bits;
    if (bits > 8)
        colours = 0;
    const size_t paletteAt = headerSize;
    if (pixelsAt == 0)
        pixelsAt = paletteAt + size_t(colours) * 4;
    const size_t stride = rowBytes(width, bits);
    const size_t maskStride = rowBytes(width, 1);
    const size_t maskAt = pixelsAt + stride * size_t(height);
    if (paletteAt + size_t(colours) * 4 > dib.size() || maskAt > dib.size()
        || (icon && maskAt + maskStride * size_t(height) > dib.size()))
        return std::nullopt;

    const bool alpha = icon && bits == 32;
    QImage image(width, height, icon ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        const size_t row = size_t(bottomUp ? height - 1 - y : y);
        const unsigned char* p = reinterpret_cast<const unsigned char*>(dib.data() + pixelsAt + row * stride);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            QRgb c;
            if (bits <= 8) {
                const int perByte = 8 / bits;
                const unsigned byte = p[x / perByte];
                const unsigned index = (byte >> ((perByte - 1 - x % perByte) * bits)) & ((1u << bits) - 1);
                const size_t at = paletteAt + size_t(index < colours ? index : 0) * 4;
                c = qRgb(uint8_t(dib[at + 2]), uint8_t(dib[at + 1]), uint8_t(dib[at]));
            } else {
                const unsigned char* px = p + size_t(x) * size_t(bits / 8);
                c = alpha ? qRgba(px[2], px[1], px[0], px[3]) : qRgb(px[2], px[1], px[0]);
                anyAlpha = anyAlpha || (alpha && px[3] != 0);
            }
            out[x] = c;
        }
    }
    // Without an alpha channel, an icon's transparency is its AND mask.
    if (icon && !anyAlpha) {
        for (int y = 0; y < height; ++y) {
            const size_t row = size_t(bottomUp ? height - 1 - y : y);
            const unsigned char* m = reinterpret_cast<const unsigned char*>(dib.data() + maskAt + row * maskStride);
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                out[x] = (m[x / 8] >> (7 - x % 8)) & 1 ? 0 : (out[x] | 0xff000000u);
        }
    }
    return image;
}

std::vector<QImage> decodeIco(std::string_view d)
{
    std::vector<QImage> images;
    const size_t count = u16(d, 4);
    if (count == 0 || 6 + count * 16 > d.size())
        return {};
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = 6 + i * 16;
        const size_t size = u32(d, entry + 8);
        const size_t at = u32(d, entry + 12);
        if (at > d.size() || size > d.size() - at)
            return {};
        std::optional<QImage> image = decodeDib(d.substr(at, size), 0, true);
        if (!image)
            return {};
        images.push_back(std::move(*image));
    }
    return images;
}

} // namespace

std::vector<QImage> decodeWindowsPicture(std::string_view data)
{
    if (data.size() >= 54 && data.substr(0, 2) == "BM") {
        const size_t pixelsAt = u32(data, 10);
        if (pixelsAt < 14 || pixelsAt > data.size())
            return {};
        std::optional<QImage> image = decodeDib(data.substr(14), pixelsAt - 14, false);
        if (!image)
            return {};
        return {std::move(*image)};
    }
    if (data.size() >= 6 && u16(data, 0) == 0 && u16(data, 2) == 1)
        return decodeIco(data);
    return {};
}
