#include "drawing.h"

std::vector<Rgb> gradientStops(const UnitDef& label)
{
    std::vector<Rgb> stops;
    if (label.gradientMode == 0)
        return stops;
    for (const Colour& c : label.gradient)
        if (c)
            stops.push_back(*c);
    if (stops.size() < 2)
        stops.clear();
    return stops;
}

Rgb gradientAt(const std::vector<Rgb>& stops, int extent, int p)
{
    if (stops.empty())
        return {};
    int segments = int(stops.size()) - 1;
    int length = extent / segments;
    if (length <= 0 || p < 0)
        return length <= 0 ? stops.back() : stops.front();
    int seg = p / length;
    if (seg >= segments)
        return stops.back();  // what lies beyond the last whole segment
    int offset = p - seg * length;
    const Rgb& a = stops[size_t(seg)];
    const Rgb& b = stops[size_t(seg) + 1];
    auto mix = [&](uint8_t x, uint8_t y) { return uint8_t(int(x) + (int(y) - int(x)) * offset / length); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

Rect picturePlacement(int mode, int boxW, int boxH, int picW, int picH)
{
    if (mode == 1)
        return {0, 0, boxW, boxH};
    if (mode == 2) {
        int w = picW, h = picH;
        if (picW > boxW || picH > boxH) {
            // Scaled down to fit, proportions kept.
            if (int64_t(picW) * boxH > int64_t(picH) * boxW) {
                w = boxW;
                h = picW > 0 ? int(int64_t(picH) * boxW / picW) : 0;
            } else {
                h = boxH;
                w = picH > 0 ? int(int64_t(picW) * boxH / picH) : 0;
            }
        }
        return {(boxW - w) / 2, (boxH - h) / 2, w, h};
    }
    return {0, 0, picW, picH};
}
