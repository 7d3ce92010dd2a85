#include "host/zel_font.h"

#include <cstdlib>
#include <filesystem>

#include "host/zel_drawing.h"

namespace {

// Where Debian, Fedora and Arch put DejaVu Sans (the package fonts-dejavu-core on Debian).
constexpr const char* kFontCandidates[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu-sans-fonts/DejaVuSans.ttf",
    "/usr/share/fonts/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/TTF/DejaVuSans.ttf",
};

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
  bitmap = {};
  const ZelDrawingFunctions* drawing = ZelDrawing(why);
  if (drawing == nullptr) return false;
  // Looked for once, as the module loads the font once.
  static const std::string font_path = ZelFontPath();
  return drawing->render_text(text, pixel_size, font_path, bitmap, why);
}
