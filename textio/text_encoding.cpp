#include "textio/text_encoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace tabulix {

namespace {

constexpr std::array<uint8_t, 65536> buildCharClasses() {
  std::array<uint8_t, 65536> t{};
  using namespace charclass;
  for (char16_t c : {0x0A, 0x0B, 0x0C, 0x0D, 0x85, 0x2028, 0x2029}) t[c] |= kNewline;
  // The space separators (general category Zs) of Unicode.
  constexpr char16_t zs[] = {0x0020, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005,
                             0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x202F, 0x205F, 0x3000};
  for (char16_t c : zs) t[c] |= kFieldWhitespace | kTrim;
  t[0x09] |= kFieldWhitespace;
  for (char16_t c = 0x09; c <= 0x0D; ++c) t[c] |= kTrim;
  t[0x85] |= kTrim;
  t[0x2028] |= kTrim;  // Zl
  t[0x2029] |= kTrim;  // Zp
  return t;
}

constexpr auto kCharClasses = buildCharClasses();

// Mac OS Roman's upper half, read once from ICU's "macintosh" table.
const std::array<char16_t, 128>& macRomanHigh() {
  static const std::array<char16_t, 128> table = [] {
    std::array<char16_t, 128> t{};
    UErrorCode err = U_ZERO_ERROR;
    UConverter* cnv = ucnv_open("macintosh", &err);
    if (U_FAILURE(err)) throw std::runtime_error("ICU has no Mac OS Roman converter");
    for (int b = 0; b < 128; ++b) {
      char byte = static_cast<char>(0x80 + b);
      UChar out[4];
      err = U_ZERO_ERROR;
      ucnv_reset(cnv);
      int32_t n = ucnv_toUChars(cnv, out, 4, &byte, 1, &err);
      t[b] = (U_SUCCESS(err) && n == 1) ? out[0] : 0xFFFD;
    }
    ucnv_close(cnv);
    return t;
  }();
  return table;
}

// Windows-1252's 0x80-0x9F; the unassigned 0x81, 0x8D, 0x8F, 0x90 and 0x9D
// stand for the C1 controls of the same value.
constexpr char16_t kWindows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline bool isCont(uint8_t b) { return (b & 0xC0) == 0x80; }

// Decodes strict UTF-8 into `dst` (room for `size` units). Returns units written.
size_t decodeUtf8(const uint8_t* src, size_t size, char16_t* dst, DecodeResult& r) {
  size_t i = 0;
  char16_t* d = dst;
  while (i < size) {
    // Eight ASCII bytes at a time: the common case of delimited text.
    while (i + 8 <= size) {
      uint64_t w;
      std::memcpy(&w, src + i, 8);
      if (w & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k) d[k] = src[i + k];
      d += 8;
      i += 8;
    }
    if (i >= size) break;
    uint8_t b0 = src[i];
    if (b0 < 0x80) {
      *d++ = b0;
      ++i;
      continue;
    }
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 3;
      if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
      if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 4;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;  // nothing beyond U+10FFFF
    } else {
      r = {i, DecodeResult::Status::Invalid};
      return d - dst;
    }
    size_t avail = std::min(need, size - i);
    for (size_t k = 1; k < avail; ++k) {
      uint8_t b = src[i + k];
      bool ok = k == 1 ? (b >= lo && b <= hi) : isCont(b);
      if (!ok) {
        r = {i, DecodeResult::Status::Invalid};
        return d - dst;
      }
    }
    if (avail < need) {
      r = {i, DecodeResult::Status::Incomplete};
      return d - dst;
    }
    uint32_t cp;
    if (need == 2) {
      cp = ((b0 & 0x1Fu) << 6) | (src[i + 1] & 0x3Fu);
    } else if (need == 3) {
      cp = ((b0 & 0x0Fu) << 12) | ((src[i + 1] & 0x3Fu) << 6) | (src[i + 2] & 0x3Fu);
    } else {
      cp = ((b0 & 0x07u) << 18) | ((src[i + 1] & 0x3Fu) << 12) | ((src[i + 2] & 0x3Fu) << 6) |
           (src[i + 3] & 0x3Fu);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *d++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *d++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *d++ = static_cast<char16_t>(cp);
    }
    i += need;
  }
  r = {size, DecodeResult::Status::Complete};
  return d - dst;
}

