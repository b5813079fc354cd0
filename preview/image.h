#pragma once
// Minimal 8-bit RGB canvas the renderer draws into and the PNG writer stores.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestranov::preview {

struct Rgb8 {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb8&, const Rgb8&) = default;
};

class RgbImage {
public:
    RgbImage() = default;
    RgbImage(int width, int height, Rgb8 fill = {255, 255, 255})
        : width_(width), height_(height), px_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)
    {
        for (std::size_t i = 0; i < px_.size(); i += 3) {
            px_[i] = fill.r;
            px_[i + 1] = fill.g;
            px_[i + 2] = fill.b;
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }
    const std::vector<std::uint8_t>& data() const { return px_; }

    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

    // Drawing off the canvas is silently clipped so callers need not pre-clip text.
    void set(int x, int y, Rgb8 c)
    {
        if (!inside(x, y)) return;
        std::uint8_t* p = &px_[index(x, y)];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    }

    Rgb8 get(int x, int y) const
    {
        const std::uint8_t* p = &px_[index(x, y)];
        return {p[0], p[1], p[2]};
    }

    void fill_rect(int x, int y, int w, int h, Rgb8 c)
    {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) set(i, j, c);
    }

private:
    std::size_t index(int x, int y) const
    {
        return (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 3;
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> px_;
};

}  // namespace kestranov::preview
