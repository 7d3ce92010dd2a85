// Pictures and data files of a graph without any toolkit: an SVG writer, a small raster for
// PNG (no text: the SVG carries the labels) and CSV. Headless runs save plots with these;
// the Qt front end draws its own PNG.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "host/zel_graph.h"
#include "host/zel_file.h"
#include "host/zel_format.h"

namespace {

struct Frame {
  int width, height;
  int left, top, right, bottom;  // plot area, pixels
  ZelAxisRange x, y1, y2;
  bool has_axis2;
  bool log_x;

  double Px(double v) const {
    if (log_x)
      return left + std::log10(v / x.lo) / std::log10(x.hi / x.lo) * (right - left);
    return left + (v - x.lo) / (x.hi - x.lo) * (right - left);
  }
  double Py(double v, int axis) const {
    const ZelAxisRange& r = axis == 2 ? y2 : y1;
    return bottom - (v - r.lo) / (r.hi - r.lo) * (bottom - top);
  }
};

Frame MakeFrame(const CGraphWindow& g, int width, int height) {
  Frame f{};
  f.width = width;
  f.height = height;
  f.x = g.GetXRange();
  f.y1 = g.GetYRange(1);
  f.y2 = g.GetYRange(2);
  f.has_axis2 = false;
  f.log_x = g.IsLogX() && f.x.lo > 0 && f.x.hi > f.x.lo;
  if (const CGraphFilter* filter = g.GetFilter()) {
    for (int c = 0; c < filter->GetCount(); ++c) f.has_axis2 |= filter->GetAt(c)->axis == 2;
  }
  f.left = 70;
  f.right = width - (f.has_axis2 ? 70 : 20);
  f.top = 30;
  f.bottom = height - 45;
  return f;
}

std::vector<double> Ticks(ZelAxisRange r) {
  std::vector<double> ticks;
  const double step = ZelTickStep(r);
  if (!(step > 0)) return ticks;
  for (double t = std::ceil(r.lo / step) * step; t <= r.hi + step * 1e-9; t += step)
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  return ticks;
}

// 1, 2 and 5 times each power of ten inside the range.
std::vector<double> LogTicks(ZelAxisRange r) {
  std::vector<double> ticks;
  if (!(r.lo > 0) || !(r.hi > r.lo)) return ticks;
  for (double decade = std::pow(10.0, std::floor(std::log10(r.lo))); decade <= r.hi; decade *= 10)
    for (double m : {1.0, 2.0, 5.0})
      if (m * decade >= r.lo && m * decade <= r.hi) ticks.push_back(m * decade);
  return ticks;
}

std::vector<double> XTicks(const Frame& f) { return f.log_x ? LogTicks(f.x) : Ticks(f.x); }

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

std::string Colour(std::uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06x", static_cast<unsigned>(rgb & 0xFFFFFF));
  return buf;
}

std::string Escape(const std::string& s) { return ZelEscapeMarkup(s); }

double StrokeWidth(int style) { return style == 1 ? 1.0 : style >= 3 ? 3.0 : 2.0; }

// --- PNG -----------------------------------------------------------------------------------

class Raster {
 public:
  Raster(int w, int h) : w_(w), h_(h), pixels_(static_cast<std::size_t>(w * h), 0) {
    Index(0xFFFFFF);
  }
  int Index(std::uint32_t rgb) {
    auto it = palette_index_.find(rgb);
    if (it != palette_index_.end()) return it->second;
    if (palette_.size() >= 256) return 0;
    palette_.push_back(rgb);
    return palette_index_[rgb] = static_cast<int>(palette_.size()) - 1;
  }
  void Dot(int x, int y, int size, int colour, const Frame& clip) {
    for (int dy = -(size / 2); dy < size - size / 2; ++dy)
      for (int dx = -(size / 2); dx < size - size / 2; ++dx) {
        const int px = x + dx, py = y + dy;
        if (px < clip.left || px > clip.right || py < clip.top || py > clip.bottom) continue;
        Set(px, py, colour);
      }
  }
  void Set(int x, int y, int colour) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_)
      pixels_[static_cast<std::size_t>(y * w_ + x)] = static_cast<std::uint8_t>(colour);
  }
  void Line(double x0, double y0, double x1, double y1, int size, int colour, const Frame& clip) {
    const double steps = std::max(std::fabs(x1 - x0), std::fabs(y1 - y0));
    const int n = static_cast<int>(std::min(steps, 20000.0)) + 1;
    for (int i = 0; i <= n; ++i) {
      const double t = static_cast<double>(i) / n;
      Dot(static_cast<int>(std::lround(x0 + (x1 - x0) * t)),
          static_cast<int>(std::lround(y0 + (y1 - y0) * t)), size, colour, clip);
    }
  }
  std::string Png() const;

 private:
  int w_, h_;
  std::vector<std::uint8_t> pixels_;
  std::vector<std::uint32_t> palette_;
  std::map<std::uint32_t, int> palette_index_;
};