// UTF-16 is taken unit by unit, unpaired surrogates included: the parser works
// on code units, so nothing is lost and a pair split between reads rejoins.
size_t decodeUtf16(const uint8_t* src, size_t size, bool big, char16_t* dst, DecodeResult& r) {
  size_t n = size / 2;
  for (size_t k = 0; k < n; ++k) {
    uint8_t a = src[2 * k], b = src[2 * k + 1];
    dst[k] = big ? static_cast<char16_t>((a << 8) | b) : static_cast<char16_t>((b << 8) | a);
  }
  r = {2 * n, size % 2 ? DecodeResult::Status::Incomplete : DecodeResult::Status::Complete};
  return n;
}

size_t decodeUtf32(const uint8_t* src, size_t size, bool big, char16_t* dst, DecodeResult& r) {
  char16_t* d = dst;
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    const uint8_t* p = src + i;
    uint32_t cp = big ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                      : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      r = {i, DecodeResult::Status::Invalid};
      return d - dst;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *d++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *d++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *d++ = static_cast<char16_t>(cp);
    }
  }
  r = {i, i == size ? DecodeResult::Status::Complete : DecodeResult::Status::Incomplete};
  return d - dst;
}

const char* icuName(TextEncoding e) {
  switch (e) {
    case TextEncoding::ISO2022KR:
      return "ISO_2022,locale=ko,version=0";
    case TextEncoding::MacRoman:
      return "macintosh";
    case TextEncoding::Windows1252:
      return "windows-1252";
    default:
      return nullptr;
  }
}

UConverter* openIcu(TextEncoding e) {
  UErrorCode err = U_ZERO_ERROR;
  UConverter* cnv = ucnv_open(icuName(e), &err);
  if (U_FAILURE(err)) throw std::runtime_error(std::string("ICU cannot open converter ") + icuName(e));
  return cnv;
}

}  // namespace

namespace charclass {
const uint8_t* const table = kCharClasses.data();
}

std::string_view encodingName(TextEncoding e) {
  switch (e) {
    case TextEncoding::UTF8:
      return "UTF-8";
    case TextEncoding::UTF16BE:
      return "UTF-16BE";
    case TextEncoding::UTF16LE:
      return "UTF-16LE";
    case TextEncoding::UTF32BE:
      return "UTF-32BE";
    case TextEncoding::UTF32LE:
      return "UTF-32LE";
    case TextEncoding::ISO2022KR:
      return "ISO-2022-KR";
    case TextEncoding::MacRoman:
      return "MacRoman";
    case TextEncoding::UTF16:
      return "UTF-16";
    case TextEncoding::UTF32:
      return "UTF-32";
    case TextEncoding::Windows1252:
      return "windows-1252";
  }
  return "UTF-8";
}

struct TextDecoder::Icu {
  UConverter* cnv = nullptr;
  ~Icu() {
    if (cnv) ucnv_close(cnv);
  }
};

