#include "engine/text_fold.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace tabulix {

std::string foldForSearch(std::string_view text) {
  icu::UnicodeString s =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  s.foldCase();
  // Decompose, then drop the combining marks: "É" becomes "e".
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_SUCCESS(status)) {
    icu::UnicodeString decomposed = nfd->normalize(s, status);
    if (U_SUCCESS(status)) s = decomposed;
  }
  icu::UnicodeString stripped;
  for (int32_t i = 0; i < s.length();) {
    UChar32 c = s.char32At(i);
    if (u_charType(c) != U_NON_SPACING_MARK) stripped.append(c);
    i += U16_LENGTH(c);
  }
  std::string out;
  stripped.toUTF8String(out);
  return out;
}

bool containsIgnoringCaseAndDiacritics(std::string_view text, std::string_view search) {
  if (search.empty()) return true;
  return foldForSearch(text).find(foldForSearch(search)) != std::string::npos;
}

}  // namespace tabulix
