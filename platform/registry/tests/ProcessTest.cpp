// The registry shared between processes: what one saves the other reads,
// and writers at the same time lose nothing.
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FreshRegistry.h"

namespace tbm::testing {
namespace {

using ProcessTest = FreshRegistry;

TEST_F(ProcessTest, ValuesOfEachKindPassFromOneProcessToAnother) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tabulon\\Mobile");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"BarInfo", 1), ERROR_SUCCESS);  // read by the child first

  const std::vector<BYTE> block = {9, 8, 7, 0, 255};
  ChildProcess writer([&] {
    HKEY own = Open(HKEY_CURRENT_USER, u"software\\TABULON\\mobile");
    if (own == nullptr) return 1;
    if (QueryDword(own, u"BarInfo") != 1u) return 2;
    if (SetDword(own, u"BarInfo", 3) != ERROR_SUCCESS) return 3;
    if (SetString(own, u"Last Database", u"\\My Documents\\Tabulon\\Sales.tbm") != ERROR_SUCCESS) {
      return 4;
    }
    if (SetBinary(own, u"Columns", block) != ERROR_SUCCESS) return 5;
    return RegCloseKey(own) == ERROR_SUCCESS ? 0 : 6;
  });
  ASSERT_EQ(writer.Wait(), 0);

  // The same open handle sees what the other process saved.
  EXPECT_EQ(QueryDword(key, u"BarInfo"), 3u);
  EXPECT_EQ(QueryString(key, u"Last Database"), u"\\My Documents\\Tabulon\\Sales.tbm");
  const auto columns = Query(key, u"Columns");
  ASSERT_TRUE(columns);
  EXPECT_EQ(columns->first, REG_BINARY);
  EXPECT_EQ(columns->second, block);

  // And the other way round, with a key deleted under another's handle.
  ASSERT_EQ(RegDeleteValueW(key, u"Columns"), ERROR_SUCCESS);
  ChildProcess reader([&] {
    HKEY own = Open(HKEY_CURRENT_USER, u"Software\\Tabulon\\Mobile");
    if (own == nullptr) return 1;
    DWORD size = 0;
    if (RegQueryValueExW(own, u"Columns", nullptr, nullptr, nullptr, &size) !=
        ERROR_FILE_NOT_FOUND) {
      return 2;
    }
    if (RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Tabulon") != ERROR_SUCCESS) return 3;
    return 0;
  });
  ASSERT_EQ(reader.Wait(), 0);
  EXPECT_EQ(SetDword(key, u"BarInfo", 4), ERROR_KEY_DELETED);
  RegCloseKey(key);
}

// Two processes and this one add values to one key at the same time. Every
// change is made on the newest file under the lock, so none is missing.
TEST_F(ProcessTest, WritersInTwoProcessesLoseNoChange) {
  constexpr int kChanges = 60;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon\\Counters");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"Total", 0), ERROR_SUCCESS);

  Pipe start;
  auto writer = [&](const char16_t* prefix) {
    return [&, prefix] {
      if (start.Receive() != 's') return 1;
      HKEY own = Open(HKEY_LOCAL_MACHINE, u"Software\\Tabulon\\Counters");
      if (own == nullptr) return 2;
      for (int n = 0; n < kChanges; ++n) {
        const std::u16string name = prefix +
                                    std::u16string(1, static_cast<char16_t>(u'A' + n % 26)) +
                                    std::u16string(1, static_cast<char16_t>(u'0' + n / 26));
        if (SetDword(own, name.c_str(), static_cast<DWORD>(n)) != ERROR_SUCCESS) return 3;
      }
      return RegCloseKey(own) == ERROR_SUCCESS ? 0 : 4;
    };
  };
  ChildProcess first(writer(u"first "));
  ChildProcess second(writer(u"second "));
  start.Send('s');
  start.Send('s');
  // Meanwhile this process changes the same key too.
  for (int n = 0; n < kChanges / 2; ++n) {
    ASSERT_EQ(SetString(key,
                        (u"parent " + std::u16string(1, static_cast<char16_t>(u'a' + n % 26)) +
                         std::u16string(1, static_cast<char16_t>(u'0' + n / 26)))
                            .c_str(),
                        u"x"),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);

  EXPECT_EQ(ValueNames(key).size(), 1u + 2 * kChanges + kChanges / 2);
  EXPECT_EQ(QueryDword(key, u"first C1"), 28u);
  EXPECT_EQ(QueryDword(key, u"second H2"), 59u);
  RegCloseKey(key);
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
}  // namespace tbm::testing
