#include "host/zel_names.h"

namespace zel {
namespace {

// Walks a name one folded byte at a time, so hashing and comparing need no copy.
class FoldCursor {
 public:
  explicit FoldCursor(std::string_view s) : s_(s) {}
  bool AtEnd() const { return i_ >= s_.size(); }
  unsigned char Next() {
    auto c = static_cast<unsigned char>(s_[i_++]);
    if ((c == 0xC2 || c == 0xC3) && i_ < s_.size()) {
      auto t = static_cast<unsigned char>(s_[i_]);
      if (t >= 0x80 && t <= 0xBF) {
        ++i_;
        c = static_cast<unsigned char>(c == 0xC2 ? t : t + 0x40);
      }
    }
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c - 'A' + 'a');
    // Latin-1 upper-case letters (but not the multiplication sign) fold like ASCII ones.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
    return c;
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

std::string FoldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (FoldCursor c(name); !c.AtEnd();) out.push_back(static_cast<char>(c.Next()));
  return out;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  FoldCursor ca(a), cb(b);
  while (!ca.AtEnd() && !cb.AtEnd()) {
    if (ca.Next() != cb.Next()) return false;
  }
  return ca.AtEnd() && cb.AtEnd();
}

std::size_t FoldedHash::operator()(std::string_view name) const {
  std::size_t h = 1469598103934665603ull;  // FNV-1a
  for (FoldCursor c(name); !c.AtEnd();) {
    h ^= c.Next();
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace zel
