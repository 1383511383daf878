// Filling message placeholders, and the device's default language.
#include <gtest/gtest.h>

#include <vector>

#include "DeviceLanguage.h"
#include "MessageFormat.h"
#include "Registry.h"
#include "TestSupport.h"

namespace tbm::res {
namespace {

using Arguments = std::vector<MessageArgument>;

std::u16string Format(std::u16string_view text, const Arguments& arguments, Status* status) {
  std::u16string out = u"left over";
  *status = FormatMessageText(text, arguments, &out);
  return out;
}

TEST(MessageFormatTest, PlaceholdersAreFilledInAnyOrderAndRepeated) {
  Status status;
  EXPECT_EQ(Format(u"Record %1d of %2d", {MessageArgument::Number(3), MessageArgument::Number(40)},
                   &status),
            u"Record 3 of 40");
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(Format(u"%2d 件中 %1d 件目", {MessageArgument::Number(3), MessageArgument::Number(40)},
                   &status),
            u"40 件中 3 件目");
  EXPECT_EQ(
      Format(u"%1s (%1s): 100%% %2d",
             {MessageArgument::Text(u"\\My Documents\\Ventas.tbm"), MessageArgument::Number(-5)},
             &status),
      u"\\My Documents\\Ventas.tbm (\\My Documents\\Ventas.tbm): 100% -5");
  // A text argument is put in as it stands, never read for placeholders.
  EXPECT_EQ(Format(u"%1s", {MessageArgument::Text(u"%2d %s %")}, &status), u"%2d %s %");
  EXPECT_TRUE(status.ok());
  // Arguments the text does not use are no error.
  EXPECT_EQ(Format(u"Cannot open %1s.", {MessageArgument::Text(u"a"), MessageArgument::Text(u"a")},
                   &status),
            u"Cannot open a.");
  EXPECT_TRUE(status.ok());
}

TEST(MessageFormatTest, APlaceholderThatDoesNotFitItsArgumentLeavesNothing) {
  struct Case {
    std::u16string_view text;
    Arguments arguments;
    const char* named;  // what the refusal names
  };
  const Case cases[] = {
      {u"%1d records", {MessageArgument::Text(u"12")}, "%1d"},
      {u"Open %1s", {MessageArgument::Number(12)}, "%1s"},
      {u"%1d of %2d", {MessageArgument::Number(1)}, "%2d"},
      {u"100%", {}, "character 4"},
      {u"100% sure", {}, "character 4"},
      {u"%0d", {MessageArgument::Number(1)}, "character 1"},
      {u"%1x", {MessageArgument::Number(1)}, "character 1"},
      {u"%s", {MessageArgument::Text(u"x")}, "character 1"},
      {u"%10d", {MessageArgument::Number(1)}, "character 1"},  // one digit names the argument
  };
  for (const Case& bad : cases) {
    Status status;
    const std::u16string out = Format(bad.text, bad.arguments, &status);
    EXPECT_EQ(status.code(), StatusCode::kInvalidArgument);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(status.message().find(bad.named), std::string::npos) << status.message();
  }
}

TEST(MessageFormatTest, TextsAreCheckedAgainstTheKindsOfTheirArguments) {
  EXPECT_TRUE(CheckMessageText(u"%1d of %2d", u"dd").ok());
  EXPECT_TRUE(CheckMessageText(u"Cannot open %2s", u"ss").ok());
  EXPECT_TRUE(CheckMessageText(u"No placeholders, 50%% off", u"").ok());
  EXPECT_EQ(CheckMessageText(u"%1s of %2d", u"dd").code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(CheckMessageText(u"%3d", u"dd").code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(CheckMessageText(u"50% off", u"").code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(CheckMessageText(u"%1d", u"x").code(), StatusCode::kInvalidArgument);

  std::u16string kinds = u"stale";
  ASSERT_TRUE(MessagePlaceholders(u"Error %1d in %3s (%1d)", &kinds).ok());
  EXPECT_EQ(kinds, u"d-s");
  EXPECT_EQ(MessagePlaceholders(u"%1d and %1s", &kinds).code(), StatusCode::kInvalidArgument);
  EXPECT_TRUE(kinds.empty());
}

// The device's registry (a fresh device root) and the environment decide.
TEST(DeviceLanguageTest, TheRegistryGoesFirstThenTheLocaleOfTheEnvironment) {
  tbm::testing::ScratchFolder device("tbm-res-device");
  ASSERT_TRUE(device.ok());
  tbm::testing::ScopedEnvironment root("TBM_DEVICE_ROOT", device.path().c_str());
  tbm::testing::ScopedEnvironment all("LC_ALL", nullptr);
  tbm::testing::ScopedEnvironment messages("LC_MESSAGES", "fr_CA.UTF-8");
  tbm::testing::ScopedEnvironment lang("LANG", "de_DE.UTF-8");
  EXPECT_EQ(GetUserDefaultLangID(), 0xC0C);
  {
    tbm::testing::ScopedEnvironment overriding("LC_ALL", "ja_JP.UTF-8");
    EXPECT_EQ(GetUserDefaultLangID(), 0x411);
  }
  HKEY nls = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"nls", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &nls, nullptr),
            ERROR_SUCCESS);
  const DWORD italian = 0x0410;
  ASSERT_EQ(RegSetValueExW(nls, u"DefaultLCID", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&italian), sizeof italian),
            ERROR_SUCCESS);
  EXPECT_EQ(GetUserDefaultLangID(), 0x410);
  // A value of the wrong type says nothing.
  ASSERT_EQ(
      RegSetValueExW(nls, u"DefaultLCID", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"0410"), 10),
      ERROR_SUCCESS);
  EXPECT_EQ(GetUserDefaultLangID(), 0xC0C);
  RegCloseKey(nls);

  EXPECT_EQ(LanguageFromLocaleName("de_AT"), 0x407);
  EXPECT_EQ(LanguageFromLocaleName("fr_FR.UTF-8@euro"), 0x40C);
  EXPECT_EQ(LanguageFromLocaleName("it_IT"), 0x410);
  EXPECT_EQ(LanguageFromLocaleName("es_MX.UTF-8"), 0xC0A);
  EXPECT_EQ(LanguageFromLocaleName("C.UTF-8"), 0x409);
  EXPECT_EQ(LanguageFromLocaleName(""), 0x409);
  EXPECT_EQ(LanguageSuffix(0xC0A), "c0a");
  EXPECT_EQ(LanguageSuffix(0x409), "409");
  EXPECT_EQ(LanguageFallbacks(0xC0C), (std::vector<LANGID>{0xC0C, 0x40C, 0x409}));
  EXPECT_EQ(LanguageFallbacks(0x407), (std::vector<LANGID>{0x407, 0x409}));
  EXPECT_EQ(LanguageFallbacks(0x409), (std::vector<LANGID>{0x409}));
}

}  // namespace
}  // namespace tbm::res