std::uint32_t Crc32(const std::string& bytes) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  PutU32(png, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  PutU32(png, Crc32(body));
}

// Deflate with the fixed Huffman code. Plots are mostly runs of one colour and rows like the
// row above, so matches at distance 1 and at one row's distance are all it looks for.
class Deflater {
 public:
  std::string Compress(const std::vector<std::uint8_t>& data, std::size_t stride) {
    Bits(1, 1);  // last block
    Bits(1, 2);  // fixed code
    std::size_t i = 0;
    while (i < data.size()) {
      std::size_t best = 0, dist = 0;
      for (std::size_t d : {std::size_t{1}, stride}) {
        if (d == 0 || i < d) continue;
        std::size_t n = 0;
        while (n < 258 && i + n < data.size() && data[i + n] == data[i + n - d]) ++n;
        if (n > best) {
          best = n;
          dist = d;
        }
      }
      if (best >= 3) {
        Match(best, dist);
        i += best;
      } else {
        Symbol(data[i++]);
      }
    }
    Symbol(256);
    if (nbits_) out_ += static_cast<char>(acc_);
    return out_;
  }

 private:
  void Bits(std::uint32_t value, int count) {
    for (int k = 0; k < count; ++k) {
      acc_ |= ((value >> k) & 1u) << nbits_;
      if (++nbits_ == 8) {
        out_ += static_cast<char>(acc_);
        acc_ = 0;
        nbits_ = 0;
      }
    }
  }
  void Code(std::uint32_t code, int length) {  // Huffman codes go most significant bit first
    for (int k = length - 1; k >= 0; --k) Bits((code >> k) & 1u, 1);
  }
  void Symbol(int v) {
    if (v < 144) Code(0x30u + static_cast<std::uint32_t>(v), 8);
    else if (v < 256) Code(0x190u + static_cast<std::uint32_t>(v - 144), 9);
    else if (v < 280) Code(static_cast<std::uint32_t>(v - 256), 7);
    else Code(0xC0u + static_cast<std::uint32_t>(v - 280), 8);
  }
  void Match(std::size_t length, std::size_t distance) {
    static constexpr int kLenBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr int kLenExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr int kDistBase[] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                        33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static constexpr int kDistExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    const int len = static_cast<int>(length), dist = static_cast<int>(distance);
    int lc = 28;
    while (kLenBase[lc] > len) --lc;
    Symbol(257 + lc);
    Bits(static_cast<std::uint32_t>(len - kLenBase[lc]), kLenExtra[lc]);
    int dc = 29;
    while (kDistBase[dc] > dist) --dc;
    Code(static_cast<std::uint32_t>(dc), 5);
    Bits(static_cast<std::uint32_t>(dist - kDistBase[dc]), kDistExtra[dc]);
  }

  std::string out_;
  std::uint32_t acc_ = 0;
  int nbits_ = 0;
};

std::string Raster::Png() const {
  std::vector<std::uint8_t> rows;
  rows.reserve(static_cast<std::size_t>((w_ + 1) * h_));
  for (int y = 0; y < h_; ++y) {
    rows.push_back(0);  // filter: none
    rows.insert(rows.end(), pixels_.begin() + y * w_, pixels_.begin() + (y + 1) * w_);
  }
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t v : rows) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  std::string zlib = "\x78\x01";
  zlib += Deflater().Compress(rows, static_cast<std::size_t>(w_ + 1));
  PutU32(zlib, (b << 16) | a);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  PutU32(ihdr, static_cast<std::uint32_t>(w_));
  PutU32(ihdr, static_cast<std::uint32_t>(h_));
  ihdr += std::string("\x08\x03\x00\x00\x00", 5);  // 8-bit palette, no interlace
  Chunk(png, "IHDR", ihdr);
  std::string plte;
  for (std::uint32_t rgb : palette_) {
    plte += static_cast<char>((rgb >> 16) & 0xFF);
    plte += static_cast<char>((rgb >> 8) & 0xFF);
    plte += static_cast<char>(rgb & 0xFF);
  }
  Chunk(png, "PLTE", plte);
  Chunk(png, "IDAT", zlib);
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace

