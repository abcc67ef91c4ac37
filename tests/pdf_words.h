// Reads a PDF back with poppler's `pdftotext -bbox`: the words of each page
// with their boxes, and the checks every report's pages must pass.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "reports/pdf_writer.h"

namespace tabulix::testing {

// One word of a page (pages count from 1) with its box in points.
struct Word {
  int page;
  double yMin, xMin, yMax = 0, xMax = 0;
  std::string text;
};

inline std::vector<Word> pdfWords(const std::filesystem::path& pdf) {
  std::string html;
  if (FILE* p = popen(("pdftotext -bbox '" + pdf.string() + "' - 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) html.append(buf, n);
    pclose(p);
  }
  std::vector<Word> out;
  int page = 0;
  std::regex word(
      R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
  std::istringstream in(html);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (line.find("<page ") != std::string::npos) ++page;
    if (std::regex_search(line, m, word)) {
      std::string text = m[5];
      // The bbox output is HTML: its entities stand for the characters.
      for (const auto& [entity, c] :
           {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
        for (size_t at; (at = text.find(entity)) != std::string::npos;) text.replace(at, strlen(entity), c);
      out.push_back({page, std::stod(m[2]), std::stod(m[1]), std::stod(m[4]), std::stod(m[3]), text});
    }
  }
  return out;
}

// The text of one page, its words joined by spaces.
inline std::string pageText(const std::vector<Word>& words, int page) {
  std::string text;
  for (const Word& w : words)
    if (w.page == page) text += w.text + " ";
  return text;
}

// Every page carries the header's texts and "Page N of M"; no word lies
// outside the page, is cut ("…") or overlaps another on its line.
inline void expectPagesFurnishedAndNoWordsCollide(const std::vector<Word>& words, int pages,
                                                  const reports::PageFurniture& furniture) {
  for (int page = 1; page <= pages; ++page) {
    const std::string text = pageText(words, page);
    EXPECT_NE(text.find(furniture.workspace), std::string::npos) << "page " << page;
    EXPECT_NE(text.find(furniture.date), std::string::npos) << "page " << page;
    EXPECT_NE(text.find("Page " + std::to_string(page) + " of " + std::to_string(pages)), std::string::npos)
        << "page " << page;
  }
  for (const Word& w : words) {
    EXPECT_GE(w.xMin, 0) << w.text;
    EXPECT_LE(w.xMax, reports::kPageWidth) << w.text;
    EXPECT_GE(w.yMin, 0) << w.text;
    EXPECT_LE(w.yMax, reports::kPageHeight) << w.text;
    EXPECT_EQ(w.text.find("…"), std::string::npos) << "cut: " << w.text << " on page " << w.page;
    EXPECT_LE(w.page, pages);
  }
  for (size_t i = 0; i < words.size(); ++i)
    for (size_t k = i + 1; k < words.size(); ++k) {
      const Word &a = words[i], &b = words[k];
      const bool sameLine = a.page == b.page && a.yMin < b.yMax - 1 && b.yMin < a.yMax - 1;
      if (sameLine) {
        EXPECT_TRUE(a.xMax <= b.xMin + 0.5 || b.xMax <= a.xMin + 0.5)
            << a.text << " / " << b.text << " on page " << a.page;
      }
    }
}

}  // namespace tabulix::testing
