// The shortest decimal that reads back as a double, written without the library's general code
// for the doubles a study writes most. The digits come from the double's rounding interval
// scaled by a power of ten held to 126 bits (R. Giulietti's "Schubfach" method: one 64 × 126-bit
// product per bound, rounded to odd, decides which of at most four candidates lie in the
// interval); among the shortest candidates the one nearest the double is taken, on a tie the
// even one. The text is laid out as std::to_chars lays out its shortest form: the shorter of the
// plain and the exponent form, the plain one on a tie. Normal doubles below 2^53 in magnitude
// take this way; zeros, subnormals, larger magnitudes and values that are not finite are left to
// std::to_chars.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "number_text/number_text.h"

namespace pitch {

namespace {

__extension__ typedef unsigned __int128 U128;

constexpr int kSignificandBits = 52;   // stored, without the hidden one
constexpr int kLeastExponent = -1074;  // of the last bit of the smallest double's significand
constexpr std::uint64_t kHiddenBit = std::uint64_t{1} << kSignificandBits;
constexpr std::uint64_t kLow63 = (std::uint64_t{1} << 63) - 1;

// floor(log10(2^e)), floor(log10(3/4 · 2^e)) and floor(log2(10^e)) for |e| ≤ 1100.
int FloorLog10Pow2(int e) { return static_cast<int>((e * 661'971'961'083LL) >> 41); }
int FloorLog10ThreeQuartersPow2(int e) {
  return static_cast<int>((e * 661'971'961'083LL - 274'743'187'321LL) >> 41);
}
int FloorLog2Pow10(int e) { return static_cast<int>((e * 913'124'641'741LL) >> 38); }

// 10^j as g = floor(10^j · 2^(125 − floor(log2 10^j))) + 1 (2^125 < g < 2^126) in two parts of
// 63 bits, g = high · 2^63 + low.
struct Power {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
};

// 10^j for j = 0 … 324: the powers the doubles below 2^53 need. Formed once from the exact
// integers 10^j.
constexpr int kPowers = 325;

const std::array<Power, kPowers>& Powers() {
  static const std::array<Power, kPowers> powers = [] {
    std::array<Power, kPowers> all{};
    std::vector<std::uint32_t> ten_to_j{1};  // little-endian words
    for (int j = 0; j < kPowers; ++j) {
      const int bits = static_cast<int>(32 * ten_to_j.size()) - std::countl_zero(ten_to_j.back());
      // The leading 126 bits of 10^j (zeros after the last when it has fewer).
      U128 top = 0;
      for (int b = bits - 1; b >= bits - 126; --b) {
        const std::uint32_t bit =
            b < 0 ? 0 : (ten_to_j[static_cast<std::size_t>(b / 32)] >> (b % 32)) & 1;
        top = (top << 1) | bit;
      }
      // Exact when 10^j has at most 126 bits, and then the + 1 is the whole difference.
      top += 1;
      all[static_cast<std::size_t>(j)] = {static_cast<std::uint64_t>(top >> 63),
                                          static_cast<std::uint64_t>(top) & kLow63};
      std::uint64_t carry = 0;
      for (std::uint32_t& word : ten_to_j) {
        const std::uint64_t product = std::uint64_t{word} * 10 + carry;
        word = static_cast<std::uint32_t>(product);
        carry = product >> 32;
      }
      if (carry != 0) {
        ten_to_j.push_back(static_cast<std::uint32_t>(carry));
      }
    }
    return all;
  }();
  return powers;
}

// floor(g · x / 2^127) with its last bit set when the quotient is not exact (rounded to odd).
std::uint64_t RoundToOdd(const Power& g, std::uint64_t x) {
  const U128 low_product = static_cast<U128>(g.low) * x;
  const U128 high_product = static_cast<U128>(g.high) * x;
  const auto x1 = static_cast<std::uint64_t>(low_product >> 64);
  const auto y0 = static_cast<std::uint64_t>(high_product);
  const auto y1 = static_cast<std::uint64_t>(high_product >> 64);
  const std::uint64_t z = (y0 >> 1) + x1;
  const std::uint64_t quotient = y1 + (z >> 63);
  return quotient | (((z & kLow63) + kLow63) >> 63);
}

// The decimal digits · 10^exponent.
struct Decimal {
  std::uint64_t digits = 0;
  int exponent = 0;
};

// The shortest decimal in the rounding interval of c · 2^q (c a normal significand, q ≤ 0).
Decimal ShortestOf(std::uint64_t c, int q) {
  const std::uint64_t odd = c & 1;  // an odd significand's interval excludes its bounds
  const std::uint64_t cb = c << 2;
  const std::uint64_t cbr = cb + 2;
  std::uint64_t cbl = 0;
  int k = 0;
  if (c != kHiddenBit || q == kLeastExponent) {
    cbl = cb - 2;
    k = FloorLog10Pow2(q);
  } else {
    // A power of two: the double below is half as far as the one above.
    cbl = cb - 1;
    k = FloorLog10ThreeQuartersPow2(q);
  }
  const int h = q + FloorLog2Pow10(-k) + 2;
  const Power& g = Powers()[static_cast<std::size_t>(-k)];
  const std::uint64_t vb = RoundToOdd(g, cb << h);
  const std::uint64_t vbl = RoundToOdd(g, cbl << h);
  const std::uint64_t vbr = RoundToOdd(g, cbr << h);
  const std::uint64_t s = vb >> 2;
  if (s >= 100) {
    // One digit fewer: s' · 10 and the next multiple of ten.
    const std::uint64_t sp10 = s / 10 * 10;
    const std::uint64_t tp10 = sp10 + 10;
    const bool upin = vbl + odd <= sp10 << 2;
    const bool wpin = (tp10 << 2) + odd <= vbr;
    if (upin != wpin) {
      return {upin ? sp10 : tp10, k};
    }
  }
  const std::uint64_t t = s + 1;
  const bool uin = vbl + odd <= s << 2;
  const bool win = (t << 2) + odd <= vbr;
  if (uin != win) {
    return {uin ? s : t, k};
  }
  // Both: the nearer one, on a tie the even one.
  const auto difference = static_cast<std::int64_t>(vb - ((s + t) << 1));
  return {difference < 0 || (difference == 0 && (s & 1) == 0) ? s : t, k};
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void WritePair(char* at, std::uint32_t pair) { std::memcpy(at, kDigitPairs + 2 * pair, 2); }

// The eight digits of v < 10^8, leading zeros included: two independent halves.
void WriteEight(char* at, std::uint32_t v) {
  const std::uint32_t high = v / 10000;
  const std::uint32_t low = v % 10000;
  WritePair(at, high / 100);
  WritePair(at + 2, high % 100);
  WritePair(at + 4, low / 100);
  WritePair(at + 6, low % 100);
}

// The number of decimal digits of v > 0.
int DigitCount(std::uint64_t v) {
  static constexpr std::array<std::uint64_t, 20> kTens = [] {
    std::array<std::uint64_t, 20> tens{};
    std::uint64_t ten = 1;
    for (std::uint64_t& t : tens) {
      t = ten;
      ten *= 10;
    }
    return tens;
  }();
  // floor(log10(2^(bits − 1))) or one less: the digits are that or one more.
  const int guess = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;
  return guess + (v >= kTens[static_cast<std::size_t>(guess)] ? 1 : 0);
}

// The decimal digits of v > 0 written to end at last (which has 20 bytes before it); returns
// their start. All twenty places are written, in three parts that do not wait for each other.
char* DigitsBefore(char* last, std::uint64_t v) {
  constexpr std::uint64_t kTenTo8 = 100'000'000;
  const std::uint64_t high = v / (kTenTo8 * kTenTo8);  // below 1845
  const std::uint64_t rest = v % (kTenTo8 * kTenTo8);
  WritePair(last - 20, static_cast<std::uint32_t>(high / 100));
  WritePair(last - 18, static_cast<std::uint32_t>(high % 100));
  WriteEight(last - 16, static_cast<std::uint32_t>(rest / kTenTo8));
  WriteEight(last - 8, static_cast<std::uint32_t>(rest % kTenTo8));
  return last - DigitCount(v);
}

// The end of the digits from first to last without their trailing zeros (there is a digit
// other than 0 among them): eight at a time.
char* WithoutTrailingZeros(char* first, char* last) {
  static_assert(std::endian::native == std::endian::little);
  constexpr std::uint64_t kZeros = 0x3030303030303030;  // "00000000"
  while (last - first >= 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, last - 8, 8);
    word ^= kZeros;
    if (word != 0) {
      // The last byte is the word's highest (little-endian): leading zero bytes are trailing
      // '0' characters.
      return last - std::countl_zero(word) / 8;
    }
    last -= 8;
  }
  while (last[-1] == '0') {
    --last;
  }
  return last;
}

// d · 10^e in the shorter of the plain and the exponent form, without d's trailing zeros.
char* LayOut(char* out, std::uint64_t d, int e) {
  char digits[20];
  char* const first = DigitsBefore(digits + sizeof digits, d);
  char* const digits_end = WithoutTrailingZeros(first, digits + sizeof digits);
  e += static_cast<int>(digits + sizeof digits - digits_end);
  const int n = static_cast<int>(digits_end - first);
  const int exponent = e + n - 1;  // of the first digit
  int plain = 0;
  if (e >= 0) {
    plain = n + e;
  } else if (exponent >= 0) {
    plain = n + 1;
  } else {
    plain = n + 1 - exponent;
  }
  const int magnitude = exponent < 0 ? -exponent : exponent;
  const int scientific = n + (n > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
  if (plain <= scientific) {
    if (e >= 0) {
      out = std::copy(first, digits_end, out);
      return std::fill_n(out, e, '0');
    }
    if (exponent >= 0) {
      out = std::copy(first, first + exponent + 1, out);
      *out++ = '.';
      return std::copy(first + exponent + 1, digits_end, out);
    }
    *out++ = '0';
    *out++ = '.';
    out = std::fill_n(out, -exponent - 1, '0');
    return std::copy(first, digits_end, out);
  }
  *out++ = *first;
  if (n > 1) {
    *out++ = '.';
    out = std::copy(first + 1, digits_end, out);
  }
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  if (magnitude >= 100) {
    *out++ = static_cast<char>('0' + magnitude / 100);
  }
  std::memcpy(out, kDigitPairs + 2 * (magnitude % 100), 2);
  return out + 2;
}

}  // namespace

char* WriteShortestDecimal(char* first, double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const auto biased = static_cast<int>((bits >> kSignificandBits) & 0x7ff);
  // Normal and below 2^53: the exponent of the significand's last bit is at most 0.
  const int q = biased - 1075;
  if (biased == 0 || q > 0) {
    char* const last = first + kShortestDecimalRoom;
    // From 1e17 on, the plain form may write a whole number's exact digits, far more than the
    // 17 that read back (-3635895055073183531008 for -3.6358950550731835e+21); the exponent
    // form has only the digits that do.
    if (std::fabs(value) >= 1e17) {
      return std::to_chars(first, last, value, std::chars_format::scientific).ptr;
    }
    return std::to_chars(first, last, value).ptr;
  }
  if ((bits >> 63) != 0) {
    *first++ = '-';
  }
  const std::uint64_t c = kHiddenBit | (bits & (kHiddenBit - 1));
  Decimal d;
  if (q < 0 && q > -kSignificandBits - 1 && ((c >> -q) << -q) == c) {
    d = {c >> -q, 0};  // a whole number: its own digits
  } else {
    d = ShortestOf(c, q);
  }
  return LayOut(first, d.digits, d.exponent);
}

}  // namespace pitch
