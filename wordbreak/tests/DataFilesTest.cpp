// The data files the build puts in bin/tbmres/.

#include <unicode/uchar.h>
#include <unicode/uversion.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "IcuDataHeader.h"
#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

TEST(DataFiles, TheRulesAreCompiledBreakRulesForThisMachine) {
  const std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  const std::optional<IcuDataHeader> header = ReadIcuDataHeader(rules);
  ASSERT_TRUE(header);
  EXPECT_TRUE(IsNativeIcuData(*header));
  EXPECT_TRUE(HasDataFormat(*header, "Brk "));
  EXPECT_LT(header->headerSize, rules.size());
}

std::string InstalledText(const std::string& name) {
  const std::vector<std::uint8_t> bytes = ReadInstalled(name);
  return std::string(bytes.begin(), bytes.end());
}

TEST(DataFiles, ThePropertyDataIsFromTheIcuWeRun) {
  const std::string properties = InstalledText("uprops.dat");
  EXPECT_EQ(properties.rfind("#\n# file name: _index\n", 0), 0u) << "starts with the index";
  EXPECT_NE(properties.find(std::string("icu_version = \"") + U_ICU_VERSION + "\""),
            std::string::npos);
  for (const char* name : {"General_Category", "Word_Break", "Script", "Alphabetic"}) {
    EXPECT_NE(properties.find(std::string("long_name = \"") + name + "\""), std::string::npos)
        << name;
  }
}

// The general category ranges of the property data, as (first, last, value).
struct Range {
  UChar32 first;
  UChar32 last;
  int value;
};

std::vector<Range> GeneralCategoryRanges(const std::string& properties) {
  std::vector<Range> ranges;
  const std::size_t section = properties.find("long_name = \"General_Category\"");
  if (section == std::string::npos) return ranges;
  const std::size_t end = properties.find("\n]", section);
  std::istringstream lines(properties.substr(section, end - section));
  std::string line;
  while (std::getline(lines, line)) {
    unsigned first = 0;
    unsigned last = 0;
    int value = 0;
    if (std::sscanf(line.c_str(), "  {a=0x%x, b=0x%x, v=%d,", &first, &last, &value) == 3) {
      ranges.push_back({static_cast<UChar32>(first), static_cast<UChar32>(last), value});
    }
  }
  return ranges;
}

TEST(DataFiles, ThePropertyDataAgreesWithIcuOnEveryCodePointsCategory) {
  const std::vector<Range> ranges = GeneralCategoryRanges(InstalledText("uprops.dat"));
  ASSERT_GT(ranges.size(), 1000u);
  UChar32 next = 0;
  for (const Range& range : ranges) {
    ASSERT_EQ(range.first, next) << "the ranges follow each other without a gap";
    ASSERT_LE(range.first, range.last);
    for (UChar32 c = range.first; c <= range.last; ++c) {
      ASSERT_EQ(u_charType(c), range.value) << "U+" << std::hex << c;
    }
    next = range.last + 1;
  }
  EXPECT_EQ(next, 0x110000) << "the ranges cover every code point";
}

}  // namespace
}  // namespace tbm::wordbreak::testing
