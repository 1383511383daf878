// Upper-casing follows ICU's default locale, which a program takes from the
// user's environment.

#include <unicode/uloc.h>

#include <string>

#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

class Locale : public WordBreak {
 protected:
  void SetUp() override {
    WordBreak::SetUp();
    saved_ = uloc_getDefault();
  }
  void TearDown() override {
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault(saved_.c_str(), &status);
    EXPECT_TRUE(U_SUCCESS(status));
    WordBreak::TearDown();
  }
  static void UseLocale(const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault(locale, &status);
    ASSERT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  }

  std::string saved_;
};

TEST_F(Locale, TheSessionTakesIcusDefaultLocale) {
  UseLocale("de_CH");
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"x", &session), TBMWBR_SUCCESS);
  EXPECT_STREQ(session->locale, "de_CH");
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Locale, TurkishUpperCasesTheDottedI) {
  UseLocale("tr_TR");
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"istanbul", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(std::u16string(session->upperSearch), u"\u0130STANBUL");
  EXPECT_EQ(FWFindWord(session, u"\u0130stanbul"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"ISTANBUL"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Locale, EnglishUpperCasesTheDottedIToAPlainI) {
  UseLocale("en_US");
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"istanbul", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(std::u16string(session->upperSearch), u"ISTANBUL");
  EXPECT_EQ(FWFindWord(session, u"ISTANBUL"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"\u0130stanbul"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Locale, ASessionKeepsTheLocaleItOpenedWith) {
  UseLocale("tr_TR");
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"i", &session), TBMWBR_SUCCESS);
  UseLocale("en_US");
  EXPECT_STREQ(session->locale, "tr_TR");
  EXPECT_EQ(FWFindWord(session, u"iki"), TBMWBR_SUCCESS) << "upper-cased to İKİ under tr_TR";
  EXPECT_EQ(FWFindWord(session, u"Iğdır"), FW_WORD_NOT_FOUND) << "Iğdır has no İ";
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

}  // namespace
}  // namespace tbm::wordbreak::testing
