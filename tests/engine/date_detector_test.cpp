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
#include <thread>
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

// The tab-separated rows of a reference table under tests/data/reference;
// a "# now" line sets `now`.
std::vector<std::vector<std::string>> referenceRows(const std::string& name, double& now) {
  std::ifstream in(std::string(TABULIX_SOURCE_DIR) + "/tests/data/reference/" + name);
  EXPECT_TRUE(in) << name << " missing";
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string field; std::getline(ss, field, '\t');) fields.push_back(field);
    if (fields.size() == 2 && fields[0] == "# now") {
      now = std::stod(fields[1]);
    } else {
      rows.push_back(fields);
    }
  }
  return rows;
}

// tests/data/reference/date_zone_cases.tsv, made by tests/reference/date_zones.R
// from R's as.POSIXct in the named zones: tz database ids across daylight
// saving, abbreviations, names that leave the text without a date, texts
// without a zone, and offsets given with a name.
TEST(DateDetector, AppliesZoneNamesAsR) {
  double now = 0;
  const auto rows = referenceRows("date_zone_cases.tsv", now);
  ASSERT_GT(now, 0);
  std::map<std::string, int> perGroup;
  for (const auto& f : rows) {
    ASSERT_EQ(f.size(), 5u);
    SCOPED_TRACE(f[0] + ": " + f[1] + " " + f[2] + " [" + f[3] + "]");
    ++perGroup[f[0]];
    Zone zone(f[2]);
    const DateDetector detector(f[1]);
    const std::optional<double> got = detector.dateForString(f[3], now);
    if (f[4] == "NA") {
      EXPECT_FALSE(got) << std::fixed << *got;
    } else {
      ASSERT_TRUE(got);
      EXPECT_NEAR(*got, std::stod(f[4]), 1e-6);  // whole seconds, written with three decimals
    }
  }
  for (const char* group : {"id", "abbreviation", "unknown", "no zone", "offset and name"})
    EXPECT_GE(perGroup[group], 4) << group;
}

// Every abbreviation of capitals in the tz database (zone_abbreviations.tsv,
// made by tests/reference/date_zones.R): those with one offset read at it,
// winter and summer alike; those with several read at RFC 5322's (CST, PST)
// or leave the text without a date (IST).
TEST(DateDetector, ReadsTheTzDatabaseAbbreviations) {
  Zone utc("UTC");
  const DateDetector detector("en_US");
  double now = 0;
  const auto rows = referenceRows("zone_abbreviations.tsv", now);
  EXPECT_GT(rows.size(), 40u);
  for (const auto& f : rows) {
    ASSERT_EQ(f.size(), 3u);
    for (const auto& [text, noon] :
         {std::pair{"2025-01-15 12:00 ", 1736942400.0}, {"2025-07-15 12:00 ", 1752580800.0}}) {
      const std::optional<double> got = detector.dateForString(text + f[0], now);
      if (f[2] == "NA") {
        EXPECT_FALSE(got) << f[0];
      } else {
        EXPECT_EQ(got, noon - std::stod(f[2]) * 60) << f[0] << " (tz database offsets " << f[1] << ")";
      }
    }
  }
}

// A local time that a change to daylight saving skips or repeats is taken in
// standard time, in a named zone as in the device's (R takes daylight time
// for both); an offset or abbreviation given with it settles which one.
TEST(DateDetector, NamedZonesTakeStandardTimeAcrossTheChange) {
  Zone utc("UTC");
  const DateDetector detector("en_US");
  const double now = 1717200000;
  EXPECT_EQ(detector.dateForString("2024-03-10 02:30 America/New_York", now), 1710055800.0);  // 07:30 UTC
  EXPECT_EQ(detector.dateForString("2024-11-03 01:30 America/New_York", now), 1730615400.0);  // 06:30 UTC
  EXPECT_EQ(detector.dateForString("2024-11-03 01:30 -0400 America/New_York", now), 1730611800.0);
  EXPECT_EQ(detector.dateForString("2024-11-03 01:30 EDT", now), 1730611800.0);
}

// Threads share the detector's zones: each thread reads the ids the others
// read, and every reading equals the one made alone.
TEST(DateDetector, SharesNamedZonesAcrossThreads) {
  Zone utc("UTC");
  const DateDetector detector("en_US");
  const char* const ids[] = {"Europe/Paris", "Asia/Tokyo", "America/Chicago", "Australia/Perth",
                             "Europe/Parisx"};
  std::vector<std::string> texts;
  std::vector<std::optional<double>> alone;
  {
    const DateDetector fresh("en_US");
    for (int day = 1; day <= 28; ++day)
      for (const char* id : ids) {
        texts.push_back("2024-02-" + std::string(day < 10 ? "0" : "") + std::to_string(day) + " 08:00 " + id);
        alone.push_back(fresh.dateForString(texts.back(), 1717200000));
      }
  }
  std::vector<int> mismatches(2, 0);
  std::vector<std::thread> threads;
  for (int k = 0; k < 2; ++k)
    threads.emplace_back([&, k] {
      for (int round = 0; round < 20; ++round)
        for (size_t i = 0; i < texts.size(); ++i)
          mismatches[k] += detector.dateForString(texts[i], 1717200000) != alone[i];
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(2, 0));
  EXPECT_EQ(alone[4], std::nullopt);
  EXPECT_EQ(alone[0], 1706770800.0);  // 2024-02-01 08:00 +01:00
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
  static const char* const kPieces[] = {"2021",
                                        "-",
                                        "/",
                                        ".",
                                        ":",
                                        "T",
                                        "Z",
                                        "+02:00",
                                        " ",
                                        ",",
                                        "12",
                                        "3",
                                        "15",
                                        "99",
                                        "March",
                                        "mar",
                                        "f\u00e9vr.",
                                        "\u00c9T\u00c9",
                                        "Monday",
                                        "today",
                                        "at",
                                        "on",
                                        "pm",
                                        "a.m.",
                                        "UTC",
                                        "GMT",
                                        "st",
                                        "of",
                                        "de",
                                        "\u202f",
                                        "\xC2",
                                        "\xE2\x80",
                                        "\xFF",
                                        "\xC3\xA9",
                                        "0",
                                        "2:30",
                                        "12:00:00.5",
                                        "\t",
                                        "1er",
                                        "\u0661",
                                        "Europe/Paris",
                                        "[",
                                        "]",
                                        "CEST",
                                        "IST",
                                        "Etc/GMT+5"};
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
