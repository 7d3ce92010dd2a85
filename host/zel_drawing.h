#pragma once
// FreeType and libpng, which draw the PNG plots' text and encode their pixels, live in a
// module beside the host's library that is loaded at the first picture: a command that draws
// nothing starts without five libraries and some three hundred bindings of the dynamic linker.
// Only the host's picture writers use it.

#include <cstdint>
#include <string>
#include <string_view>

#include "host/zel_font.h"

struct ZelDrawingFunctions {
  // As ZelRenderText, with the font file that the first call loads.
  bool (*render_text)(std::string_view text, int pixel_size, const std::string& font_path,
                      ZelTextBitmap& bitmap, std::string& why);
  // `width` x `height` pixels of 0xRRGGBB, row by row, as a PNG file's bytes; empty when
  // libpng refuses.
  std::string (*encode_png)(int width, int height, const std::uint32_t* pixels);
};

// The module's C entry, which hands over its functions.
inline constexpr const char* kZelDrawingEntry = "ZelDrawingModuleFunctions";
using ZelDrawingEntry = const ZelDrawingFunctions* (*)();

// The module's functions, loaded at the first call; null, with `why`, when it cannot be.
const ZelDrawingFunctions* ZelDrawing(std::string& why);