TextDecoder::TextDecoder(TextEncoding encoding, bool afterMarker) : encoding_(encoding) {
  if (encoding == TextEncoding::ISO2022KR) {
    icu_ = std::make_unique<Icu>();
    icu_->cnv = openIcu(encoding);
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setToUCallBack(icu_->cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    if (afterMarker) {
      // The header designating KS C 5601 was cut off as the stream's marker;
      // give it back to the converter so shifted text decodes.
      const char header[] = "\x1B$)C";
      UChar sink[8];
      UChar* t = sink;
      const char* s = header;
      ucnv_toUnicode(icu_->cnv, &t, sink + 8, &s, header + 4, nullptr, false, &err);
    }
  }
}

TextDecoder::~TextDecoder() = default;

DecodeResult TextDecoder::decode(const uint8_t* data, size_t size, bool atEnd, std::vector<char16_t>& out) {
  DecodeResult r;
  size_t base = out.size();
  // No encoding yields more UTF-16 units than bytes, except ISO-2022-KR, whose
  // converter is asked to go on while the output buffer is full.
  out.resize(base + size + 2);
  char16_t* dst = out.data() + base;
  size_t produced = 0;
  switch (encoding_) {
    case TextEncoding::UTF8:
      produced = decodeUtf8(data, size, dst, r);
      break;
    case TextEncoding::MacRoman: {
      out.resize(base);
      decodeMacRoman(data, size, out);
      return {size, DecodeResult::Status::Complete};
    }
    case TextEncoding::Windows1252: {
      out.resize(base);
      decodeWindows1252(data, size, out);
      return {size, DecodeResult::Status::Complete};
    }
    case TextEncoding::UTF16BE:
    case TextEncoding::UTF16LE:
    case TextEncoding::UTF16:
    case TextEncoding::UTF32BE:
    case TextEncoding::UTF32LE:
    case TextEncoding::UTF32: {
      bool is16 = encoding_ == TextEncoding::UTF16BE || encoding_ == TextEncoding::UTF16LE ||
                  encoding_ == TextEncoding::UTF16;
      bool marked = encoding_ == TextEncoding::UTF16 || encoding_ == TextEncoding::UTF32;
      size_t skip = 0;
      if (marked && !orderKnown_) {
        size_t need = is16 ? 2 : 4;
        if (size < need && !atEnd) {
          out.resize(base);
          return {0, DecodeResult::Status::Incomplete};
        }
        if (is16 && size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
          bigEndian_ = false, skip = 2;
        } else if (is16 && size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
          skip = 2;
        } else if (!is16 && size >= 4 && data[0] == 0xFF && data[1] == 0xFE && data[2] == 0 && data[3] == 0) {
          bigEndian_ = false, skip = 4;
        } else if (!is16 && size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0xFE && data[3] == 0xFF) {
          skip = 4;
        }
        orderKnown_ = true;
      }
      bool big =
          marked ? bigEndian_ : (encoding_ == TextEncoding::UTF16BE || encoding_ == TextEncoding::UTF32BE);
      produced = is16 ? decodeUtf16(data + skip, size - skip, big, dst, r)
                      : decodeUtf32(data + skip, size - skip, big, dst, r);
      r.consumed += skip;
      break;
    }
    case TextEncoding::ISO2022KR: {
      out.resize(base);
      const char* src = reinterpret_cast<const char*>(data);
      const char* srcEnd = src + size;
      UErrorCode err = U_ZERO_ERROR;
      while (true) {
        size_t have = out.size();
        out.resize(have + std::max<size_t>(size, 64));
        UChar* t = reinterpret_cast<UChar*>(out.data() + have);
        UChar* tEnd = reinterpret_cast<UChar*>(out.data() + out.size());
        err = U_ZERO_ERROR;
        ucnv_toUnicode(icu_->cnv, &t, tEnd, &src, srcEnd, nullptr, atEnd, &err);
        out.resize(have + (t - reinterpret_cast<UChar*>(out.data() + have)));
        if (err != U_BUFFER_OVERFLOW_ERROR) break;
      }
      if (U_FAILURE(err)) {
        // The converter stops after the offending bytes; what it wrote before
        // them is good text, the rest of the stream is not decodable.
        char bad[32];
        int8_t len = sizeof bad;
        UErrorCode e2 = U_ZERO_ERROR;
        ucnv_getInvalidChars(icu_->cnv, bad, &len, &e2);
        size_t at = static_cast<size_t>(src - reinterpret_cast<const char*>(data));
        at = at >= static_cast<size_t>(len) ? at - len : 0;
        return {at, DecodeResult::Status::Invalid};
      }
      // Partial sequences are held inside the converter until more bytes come.
      return {size, DecodeResult::Status::Complete};
    }
  }
  out.resize(base + produced);
  return r;
}

void decodeMacRoman(const uint8_t* data, size_t size, std::vector<char16_t>& out) {
  const auto& high = macRomanHigh();
  size_t base = out.size();
  out.resize(base + size);
  char16_t* d = out.data() + base;
  for (size_t i = 0; i < size; ++i) d[i] = data[i] < 0x80 ? data[i] : high[data[i] - 0x80];
}

void decodeWindows1252(const uint8_t* data, size_t size, std::vector<char16_t>& out) {
  size_t base = out.size();
  out.resize(base + size);
  char16_t* d = out.data() + base;
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = data[i];
    d[i] = b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : b;
  }
}

size_t tallyUtf8(const uint8_t* data, size_t size, bool atEnd, Utf8Tally& tally) {
  size_t i = 0;
  while (i < size) {
    const uint8_t b0 = data[i];
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    size_t need = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // the same rules as decodeUtf8
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 3;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 4;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    }
    const size_t avail = std::min(need, size - i);
    bool ok = need > 0;
    for (size_t k = 1; ok && k < avail; ++k) {
      const uint8_t b = data[i + k];
      ok = k == 1 ? (b >= lo && b <= hi) : isCont(b);
    }
    if (ok && avail < need && !atEnd) return size - i;
    if (!ok || avail < need) {
      ++tally.invalid;
      ++i;
      continue;
    }
    tally.valid += need;
    i += need;
  }
  return 0;
}

