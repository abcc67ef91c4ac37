#include "engine/date_detector.h"

#include <gtest/gtest.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/number_format.h"

namespace tabulix {
namespace {

// Makes `zone` the device zone for one scope and restores the previous one.
struct Zone {
  explicit Zone(const std::string& zone) {
    std::unique_ptr<icu::TimeZone> current(icu::TimeZone::createDefault());
    icu::UnicodeString id;
    current->getID(id);
    id.toUTF8String(previous);
    setDeviceTimeZone(zone);
  }
  ~Zone() { setDeviceTimeZone(previous); }
  std::string previous;
};

struct Case {
  std::string text;
  std::string expected;  // seconds, or "NA"
};

// tests/data/reference/date_detector_cases.tsv, made by
// tests/reference/date_detector.R from R's as.POSIXct.
TEST(DateDetector, FindsTheReferenceDatesOfR) {
  std::ifstream in(std::string(TABULIX_SOURCE_DIR) + "/tests/data/reference/date_detector_cases.tsv");
  ASSERT_TRUE(in) << "reference table missing";
  double now = 0;
  std::map<std::pair<std::string, std::string>, std::vector<Case>> groups;
  std::vector<std::pair<std::string, std::string>> order;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string field; std::getline(ss, field, '\t');) fields.push_back(field);
    if (line.back() == '\t') fields.push_back("");
    if (fields.size() == 2 && fields[0] == "# now") {
      now = std::stod(fields[1]);
      continue;
    }
    ASSERT_EQ(fields.size(), 4u) << line;
    auto key = std::make_pair(fields[0], fields[1]);
    if (!groups.count(key)) order.push_back(key);
    groups[key].push_back({fields[2], fields[3]});
  }
  ASSERT_GT(now, 0);
  size_t checked = 0;
  for (const auto& key : order) {
    Zone zone(key.second);
    DateDetector detector(key.first);
    for (const Case& c : groups[key]) {
      ++checked;
      const std::optional<double> got = detector.dateForString(c.text, now);
      if (c.expected == "NA") {
        EXPECT_FALSE(got) << key.first << " [" << c.text << "] gave " << std::fixed << *got;
      } else if (!got) {
        ADD_FAILURE() << key.first << " [" << c.text << "] found no date";
      } else {
        // The instants are whole milliseconds; the table has three decimals.
        EXPECT_NEAR(*got, std::stod(c.expected), 1e-6)
            << key.first << " " << key.second << " [" << c.text << "]";
      }
    }
  }
  EXPECT_GT(checked, 100u);
}

TEST(DateDetector, TakesTheNumericOrderFromTheLocale) {
  EXPECT_EQ(DateDetector("en_US").numericOrder(), DateDetector::Order::MDY);
  EXPECT_EQ(DateDetector("fr_FR").numericOrder(), DateDetector::Order::DMY);
  EXPECT_EQ(DateDetector("de_DE").numericOrder(), DateDetector::Order::DMY);
  EXPECT_EQ(DateDetector("en_GB").numericOrder(), DateDetector::Order::DMY);
  EXPECT_EQ(DateDetector("ja_JP").numericOrder(), DateDetector::Order::YMD);
  EXPECT_EQ(DateDetector("zh_CN").numericOrder(), DateDetector::Order::YMD);
}

// A file's own order of day and month replaces the locale's; what a field
// tells of it; an impossible date with a time is no date at all.
TEST(DateDetector, FileOrderAndImpossibleDates) {
  Zone utc("UTC");
  DateDetector us("en_US");
  const double now = 1717200000;  // 2024-06-01 00:00 UTC
  EXPECT_EQ(us.dateForString("13/05/2024", now), std::nullopt);
  EXPECT_EQ(us.dateForString("05/03/2024", now), 1714694400.0);  // 3 May
  us.setNumericOrder(DateDetector::Order::DMY);
  EXPECT_EQ(us.dateForString("13/05/2024", now), 1715558400.0);
  EXPECT_EQ(us.dateForString("05/03/2024", now), 1709596800.0);  // 5 March
  for (const char* text : {"31/13/1999 23:59", "32/01/2024 10:00", "29/02/2023 08:15"})
    EXPECT_EQ(us.dateForString(text, now), std::nullopt) << text;
  EXPECT_EQ(us.dateForString("23:59", now), now + 86340);  // a time alone is still today

  using O = DateDetector::Order;
  EXPECT_EQ(DateDetector::orderEvidence("13/05/2024"), O::DMY);
  EXPECT_EQ(DateDetector::orderEvidence(" 05-13-24"), O::MDY);
  for (const char* text : {"05/03/2024", "2024-05-13", "13/13/2024", "x13/05/2024", "13/05"})
    EXPECT_EQ(DateDetector::orderEvidence(text), std::nullopt) << text;
  EXPECT_EQ(DateDetector::orderNamed("ymd"), O::YMD);
  EXPECT_EQ(DateDetector::orderNamed("auto"), std::nullopt);
  EXPECT_EQ(DateDetector::orderName(O::MDY), "mdy");
}

