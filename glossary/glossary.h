// The built-in dictionary of statistical terms: each term's title and short
// explanation, a search over titles, and the rendering of a text to HTML.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulix {

// One entry of the dictionary, in English (the lookup key of tr()).
struct GlossaryEntry {
  std::string key;
  std::string title;
  std::string text;
};

class Glossary {
 public:
  // The whole dictionary, in the order in which its terms are defined.
  static const std::vector<GlossaryEntry>& dictTerms();
  // Every key of the dictionary, in its order.
  static std::vector<std::string> allTerms();
  // The entry's "title" or "text", translated; none for an unknown key or attribute.
  static std::optional<std::string> attribute(std::string_view name, std::string_view key);
  // The translated title of a key; none for an unknown key.
  static std::optional<std::string> titleForTerm(std::string_view key);
  // The translated text of a key; none for an unknown key.
  static std::optional<std::string> textForTerm(std::string_view key);
  // The keys of `keys` whose translated title contains `search`, ignoring case
  // and diacritics, in the order of `keys`; unknown keys never match.
  static std::vector<std::string> subsetOfTerms(const std::vector<std::string>& keys,
                                                std::string_view search);
  // The keys the variable detail screen lists, in its order.
  static const std::vector<std::string>& variableDetailTerms();
};

// An image of the application that a glossary text may show: its name in an
// image reference and where the web interface serves it.
struct GlossaryImage {
  std::string name;
  std::string url;
};

// The images a text may name.
const std::vector<GlossaryImage>& glossaryImages();

// A glossary text as HTML: CommonMark in safe mode (raw HTML and unsafe links
// dropped), with each image reference ![alt](name) shown as the application's
// image of that name, or as its alt text when there is no such image.
std::string renderGlossaryText(std::string_view text);

}  // namespace tabulix