bool isValidUtf8(const uint8_t* data, size_t size, bool allowTruncatedEnd) {
  std::vector<char16_t> scratch(size + 1);
  DecodeResult r;
  decodeUtf8(data, size, scratch.data(), r);
  return r.status == DecodeResult::Status::Complete ||
         (allowTruncatedEnd && r.status == DecodeResult::Status::Incomplete);
}

namespace {

void putUnit(std::string& out, char16_t u, bool big) {
  if (big) {
    out += static_cast<char>(u >> 8);
    out += static_cast<char>(u & 0xFF);
  } else {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
}

void put32(std::string& out, uint32_t cp, bool big) {
  for (int k = 0; k < 4; ++k) {
    int shift = big ? 24 - 8 * k : 8 * k;
    out += static_cast<char>((cp >> shift) & 0xFF);
  }
}

}  // namespace

std::string encodeText(std::u16string_view text, TextEncoding encoding) {
  std::string out;
  switch (encoding) {
    case TextEncoding::UTF8:
      appendUtf8(out, text);
      return out;
    case TextEncoding::UTF16:
      out = "\xFF\xFE";
      [[fallthrough]];
    case TextEncoding::UTF16BE:
    case TextEncoding::UTF16LE: {
      bool big = encoding == TextEncoding::UTF16BE;
      out.reserve(out.size() + 2 * text.size());
      for (char16_t u : text) putUnit(out, u, big);
      return out;
    }
    case TextEncoding::UTF32:
      out = std::string("\xFF\xFE\0\0", 4);
      [[fallthrough]];
    case TextEncoding::UTF32BE:
    case TextEncoding::UTF32LE: {
      bool big = encoding == TextEncoding::UTF32BE;
      for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
          ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
          cp = 0xFFFD;
        }
        put32(out, cp, big);
      }
      return out;
    }
    case TextEncoding::ISO2022KR:
    case TextEncoding::MacRoman:
    case TextEncoding::Windows1252: {
      // A fresh converter per text: each text is encoded as a document of its
      // own, the ISO-2022-KR header included.
      UConverter* cnv = openIcu(encoding);
      UErrorCode err = U_ZERO_ERROR;
      out.resize(4 * text.size() + 16);
      int32_t n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()),
                                  reinterpret_cast<const UChar*>(text.data()),
                                  static_cast<int32_t>(text.size()), &err);
      ucnv_close(cnv);
      out.resize(U_SUCCESS(err) ? static_cast<size_t>(n) : 0);
      return out;
    }
  }
  return out;
}

void appendUtf8(std::string& out, std::u16string_view text) {
  size_t base = out.size();
  out.resize(base + 3 * text.size());
  char* d = out.data() + base;
  const char16_t* s = text.data();
  const char16_t* e = s + text.size();
  while (s < e) {
    // Four ASCII units at a time.
    while (s + 4 <= e) {
      uint64_t w;
      std::memcpy(&w, s, 8);
      if (w & 0xFF80FF80FF80FF80ull) break;
      d[0] = static_cast<char>(s[0]);
      d[1] = static_cast<char>(s[1]);
      d[2] = static_cast<char>(s[2]);
      d[3] = static_cast<char>(s[3]);
      d += 4;
      s += 4;
    }
    if (s >= e) break;
    uint32_t c = *s++;
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *d++ = static_cast<char>(0xC0 | (c >> 6));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      if (c >= 0xD800 && c <= 0xDBFF && s < e && *s >= 0xDC00 && *s <= 0xDFFF) {
        uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (*s++ - 0xDC00);
        *d++ = static_cast<char>(0xF0 | (cp >> 18));
        *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
        continue;
      }
      if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
      *d++ = static_cast<char>(0xE0 | (c >> 12));
      *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(d - out.data());
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  appendUtf8(out, text);
  return out;
}

std::u16string toUtf16(std::string_view text) {
  std::u16string out;
  std::vector<char16_t> buf(text.size() + 1);
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  size_t i = 0;
  while (i < text.size()) {
    DecodeResult r;
    size_t n = decodeUtf8(p + i, text.size() - i, buf.data(), r);
    out.append(buf.data(), n);
    i += r.consumed;
    if (i < text.size()) {
      out += u'\uFFFD';
      ++i;
    }
  }
  return out;
}

}  // namespace tabulix
