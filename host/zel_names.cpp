#include "host/zel_names.h"
#include "host/zel_name_pattern.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstring>

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

inline unsigned char LowerAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Every conversion step looks several names up, so plain-ASCII names (nearly all of them)
// are hashed and compared eight bytes at a time.
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

template <typename Word>
[[gnu::always_inline]] inline Word LoadFixed(const char* p) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The first n (at most eight) bytes of p, little-endian, zero above. A memcpy of a variable
// length is a library call, which costs more than the whole hash of a short name; two
// overlapping fixed loads (or three single bytes) read exactly the n bytes instead.
[[gnu::always_inline]] inline std::uint64_t LoadWord(const char* p, std::size_t n) {
  if (n == 8) return LoadFixed<std::uint64_t>(p);
  if (n >= 4) {
    const std::uint64_t low = LoadFixed<std::uint32_t>(p);
    const std::uint64_t high = LoadFixed<std::uint32_t>(p + n - 4);
    return low | (high << (8 * (n - 4)));
  }
  if (n == 0) return 0;
  const auto byte = [p](std::size_t i) {
    return static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  };
  return byte(0) | byte(n / 2) | byte(n - 1);
}

// Lower case of eight ASCII bytes: bytes from 'A' to 'Z' gain 0x20. No byte carries into
// the next because every byte is below 0x80.
[[gnu::always_inline]] inline std::uint64_t LowerWord(std::uint64_t w) {
  const std::uint64_t at_least_a = w + 0x3F3F3F3F3F3F3F3Full;
  const std::uint64_t above_z = w + 0x2525252525252525ull;
  return w | ((at_least_a & ~above_z & kHighBits) >> 2);
}

[[gnu::always_inline]] inline std::uint64_t Mix(std::uint64_t h, std::uint64_t chunk) {
  h = (h ^ chunk) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 32);
}

constexpr std::uint64_t kHashSeed = 0x2545F4914F6CDD1Dull;

// The bytes of a name in words of eight, then its length. A name of eight bytes or more
// ends on the word of its last eight, which overlaps the word before it. Plain ASCII is
// lowered a word at a time on the way; other bytes must arrive folded already.
template <bool kLowerAscii>
std::uint64_t HashWords(std::string_view s, std::uint64_t& high_bits) {
  const auto lower = [](std::uint64_t w) { return kLowerAscii ? LowerWord(w) : w; };
  const std::size_t n = s.size();
  std::uint64_t h = kHashSeed;
  std::uint64_t seen = 0;
  if (n < 8) {
    seen = LoadWord(s.data(), n);
    h = Mix(h, lower(seen));
  } else {
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      const std::uint64_t w = LoadFixed<std::uint64_t>(s.data() + i);
      seen |= w;
      h = Mix(h, lower(w));
    }
    const std::uint64_t last = LoadFixed<std::uint64_t>(s.data() + n - 8);
    seen |= last;
    h = Mix(h, lower(last));
  }
  high_bits = seen & kHighBits;
  return Mix(h, n);
}

}  // namespace

bool NameMatchesFolded(std::string_view name, std::string_view folded) {
  // The common case, an ASCII name of the folded name's length, compares a word at a time
  // and needs no folding of `folded`; the last word overlaps the one before it.
  const std::size_t n = name.size();
  if (n == folded.size()) {
    std::uint64_t seen = 0, differ = 0;
    if (n >= 8) {
      for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const std::uint64_t x = LoadFixed<std::uint64_t>(name.data() + i);
        seen |= x;
        differ |= LowerWord(x) ^ LoadFixed<std::uint64_t>(folded.data() + i);
      }
      const std::uint64_t x = LoadFixed<std::uint64_t>(name.data() + n - 8);
      seen |= x;
      differ |= LowerWord(x) ^ LoadFixed<std::uint64_t>(folded.data() + n - 8);
    } else {
      const std::uint64_t x = LoadWord(name.data(), n);
      seen = x;
      differ = LowerWord(x) ^ LoadWord(folded.data(), n);
    }
    // LowerWord garbles bytes above 0x7F, so only an all-ASCII name's verdict counts here.
    if (!(seen & kHighBits)) return differ == 0;
  }
  return NamesEqual(name, folded);
}

