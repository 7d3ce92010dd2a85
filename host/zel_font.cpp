#include "host/zel_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

// Where Debian, Fedora and Arch put DejaVu Sans (the package fonts-dejavu-core on Debian).
constexpr const char* kFontCandidates[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu-sans-fonts/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/TTF/DejaVuSans.ttf",
};

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

const Font& LoadedFont() {
  static const std::unique_ptr<Font> font = [] {
    auto f = std::make_unique<Font>();
    const std::string path = ZelFontPath();
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

}  // namespace

std::string ZelFontPath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (const char* named = std::getenv("DCSERVO_FONT"); named && *named)
    return fs::is_regular_file(named, ec) ? std::string(named) : std::string();
  for (const char* candidate : kFontCandidates) {
    if (fs::is_regular_file(candidate, ec)) return candidate;
  }
  return {};
}

bool ZelRenderText(std::string_view text, int pixel_size, ZelTextBitmap& bitmap, std::string& why) {
  const Font& font = LoadedFont();
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
