#pragma once
// Tiny 5x7 bitmap font, just enough for legend labels such as "max -3.50 m",
// "nodata" and the units a coordinate system names ("ft", "US survey foot").
// Built in so the viewer needs no font library.

#include <cstdint>
#include <string_view>

#include "preview/image.h"

namespace kestranov::preview {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphSpacing = 1;  // blank columns between characters

// Seven rows, top first; bit 4 is the leftmost pixel. nullptr for characters the
// font lacks.
const std::uint8_t* glyph(char c);

int text_width(std::string_view text, int scale);
inline int text_height(int scale) { return kGlyphHeight * scale; }

// Draws with (x, y) as the top-left corner; each font pixel becomes a scale x scale
// square. Characters missing from the font are drawn as '?'.
void draw_text(RgbImage& image, int x, int y, std::string_view text, int scale, Rgb8 colour);

}  // namespace kestranov::preview
