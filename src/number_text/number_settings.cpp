#include "number_text/number_settings.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

namespace pitch {

namespace {

bool IsPlainCLocale(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX";
}

// ASCII letters only, whatever the C library's locale (under a Turkish single-byte locale its
// toupper turns 'i' into a byte outside ASCII).
std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

// Languages whose usual decimal separator is the comma, for locales the machine has not built.
constexpr auto kCommaLanguages = std::to_array<std::string_view>(
    {"ru", "uk", "be", "kk", "ky", "uz", "tg", "az", "hy", "ka", "bg", "mk", "sr", "hr",
     "bs", "sl", "sk", "cs", "pl", "lt", "lv", "et", "fi", "sv", "nb", "nn", "no", "da",
     "is", "de", "nl", "fr", "es", "pt", "it", "ro", "hu", "el", "tr", "id"});

// Runs f on a locale_t of that name for the given category mask, if the machine has it.
template <typename F>
bool WithLocale(int mask, std::string_view name, F f) {
  const std::string owned(name);
  locale_t loc = newlocale(mask, owned.c_str(), static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) {
    return false;
  }
  f(loc);
  freelocale(loc);
  return true;
}

const char* FirstSet(const EnvironmentLookup& lookup, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = lookup(name);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return "";
}

const EnvironmentLookup kRealEnvironment = [](const char* name) { return std::getenv(name); };

}  // namespace

char DecimalSeparatorForLocale(std::string_view locale_name) {
  if (IsPlainCLocale(locale_name)) {
    return '.';
  }
  char separator = 0;
  bool known = WithLocale(LC_NUMERIC_MASK, locale_name, [&](locale_t loc) {
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    // A symbol of more than one byte does not fit: the full stop stands in for it.
    const bool single_ascii = radix != nullptr && radix[0] != '\0' && radix[1] == '\0' &&
                              static_cast<unsigned char>(radix[0]) < 0x80;
    separator = single_ascii ? radix[0] : '.';
  });
  if (known) {
    return separator;
  }
  const std::string language = Lower(locale_name.substr(0, locale_name.find_first_of("_.@")));
  const bool comma =
      std::find(kCommaLanguages.begin(), kCommaLanguages.end(), language) != kCommaLanguages.end();
  return comma ? ',' : '.';
}

namespace {

// Whether the codeset writes the ASCII characters of the results file as the same single bytes
// (UTF-8, CP1251, KOI8-R, ISO-8859-x do; UTF-16, UTF-32 and UCS-4 do not, and add byte-order
// marks). A codeset that iconv does not know is taken as it is.
bool KeepsAsciiAsSingleBytes(const std::string& code_page) {
  iconv_t cd = iconv_open(code_page.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return true;
  }
  static constexpr std::string_view kSample = "c1 = -0,123456789E+10.\r\nmuv iv nuv Tnu:?";
  char* in = const_cast<char*>(kSample.data());
  std::size_t in_left = kSample.size();
  std::array<char, 256> out;
  char* dst = out.data();
  std::size_t dst_left = out.size();
  const std::size_t rc = iconv(cd, &in, &in_left, &dst, &dst_left);
  const std::size_t flushed = iconv(cd, nullptr, nullptr, &dst, &dst_left);
  iconv_close(cd);
  const std::string_view converted(out.data(), out.size() - dst_left);
  return rc != static_cast<std::size_t>(-1) && flushed != static_cast<std::size_t>(-1) &&
         converted == kSample;
}

std::string CodesetOfLocaleName(std::string_view locale_name) {
  if (IsPlainCLocale(locale_name)) {
    return "ASCII";
  }
  const std::size_t dot = locale_name.find('.');
  if (dot != std::string_view::npos) {
    std::string_view codeset = locale_name.substr(dot + 1);
    codeset = codeset.substr(0, codeset.find('@'));
    const std::string lower = Lower(codeset);
    if (lower == "utf8" || lower == "utf-8") {
      return "UTF-8";
    }
    if (lower == "cp1251" || lower == "windows-1251" || lower == "microsoftcp1251") {
      return "CP1251";
    }
    if (!codeset.empty()) {
      return Upper(codeset);
    }
  }
  std::string codeset = "UTF-8";
  WithLocale(LC_CTYPE_MASK, locale_name, [&](locale_t loc) {
    const char* name = nl_langinfo_l(CODESET, loc);
    if (name != nullptr && *name != '\0') {
      codeset = name;
    }
  });
  return codeset == "ANSI_X3.4-1968" ? "ASCII" : codeset;
}

}  // namespace

std::string CodePageForLocale(std::string_view locale_name) {
  const std::string codeset = CodesetOfLocaleName(locale_name);
  return KeepsAsciiAsSingleBytes(codeset) ? codeset : "UTF-8";
}

NumberSettings NumberSettingsFromEnvironment(const EnvironmentLookup& lookup) {
  NumberSettings s;
  s.decimal_separator =
      DecimalSeparatorForLocale(FirstSet(lookup, {"LC_ALL", "LC_NUMERIC", "LANG"}));
  s.code_page = CodePageForLocale(FirstSet(lookup, {"LC_ALL", "LC_CTYPE", "LANG"}));
  return s;
}

NumberSettings ReadNumberSettings() { return NumberSettingsFromEnvironment(kRealEnvironment); }

namespace {

// Converts `text` with iconv from `from` to `to` (or between the fallbacks when iconv has no such
// pair), a block at a time. At a sequence the conversion cannot take, `on_bad(out, at, left)`
// appends what stands for it and returns how many input bytes it covers (at least 1).
template <typename OnBad>
std::string Convert(std::string_view text, const char* to, const char* from,
                    const char* fallback_to, const char* fallback_from, OnBad on_bad) {
  std::string out;
  out.reserve(text.size());
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    cd = iconv_open(fallback_to, fallback_from);
  }
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  std::array<char, 256> buffer;
  while (in_left > 0) {
    char* dst = buffer.data();
    std::size_t dst_left = buffer.size();
    const std::size_t rc = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer.data(), buffer.size() - dst_left);
    if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) {
      continue;
    }
    const std::size_t skip = std::min(on_bad(out, in, in_left), in_left);
    in += skip;
    in_left -= skip;
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string ToCodePage(std::string_view utf8, const std::string& code_page) {
  return Convert(utf8, code_page.c_str(), "UTF-8", "ASCII", "UTF-8",
                 [](std::string& out, const char* in, std::size_t in_left) {
                   // A character the code page lacks, or a malformed byte: one '?' for the whole
                   // character.
                   out += '?';
                   const auto lead = static_cast<unsigned char>(*in);
                   std::size_t skip = 1;
                   if (errno == EILSEQ && lead >= 0xC0) {
                     skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
                     // Do not skip past bytes that are not continuation bytes of this character.
                     for (std::size_t k = 1; k < skip; ++k) {
                       if (k >= in_left || (static_cast<unsigned char>(in[k]) & 0xC0) != 0x80) {
                         skip = k;
                         break;
                       }
                     }
                   }
                   return skip;
                 });
}

std::string FromCodePage(std::string_view bytes, const std::string& code_page) {
  return Convert(bytes, "UTF-8", code_page.c_str(), "UTF-8", "ASCII",
                 [](std::string& out, const char* in, std::size_t) {
                   // A byte that does not decode here, or a character cut at the end: shown, and
                   // passed.
                   static constexpr char kHex[] = "0123456789abcdef";
                   const auto byte = static_cast<unsigned char>(*in);
                   out += "\\x";
                   out += kHex[byte >> 4];
                   out += kHex[byte & 0xF];
                   return std::size_t{1};
                 });
}

}  // namespace pitch
