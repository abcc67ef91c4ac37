#include "engine/number_format.h"

#include <gtest/gtest.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tabulix {
namespace {

// Sets the device locale and zone for one test; restores en_US and the
// zone that was the default before.
struct Device {
  Device(const std::string& locale, const std::string& zone) {
    std::unique_ptr<icu::TimeZone> previous(icu::TimeZone::createDefault());
    icu::UnicodeString id;
    previous->getID(id);
    id.toUTF8String(previousZone);
    setDeviceLocale(locale);
    setDeviceTimeZone(zone);
  }
  ~Device() {
    setDeviceLocale("en_US");
    setDeviceTimeZone(previousZone);
  }
  std::string previousZone;
};

// 2021-03-15 15:30:00 UTC (`date -u -d @1615822200`): 11:30 in New York
// (EDT, since March 14), 16:30 in Paris (CET).
constexpr double kMarch15 = 1615822200;
const std::string kNarrowSpace = "\u202f";  // ICU's space before AM/PM

TEST(StringFromNumber, ChoosesDecimalOrScientificWithFourDigits) {
  EXPECT_EQ(stringFromNumber(3.14159), "3.142");
  EXPECT_EQ(stringFromNumber(0.5), "0.5");
  EXPECT_EQ(stringFromNumber(1234.4), "1,234");
  EXPECT_EQ(stringFromNumber(10000), "10,000");
  // Whole numbers in full, others keep their integer digits.
  EXPECT_EQ(stringFromNumber(10001), "10,001");
  EXPECT_EQ(stringFromNumber(100000), "100,000");
  EXPECT_EQ(stringFromNumber(12345.6), "12,346");
  EXPECT_EQ(stringFromNumber(-98765.43, 2), "-98,765");
  EXPECT_EQ(stringFromNumber(99999.7), "100,000");
  EXPECT_EQ(stringFromNumber(999999999999999.0), "999,999,999,999,999");
  EXPECT_EQ(stringFromNumber(123456789012.345, 4), "123,456,789,012");
  EXPECT_EQ(stringFromNumber(1e15), "1E15");
  EXPECT_EQ(stringFromNumber(-2.5e17, 3), "-2.5E17");
  EXPECT_EQ(stringFromNumber(0.00005), "5E-5");
  EXPECT_EQ(stringFromNumber(-0.00002), "-2E-5");
  EXPECT_EQ(stringFromNumber(0), "0");
  EXPECT_EQ(stringFromNumber(-0.0), "0");
  EXPECT_EQ(stringFromNumber(-3.14159), "-3.142");
  EXPECT_EQ(stringFromNumber(123456.7, 6), "123,457");
  EXPECT_EQ(stringFromNumber(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(stringFromNumber(-std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(stringFromNumber(std::numeric_limits<double>::infinity()), "∞");
}

TEST(StringFromNumber, TheLowerBoundIsTakenInSinglePrecision) {
  // The lower bound is float(0.0001) = 9.999999747378752e-05: the double
  // 0.0001 and the bound itself are not below it.
  EXPECT_EQ(stringFromNumber(0.0001), "0.0001");
  EXPECT_EQ(stringFromNumber(double(0.0001f)), "0.0001");
  EXPECT_EQ(stringFromNumber(9.99999e-05), "1E-4");
  EXPECT_EQ(stringFromNumber(9.9e-05), "9.9E-5");
  EXPECT_EQ(stringFromNumber(0.000123456), "0.0001235");
  EXPECT_EQ(stringFromNumber(99999999999.0, 11), "99,999,999,999");
  EXPECT_EQ(stringFromNumber(1e10, 10), "10,000,000,000");
  EXPECT_EQ(stringFromNumber(10000000001.0, 3), "10,000,000,001");
}

TEST(StringFromNumber, RoundsHalfToEven) {
  EXPECT_EQ(stringFromNumber(2.5, 1), "2");
  EXPECT_EQ(stringFromNumber(3.5, 1), "4");
  EXPECT_EQ(stringFromNumber(0.125, 2), "0.12");    // 0.125 is exact in binary
  EXPECT_EQ(stringFromNumber(1234.5, 4), "1,234");  // so is 1234.5
  EXPECT_EQ(stringFromNumber(1235.5, 4), "1,236");
  EXPECT_EQ(stringFromNumber(9999.5, 4), "10,000");
  // ICU rounds the shortest decimal that reads back as the double, not its
  // exact binary value: 0.15 (0.1499999999999999944...) is taken as 0.15.
  EXPECT_EQ(stringFromNumber(0.15, 1), "0.2");
  EXPECT_EQ(stringFromNumber(3.14159, 25), "3.14159");
}

TEST(StringFromNumber, FollowsTheDeviceLocale) {
  Device device("fr_FR", "Europe/Paris");
  EXPECT_EQ(stringFromNumber(3.14159), "3,142");
  EXPECT_EQ(stringFromNumber(1234.4), "1\u202f234");
  EXPECT_EQ(stringFromNumber(0.00005), "5E-5");
  EXPECT_EQ(stringFromDateNumber(kMarch15), "15/03/2021");
  EXPECT_EQ(stringFromDateNumber(kMarch15, 60), "16:30");
  EXPECT_EQ(stringFromPNumber(0.04567), "p = 0,04567");
  EXPECT_EQ(stringFromPNumber(0.0002), "p < 0,001");
}

TEST(LocaleScope, OneThreadWritesInAnotherLanguageWhileTheOthersKeepTheDevices) {
  Device device("en_US", "Europe/Paris");
  std::string other;
  {
    LocaleScope scope(std::optional<std::string>("de_DE"));
    EXPECT_EQ(deviceLocaleName(), "de_DE");
    EXPECT_EQ(stringFromNumber(1234.5, 5), "1.234,5");
    EXPECT_EQ(stringFromDateNumber(kMarch15), "15.03.21");
    {
      LocaleScope inner(std::optional<std::string>("fr_FR"));
      EXPECT_EQ(stringFromNumber(3.14159), "3,142");
    }
    EXPECT_EQ(stringFromNumber(3.14159), "3,142");  // de_DE again
    EXPECT_EQ(stringFromNumber(0.5), "0,5");
    // A thread without a scope follows the device locale meanwhile.
    std::thread([&] { other = stringFromNumber(1234.5, 5) + " " + stringFromDateNumber(kMarch15); }).join();
  }
  EXPECT_EQ(other, "1,234.5 3/15/21");
  EXPECT_EQ(stringFromNumber(1234.5, 5), "1,234.5");
  EXPECT_EQ(deviceLocaleName(), "en_US");
  {
    LocaleScope none(std::nullopt);  // no language asked for: the device's
    EXPECT_EQ(stringFromNumber(0.5), "0.5");
  }
}

TEST(LocaleScope, AcceptsOnlyLanguagesIcuCanFormat) {
  EXPECT_EQ(supportedLocale("fr-CH"), "fr_CH");
  EXPECT_EQ(supportedLocale("de_DE"), "de_DE");
  EXPECT_EQ(supportedLocale("en"), "en");
  EXPECT_EQ(supportedLocale("zh-Hant-TW"), "zh_Hant_TW");
  EXPECT_FALSE(supportedLocale("").has_value());
  EXPECT_FALSE(supportedLocale("xx-YY").has_value());
  EXPECT_FALSE(supportedLocale("en-US;q=1").has_value());
  EXPECT_FALSE(supportedLocale("../../etc").has_value());
  EXPECT_FALSE(supportedLocale(std::string(200, 'a')).has_value());
}

TEST(PluralIsOne, FollowsTheLocalesRules) {
  EXPECT_TRUE(pluralIsOne(1));
  EXPECT_FALSE(pluralIsOne(0));
  EXPECT_FALSE(pluralIsOne(2));
  EXPECT_FALSE(pluralIsOne(21));
  LocaleScope french(std::optional<std::string>("fr_FR"));
  EXPECT_TRUE(pluralIsOne(0));  // French counts 0 as singular
  EXPECT_TRUE(pluralIsOne(1));
  EXPECT_FALSE(pluralIsOne(2));
}

TEST(DateTimeStyles, ShowTimesForSpreadsWithinOneDay) {
  const DateTimeStyles dateOnly{FormatStyle::Short, FormatStyle::None};
  const DateTimeStyles timeOnly{FormatStyle::None, FormatStyle::Short};
  EXPECT_EQ(dateTimeStylesForInterval(0), dateOnly);
  EXPECT_EQ(dateTimeStylesForInterval(172800), dateOnly);
  EXPECT_EQ(dateTimeStylesForInterval(86400.5), dateOnly);
  EXPECT_EQ(dateTimeStylesForInterval(86400), timeOnly);
  EXPECT_EQ(dateTimeStylesForInterval(3600), timeOnly);
  EXPECT_EQ(dateTimeStylesForInterval(-1), timeOnly);
}

TEST(StringFromDateNumber, WritesDatesAndTimesInTheDeviceZone) {
  Device device("en_US", "America/New_York");
  EXPECT_EQ(stringFromDateNumber(kMarch15), "3/15/21");
  EXPECT_EQ(stringFromDateNumber(kMarch15, 172800), "3/15/21");
  EXPECT_EQ(stringFromDateNumber(kMarch15, 3600), "11:30" + kNarrowSpace + "AM");
  // 02:00 UTC on the 15th is still the 14th in New York.
  EXPECT_EQ(stringFromDateNumber(kMarch15 - 13.5 * 3600), "3/14/21");
  EXPECT_EQ(stringFromNumber(kMarch15, VariableType::DateTime, 4, 3600), "11:30" + kNarrowSpace + "AM");
  EXPECT_EQ(stringFromNumber(kMarch15, VariableType::DateTime), "3/15/21");
  EXPECT_EQ(stringFromNumber(1234.4, VariableType::Numeric), "1,234");
  EXPECT_EQ(stringFromNumber(3.14159, VariableType::Categorical, 2, 3600), "3.1");
  EXPECT_EQ(stringFromDateNumber(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(stringFromDateNumber(-1e300, 60), "-1E300");
}

TEST(StringFromDifferenceNumber, WritesDateDifferencesAsDays) {
  // 129600 s = 1.5 days; one digit, half to even: 2.
  EXPECT_EQ(stringFromDifferenceNumber(129600, VariableType::DateTime, 4), "2 days");
  EXPECT_EQ(stringFromDifferenceNumber(216000, VariableType::DateTime, 4), "2 days");  // 2.5 days
  EXPECT_EQ(stringFromDifferenceNumber(129600, VariableType::DateTime, 6), "1.5 days");
  EXPECT_EQ(stringFromDifferenceNumber(-86400 * 10.25, VariableType::DateTime, 7), "-10.2 days");
  EXPECT_EQ(stringFromDifferenceNumber(129600, VariableType::Numeric, 4), "129,600");
  EXPECT_EQ(stringFromDifferenceNumber(2.5, VariableType::Numeric, 4), "2.5");
}

TEST(StringFromPNumber, WritesSmallPValuesAsBelowOneThousandth) {
  EXPECT_EQ(stringFromPNumber(0.00009), "p < 0.001");
  EXPECT_EQ(stringFromPNumber(0.0), "p < 0.001");
  EXPECT_EQ(stringFromPNumber(4.827e-6), "p < 0.001");
  EXPECT_EQ(stringFromPNumber(0.000999), "p < 0.001");
  EXPECT_EQ(stringFromPNumber(0.001), "p = 0.001");
  EXPECT_EQ(stringFromPNumber(0.04567), "p = 0.04567");
  EXPECT_EQ(stringFromPNumber(0.123456), "p = 0.1235");
  EXPECT_EQ(stringFromPNumber(1), "p = 1");
  EXPECT_EQ(stringFromPValue(1e-300), "< 0.001");
  EXPECT_EQ(stringFromPValue(0.0012345), "0.001234");  // half to even
  EXPECT_EQ(stringFromPValue(std::numeric_limits<double>::quiet_NaN()), "NaN");
}

TEST(StringFromPercent, UsesTheLocalesPercentStyleHalfToEven) {
  EXPECT_EQ(stringFromPercent(0.125), "12%");
  EXPECT_EQ(stringFromPercent(0.135), "14%");
  EXPECT_EQ(stringFromPercent(1), "100%");
  EXPECT_EQ(stringFromPercent(-0.0), "0%");
  EXPECT_EQ(stringFromPercent(0.12345, 1), "12.3%");
  EXPECT_EQ(stringFromPercent(std::numeric_limits<double>::quiet_NaN()), "");
  LocaleScope french(std::optional<std::string>("fr_FR"));
  EXPECT_EQ(stringFromPercent(0.3125), "31\u00a0%");  // the locale's no-break space
  EXPECT_EQ(stringFromNumber(100000), "100\u202f000");
}

TEST(StringForOperatorType, CoversEveryCode) {
  const char* expected[] = {"<", "≤", ">", "≥", "=", "≠"};
  for (unsigned op = 0; op < 6; ++op) EXPECT_EQ(stringForOperatorType(op), expected[op]);
  for (unsigned op : {6u, 7u, 9u, 11u, 98u, 100u, 4294967295u})
    EXPECT_EQ(stringForOperatorType(op), "Unknown op");
  EXPECT_EQ(stringForOperatorType(10), "IN");
  EXPECT_EQ(stringForOperatorType(99), "Contains");
}

TEST(VariableTypeName, NamesEveryType) {
  EXPECT_EQ(variableTypeName(VariableType::Categorical), "Categorical");
  EXPECT_EQ(variableTypeName(VariableType::Binary), "Binary");
  EXPECT_EQ(variableTypeName(VariableType::Numeric), "Numeric");
  EXPECT_EQ(variableTypeName(VariableType::DateTime), "Date / Time");
  EXPECT_EQ(variableTypeName(VariableType::Unknown), "Unknown");
  EXPECT_EQ(variableTypeName(VariableType(7)), "Unknown");
}

TEST(SharedFormatters, GiveTheSameTextsOnSeveralThreads) {
  Device device("en_US", "UTC");
  std::vector<double> values;
  for (int i = 0; i < 400; ++i) values.push_back(std::pow(1.37, i - 200) * (i % 2 ? -1 : 1));
  std::vector<std::string> expected;
  for (double v : values) expected.push_back(stringFromNumber(v, 1 + unsigned(expected.size()) % 8));
  for (double v : values) expected.push_back(stringFromDateNumber(v * 1000, v));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        size_t k = 0;
        for (double v : values) {
          mismatches[t] += stringFromNumber(v, 1 + unsigned(k) % 8) != expected[k];
          ++k;
        }
        for (double v : values) mismatches[t] += stringFromDateNumber(v * 1000, v) != expected[k++];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace tabulix