double ZelTickStep(ZelAxisRange r) {
  const double span = r.hi - r.lo;
  if (!(span > 0) || !std::isfinite(span)) return 0.0;
  const double raw = span / 5.0;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  return raw / p < 1.5 ? p : raw / p < 3.5 ? 2 * p : raw / p < 7.5 ? 5 * p : 10 * p;
}

std::string ZelGraphSvgText(const CGraphWindow& g, int width, int height) {
  const Frame f = MakeFrame(g, width, height);
  std::ostringstream s;
  s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
    << "\" viewBox=\"0 0 " << width << ' ' << height << "\" font-family=\"sans-serif\">\n";
  s << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  if (!g.GetTitle().empty())
    s << "<text x=\"" << width / 2 << "\" y=\"20\" text-anchor=\"middle\" font-size=\"14\">"
      << Escape(g.GetTitle()) << "</text>\n";
  for (double t : XTicks(f)) {
    s << "<line x1=\"" << f.Px(t) << "\" y1=\"" << f.top << "\" x2=\"" << f.Px(t) << "\" y2=\""
      << f.bottom << "\" stroke=\"#dddddd\"/>\n";
    s << "<text x=\"" << f.Px(t) << "\" y=\"" << f.bottom + 16
      << "\" text-anchor=\"middle\" font-size=\"11\">" << Num(t) << "</text>\n";
  }
  for (double t : Ticks(f.y1)) {
    s << "<line x1=\"" << f.left << "\" y1=\"" << f.Py(t, 1) << "\" x2=\"" << f.right << "\" y2=\""
      << f.Py(t, 1) << "\" stroke=\"#dddddd\"/>\n";
    s << "<text x=\"" << f.left - 6 << "\" y=\"" << f.Py(t, 1) + 4
      << "\" text-anchor=\"end\" font-size=\"11\">" << Num(t) << "</text>\n";
  }
  if (f.has_axis2) {
    for (double t : Ticks(f.y2))
      s << "<text x=\"" << f.right + 6 << "\" y=\"" << f.Py(t, 2) + 4 << "\" font-size=\"11\">"
        << Num(t) << "</text>\n";
  }
  s << "<clipPath id=\"plot\"><rect x=\"" << f.left << "\" y=\"" << f.top << "\" width=\""
    << f.right - f.left << "\" height=\"" << f.bottom - f.top << "\"/></clipPath>\n";
  const CGraphFilter* filter = g.GetFilter();
  const CGraphDocument* doc = g.GetDocument();
  const int n = doc ? std::min(g.GetDrawnPointCount(), doc->GetPointCount()) : 0;
  s << "<g clip-path=\"url(#plot)\">\n";
  for (int c = 0; filter && c < filter->GetCount(); ++c) {
    const CXYCurve& curve = *filter->GetAt(c);
    if (curve.style == 0) {
      for (int i = 0; i < n; ++i)
        s << "<circle cx=\"" << f.Px(doc->GetValue(curve.x_channel, i)) << "\" cy=\""
          << f.Py(doc->GetValue(curve.y_channel, i), curve.axis) << "\" r=\"1.5\" fill=\""
          << Colour(curve.colour) << "\"/>\n";
      continue;
    }
    s << "<polyline fill=\"none\" stroke=\"" << Colour(curve.colour) << "\" stroke-width=\""
      << StrokeWidth(curve.style) << "\" points=\"";
    for (int i = 0; i < n; ++i)
      s << f.Px(doc->GetValue(curve.x_channel, i)) << ','
        << f.Py(doc->GetValue(curve.y_channel, i), curve.axis) << ' ';
    s << "\"/>\n";
  }
  s << "</g>\n";
  s << "<rect x=\"" << f.left << "\" y=\"" << f.top << "\" width=\"" << f.right - f.left
    << "\" height=\"" << f.bottom - f.top << "\" fill=\"none\" stroke=\"#000000\"/>\n";
  for (int c = 0; filter && c < filter->GetCount(); ++c) {
    const CXYCurve& curve = *filter->GetAt(c);
    const int y = f.top + 16 + 16 * c;
    s << "<line x1=\"" << f.right - 150 << "\" y1=\"" << y - 4 << "\" x2=\"" << f.right - 130
      << "\" y2=\"" << y - 4 << "\" stroke=\"" << Colour(curve.colour)
      << "\" stroke-width=\"2\"/>\n";
    s << "<text x=\"" << f.right - 125 << "\" y=\"" << y << "\" font-size=\"11\">"
      << Escape(curve.name) << (curve.axis == 2 ? " (right)" : "") << "</text>\n";
  }
  s << "</svg>\n";
  return s.str();
}

