// The drawing libraries' side of the host's pictures (host/zel_drawing.h): text rasterised
// by FreeType and pixels encoded by libpng. A module of its own, loaded at the first picture.

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "host/zel_drawing.h"

namespace {

// One face for the process: opening the file for every label would cost more than drawing.
struct Font {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  std::string error;
  ~Font() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }
};

const Font& LoadedFont(const std::string& path) {
  static const std::unique_ptr<Font> font = [&path] {
    auto f = std::make_unique<Font>();
    if (path.empty()) {
      f->error =
          "no font to draw the text with (install fonts-dejavu-core, or name a TrueType "
          "font in DCSERVO_FONT)";
    } else if (FT_Init_FreeType(&f->library) != 0) {
      f->error = "the font library could not start";
    } else if (FT_New_Face(f->library, path.c_str(), 0, &f->face) != 0) {
      f->face = nullptr;
      f->error = path + ": not a font that can be read";
    }
    return f;
  }();
  return *font;
}

// The next code point of `text` from `i`; invalid UTF-8 gives U+FFFD and moves one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  const int extra = lead < 0x80           ? 0
                    : (lead >> 5) == 0x6  ? 1
                    : (lead >> 4) == 0xE  ? 2
                    : (lead >> 3) == 0x1E ? 3
                                          : -1;
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
    ++i;
    return U'\uFFFD';
  }
  char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const unsigned char c = byte(i + static_cast<std::size_t>(k));
    if ((c & 0xC0) != 0x80) {
      ++i;
      return U'\uFFFD';
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

bool RenderText(std::string_view text, int pixel_size, const std::string& font_path,
                ZelTextBitmap& bitmap, std::string& why) {
  const Font& font = LoadedFont(font_path);
  bitmap = {};
  if (!font.face) {
    why = font.error;
    return false;
  }
  FT_Face face = font.face;
  FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixel_size));
  const int ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  const int descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
  struct Placed {
    int x, top, width, rows;
    std::vector<std::uint8_t> alpha;
  };
  std::vector<Placed> glyphs;
  int pen = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (FT_Load_Char(face, cp, FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot g = face->glyph;
    Placed p{pen + g->bitmap_left,
             ascent - g->bitmap_top,
             static_cast<int>(g->bitmap.width),
             static_cast<int>(g->bitmap.rows),
             {}};
    for (int r = 0; r < p.rows; ++r) {
      const unsigned char* row = g->bitmap.buffer + r * g->bitmap.pitch;
      p.alpha.insert(p.alpha.end(), row, row + p.width);
    }
    glyphs.push_back(std::move(p));
    pen += static_cast<int>(g->advance.x >> 6);
  }
  bitmap.width = std::max(pen, 1);
  bitmap.height = ascent + descent;
  bitmap.baseline = ascent;
  bitmap.coverage.assign(static_cast<std::size_t>(bitmap.width * bitmap.height), 0);
  for (const Placed& p : glyphs) {
    for (int r = 0; r < p.rows; ++r) {
      for (int c = 0; c < p.width; ++c) {
        const int x = p.x + c, y = p.top + r;
        if (x < 0 || y < 0 || x >= bitmap.width || y >= bitmap.height) continue;
        std::uint8_t& dst = bitmap.coverage[static_cast<std::size_t>(y * bitmap.width + x)];
        dst = std::max(dst, p.alpha[static_cast<std::size_t>(r * p.width + c)]);
      }
    }
  }
  return true;
}

// The picture's bytes, collected as libpng writes them.
void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data),
                                                          length);
}
void FlushNothing(png_structp) {}

std::string EncodePng(int width, int height, const std::uint32_t* pixels) {
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<png_byte> rows(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    rows[3 * i] = static_cast<png_byte>(pixels[i] >> 16);
    rows[3 * i + 1] = static_cast<png_byte>(pixels[i] >> 8);
    rows[3 * i + 2] = static_cast<png_byte>(pixels[i]);
  }
  std::vector<png_bytep> row_pointers(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    row_pointers[static_cast<std::size_t>(y)] =
        rows.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
  std::string bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return {};
  }
  // libpng reports its errors by a long jump; nothing here needs unwinding past this frame.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &bytes, AppendPngBytes, FlushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(png, info, row_pointers.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

constexpr ZelDrawingFunctions kFunctions = {RenderText, EncodePng};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ZelDrawingFunctions*
ZelDrawingModuleFunctions() {
  return &kFunctions;
}