TEST(DateDetector, CountsRelativeWordsFromTheClock) {
  Zone zone("UTC");
  DateDetector detector("en_US");
  using namespace std::chrono;
  const double before = duration<double>(system_clock::now().time_since_epoch()).count();
  const std::optional<double> today = detector.dateForString("due today");
  const std::optional<double> tomorrow = detector.dateForString("tomorrow");
  const double after = duration<double>(system_clock::now().time_since_epoch()).count();
  ASSERT_TRUE(today && tomorrow);
  EXPECT_TRUE(*today == std::floor(before / 86400) * 86400 || *today == std::floor(after / 86400) * 86400);
  EXPECT_EQ(*tomorrow - *today, 86400);
}

TEST(DateDetector, ReadsWhatTheFormattersWrite) {
  // A date written in the device's short style is found again, to the day
  // or to the minute.
  Zone zone("Europe/Paris");
  for (const char* locale : {"en_US", "fr_FR", "de_DE", "ja_JP"}) {
    setDeviceLocale(locale);
    DateDetector detector(locale);
    for (double t : {1615822200.0, 951782400.0, 1700000000.0}) {
      const std::optional<double> day = detector.dateForString(stringFromDateNumber(t), t);
      const std::optional<double> time = detector.dateForString(stringFromDateNumber(t, 60), t);
      ASSERT_TRUE(day && time) << locale << " " << stringFromDateNumber(t) << " / "
                               << stringFromDateNumber(t, 60);
      EXPECT_LE(t - *day, 86400) << locale << " " << stringFromDateNumber(t);
      EXPECT_GE(t - *day, 0) << locale << " " << stringFromDateNumber(t);
      EXPECT_EQ(std::floor(t / 60) * 60, *time) << locale << " " << stringFromDateNumber(t, 60);
    }
  }
  setDeviceLocale("en_US");
}

TEST(DateDetector, SurvivesArbitraryText) {
  // Fragments of every form, cut and glued at random, with stray bytes of
  // broken UTF-8; run under the address sanitizer this checks every index.
  static const char* const kPieces[] = {
      "2021",       "-",        "/",     ".",        ":",          "T",
      "Z",          "+02:00",   " ",     ",",        "12",         "3",
      "15",         "99",       "March", "mar",      "f\u00e9vr.", "\u00c9T\u00c9",
      "Monday",     "today",    "at",    "on",       "pm",         "a.m.",
      "UTC",        "GMT",      "st",    "of",       "de",         "\u202f",
      "\xC2",       "\xE2\x80", "\xFF",  "\xC3\xA9", "0",          "2:30",
      "12:00:00.5", "\t",       "1er",   "\u0661"};
  std::mt19937_64 rng(5);
  DateDetector en("en_US"), fr("fr_FR");
  size_t found = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    const int n = int(rng() % 9);
    for (int k = 0; k < n; ++k) text += kPieces[rng() % std::size(kPieces)];
    if (rng() % 4 == 0 && !text.empty()) text.resize(rng() % text.size());
    for (const DateDetector* d : {&en, &fr}) {
      const std::optional<double> got = d->dateForString(text, 1623751200);
      if (got) {
        ++found;
        ASSERT_TRUE(std::isfinite(*got)) << text;
      }
    }
  }
  EXPECT_GT(found, 1000u);  // the fragments do form dates now and then
}

}  // namespace
}  // namespace tabulix