std::string ZelWriteGraphSvg(const CGraphWindow& graph, const std::string& path) {
  return ZelWriteFileAtomically(path, ZelGraphSvgText(graph));
}

std::string ZelWriteGraphPng(const CGraphWindow& graph, const std::string& path) {
  return ZelWriteFileAtomically(path, ZelGraphPngBytes(graph));
}

std::string ZelGraphFiles(const CGraphWindow& graph, const std::string& png,
                          const std::string& svg, const std::string& csv,
                          std::vector<ZelFileBytes>& files) {
  if (!csv.empty() && !graph.GetDocument())
    return csv + ": the graph has no data; nothing was saved";
  if (!png.empty()) files.push_back({png, ZelGraphPngBytes(graph)});
  if (!svg.empty()) files.push_back({svg, ZelGraphSvgText(graph)});
  if (!csv.empty()) files.push_back({csv, ZelGraphCsvText(graph)});
  return {};
}

std::string ZelGraphPngBytes(const CGraphWindow& g) {
  const Frame f = MakeFrame(g, 800, 500);
  Raster r(f.width, f.height);
  const int grid = r.Index(0xDDDDDD), black = r.Index(0x000000);
  const Frame all{f.width, f.height, 0, 0, f.width - 1, f.height - 1, {}, {}, {}, false, false};
  for (double t : XTicks(f)) r.Line(f.Px(t), f.top, f.Px(t), f.bottom, 1, grid, all);
  for (double t : Ticks(f.y1)) r.Line(f.left, f.Py(t, 1), f.right, f.Py(t, 1), 1, grid, all);
  const CGraphFilter* filter = g.GetFilter();
  const CGraphDocument* doc = g.GetDocument();
  const int n = doc ? std::min(g.GetDrawnPointCount(), doc->GetPointCount()) : 0;
  for (int c = 0; filter && c < filter->GetCount(); ++c) {
    const CXYCurve& curve = *filter->GetAt(c);
    const int colour = r.Index(curve.colour);
    const int size = static_cast<int>(StrokeWidth(curve.style));
    for (int i = 0; i < n; ++i) {
      const double x = f.Px(doc->GetValue(curve.x_channel, i));
      const double y = f.Py(doc->GetValue(curve.y_channel, i), curve.axis);
      if (!std::isfinite(x) || !std::isfinite(y)) continue;
      if (curve.style == 0 || i == 0) {
        r.Dot(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), 3, colour, f);
        continue;
      }
      const double px = f.Px(doc->GetValue(curve.x_channel, i - 1));
      const double py = f.Py(doc->GetValue(curve.y_channel, i - 1), curve.axis);
      if (std::isfinite(px) && std::isfinite(py)) r.Line(px, py, x, y, size, colour, f);
    }
    const int ly = f.top + 12 + 16 * c;
    r.Line(f.right - 150, ly, f.right - 130, ly, 2, colour, all);
  }
  r.Line(f.left, f.top, f.right, f.top, 1, black, all);
  r.Line(f.left, f.bottom, f.right, f.bottom, 1, black, all);
  r.Line(f.left, f.top, f.left, f.bottom, 1, black, all);
  r.Line(f.right, f.top, f.right, f.bottom, 1, black, all);
  return r.Png();
}

std::string ZelWriteGraphCsv(const CGraphWindow& g, const std::string& path) {
  if (!g.GetDocument()) return path + ": the graph has no data; nothing was saved";
  return ZelWriteFileAtomically(path, ZelGraphCsvText(g));
}

std::string ZelGraphCsvText(const CGraphWindow& g) {
  const CGraphDocument* doc = g.GetDocument();
  if (!doc) return {};
  std::ostringstream s;
  for (int c = 0; c < doc->GetChannelCount(); ++c) {
    std::string head = doc->GetChannelName(c);
    if (!doc->GetChannelUnit(c).empty()) head += " [" + doc->GetChannelUnit(c) + "]";
    // A name with a comma or a quote is quoted, as spreadsheets expect.
    if (head.find_first_of(",\"") != std::string::npos) {
      std::string q = "\"";
      for (char ch : head) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      head = q + "\"";
    }
    s << (c ? "," : "") << head;
  }
  s << '\n';
  char buf[32];
  for (int i = 0; i < doc->GetPointCount(); ++i) {
    for (int c = 0; c < doc->GetChannelCount(); ++c) {
      std::snprintf(buf, sizeof buf, "%.9g", doc->GetValue(c, i));
      s << (c ? "," : "") << buf;
    }
    s << '\n';
  }
  return s.str();
}
