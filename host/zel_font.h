#pragma once
// Text for the pictures that the host draws without a toolkit (PNG plots): the system's sans
// serif font, rasterised with FreeType. Only the host's picture writers use it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A line of text as coverage, 0 (paper) to 255 (ink), one byte per pixel, row by row.
struct ZelTextBitmap {
  int width = 0;
  int height = 0;
  int baseline = 0;  // row of the baseline, from the top
  std::vector<std::uint8_t> coverage;
};

// The font file: $DCSERVO_FONT when set, else the first of the usual places of DejaVu Sans
// that exists; empty when there is none.
std::string ZelFontPath();

// `text` (UTF-8; a byte that is not part of valid UTF-8 draws as U+FFFD) at `pixel_size`
// pixels per em. False, with `why`, when no font could be loaded.
bool ZelRenderText(std::string_view text, int pixel_size, ZelTextBitmap& bitmap, std::string& why);