std::string FoldName(std::string_view name) {
  // Plain ASCII, nearly every name, is lowered eight bytes at a time where it stands; the
  // last word overlaps the one before it, which lowering twice does not change.
  std::string ascii(name);
  const std::size_t n = ascii.size();
  std::uint64_t seen = 0;
  const auto lower_word_at = [&ascii, &seen](std::size_t i) {
    const std::uint64_t w = LoadFixed<std::uint64_t>(ascii.data() + i);
    seen |= w;
    const std::uint64_t lowered = LowerWord(w);
    std::memcpy(ascii.data() + i, &lowered, sizeof lowered);
  };
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 <= n; i += 8) lower_word_at(i);
    lower_word_at(n - 8);
  } else {
    for (char& c : ascii) {
      const auto u = static_cast<unsigned char>(c);
      seen |= u;
      c = static_cast<char>(LowerAscii(u));
    }
  }
  if (!(seen & kHighBits)) return ascii;
  std::string out;
  out.reserve(name.size());
  for (FoldCursor c(name); !c.AtEnd();) out.push_back(static_cast<char>(c.Next()));
  return out;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  // Plain ASCII compares a word at a time; the first word beyond it hands over to the
  // cursors, which also fold the UTF-8 spelling of Latin-1 characters.
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const std::uint64_t x = LoadWord(a.data() + i, 8);
    const std::uint64_t y = LoadWord(b.data() + i, 8);
    if ((x | y) & kHighBits) break;
    if (LowerWord(x) != LowerWord(y)) return false;
  }
  const std::size_t rest_a = a.size() - i;
  const std::size_t rest_b = b.size() - i;
  if (rest_a <= 8 && rest_b <= 8) {
    const std::uint64_t x = LoadWord(a.data() + i, rest_a);
    const std::uint64_t y = LoadWord(b.data() + i, rest_b);
    if (!((x | y) & kHighBits)) return rest_a == rest_b && LowerWord(x) == LowerWord(y);
  }
  FoldCursor ca(a.substr(i)), cb(b.substr(i));
  while (!ca.AtEnd() && !cb.AtEnd()) {
    if (ca.Next() != cb.Next()) return false;
  }
  return ca.AtEnd() && cb.AtEnd();
}

std::uint64_t FoldedNameHash(std::string_view name) {
  // ASCII folds to the same length, so the words are those of the folded name. A name
  // beyond ASCII never folds to an ASCII one, so its hash may come the long way.
  std::uint64_t high_bits = 0;
  const std::uint64_t h = HashWords<true>(name, high_bits);
  if (!high_bits) return h;
  return HashWords<false>(FoldName(name), high_bits);
}

std::size_t FoldedHash::operator()(std::string_view name) const {
  return static_cast<std::size_t>(FoldedNameHash(name));
}

std::size_t NameDistance(std::string_view a, std::string_view b) {
  const std::string x = FoldName(a), y = FoldName(b);
  // Optimal string alignment distance: three rows suffice for the swap of neighbours.
  std::vector<std::size_t> before(y.size() + 1), previous(y.size() + 1), current(y.size() + 1);
  for (std::size_t j = 0; j <= y.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= y.size(); ++j) {
      const std::size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
        current[j] = std::min(current[j], before[j - 2] + 1);
    }
    before.swap(previous);
    previous.swap(current);
  }
  return previous[y.size()];
}

std::vector<std::string> NearestNames(std::string_view name,
                                      const std::vector<std::string>& candidates,
                                      std::size_t count) {
  const std::string folded = FoldName(name);
  // A third of the name's length may be wrong, but always at least one letter.
  const std::size_t limit = std::max<std::size_t>(1, folded.size() / 3);
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const std::string& candidate : candidates) {
    std::size_t d = NameDistance(folded, candidate);
    if (d > limit && folded.size() >= 3 && FoldName(candidate).find(folded) != std::string::npos)
      d = limit;  // a part of a longer name
    if (d <= limit) scored.emplace_back(d, candidate);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& l, const auto& r) { return l.first < r.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scored.size() && out.size() < count; ++i) {
    if (std::find(out.begin(), out.end(), scored[i].second) == out.end())
      out.push_back(scored[i].second);
  }
  return out;
}

bool NameMatchesPattern(std::string_view pattern, std::string_view name) {
  if (pattern.find_first_of("*?[") == std::string_view::npos)
    return FoldName(name).find(FoldName(pattern)) != std::string::npos;
  return fnmatch(std::string(pattern).c_str(), std::string(name).c_str(), FNM_CASEFOLD) == 0;
}

}  // namespace zel
