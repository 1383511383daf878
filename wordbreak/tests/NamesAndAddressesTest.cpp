// Finding people by the parts of their names and addresses a person types.

#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

using NamesAndAddresses = WordBreak;

TEST_F(NamesAndAddresses, EachHalfOfAHyphenatedNameIsAWord) {
  EXPECT_TRUE(Finds(u"jo", u"Mary-Jo Smith"));
  EXPECT_TRUE(Finds(u"mary", u"Mary-Jo Smith"));
  EXPECT_TRUE(Finds(u"mary-jo", u"Mary-Jo Smith"));
  EXPECT_TRUE(Finds(u"mueller", u"Schmidt-Mueller"));
  EXPECT_TRUE(Misses(u"ry", u"Mary-Jo Smith"));
}

TEST_F(NamesAndAddresses, TheNameAfterAnApostropheIsAWord) {
  EXPECT_TRUE(Finds(u"brien", u"Sean O'Brien"));
  EXPECT_TRUE(Finds(u"o'b", u"Sean O'Brien"));
  EXPECT_TRUE(Finds(u"o", u"O'Brien"));
  EXPECT_TRUE(Misses(u"rien", u"Sean O'Brien"));
}

TEST_F(NamesAndAddresses, ATypographicApostropheSplitsLikeAPlainOne) {
  EXPECT_TRUE(Finds(u"brien", u"Sean O\u2019Brien"));
  EXPECT_TRUE(Finds(u"o\u2019b", u"Sean O\u2019Brien"));
  EXPECT_TRUE(Misses(u"o'b", u"Sean O\u2019Brien")) << "the apostrophes are different characters";
}

TEST_F(NamesAndAddresses, EveryPartOfANameWithParticlesIsAWord) {
  EXPECT_TRUE(Finds(u"berg", u"Pieter van der Berg"));
  EXPECT_TRUE(Finds(u"der", u"Pieter van der Berg"));
  EXPECT_TRUE(Finds(u"van der b", u"Pieter van der Berg"));
  EXPECT_TRUE(Misses(u"erg", u"Pieter van der Berg"));
}

TEST_F(NamesAndAddresses, AccentedLettersAreCaseBlindButNotAccentBlind) {
  EXPECT_TRUE(Finds(u"émile", u"Émile Zola"));
  EXPECT_TRUE(Finds(u"ÉMILE", u"émile zola"));
  EXPECT_TRUE(Finds(u"muñ", u"José Muñoz"));
  EXPECT_TRUE(Finds(u"ålesund", u"Storgata 5, 6002 Ålesund"));
  EXPECT_TRUE(Finds(u"øst", u"Bjørn Østergaard"));
  EXPECT_TRUE(Misses(u"emile", u"Émile Zola"));
  EXPECT_TRUE(Misses(u"rn", u"Bjørn Østergaard")) << "ø is a letter inside the word";
}

TEST_F(NamesAndAddresses, ACombiningAccentStaysWithItsLetter) {
  const std::u16string decomposed = u"Jose\u0301 Mun\u0303oz";
  EXPECT_TRUE(Finds(u"jose\u0301", decomposed));
  EXPECT_TRUE(Finds(u"mun\u0303", decomposed));
  EXPECT_TRUE(Misses(u"\u0303oz", decomposed));
  EXPECT_TRUE(Misses(u"oz", decomposed));
}

TEST_F(NamesAndAddresses, AHouseNumberWithALetterIsOneWord) {
  EXPECT_TRUE(Finds(u"12", u"Flat 12b"));
  EXPECT_TRUE(Finds(u"12b", u"Flat 12b"));
  EXPECT_TRUE(Misses(u"b", u"Flat 12b"));
  EXPECT_TRUE(Misses(u"2b", u"Flat 12b"));
  EXPECT_TRUE(Finds(u"221", u"221B Baker Street"));
  EXPECT_TRUE(Finds(u"baker", u"221B Baker Street"));
  EXPECT_TRUE(Misses(u"12", u"Unit B12"));
  EXPECT_TRUE(Finds(u"b12", u"Unit B12"));
}

TEST_F(NamesAndAddresses, NumbersInAnAddressAreWordsOfTheirOwn) {
  const std::u16string address = u"Hauptstr. 7, 10115 Berlin";
  EXPECT_TRUE(Finds(u"7", address));
  EXPECT_TRUE(Finds(u"10115", address));
  EXPECT_TRUE(Finds(u"berlin", address));
  EXPECT_TRUE(Misses(u"0115", address));
  EXPECT_TRUE(Misses(u"115", address));
}

TEST_F(NamesAndAddresses, EachPartOfAnEmailAddressIsAWord) {
  const std::u16string email = u"john.smith@example.com";
  EXPECT_TRUE(Finds(u"john", email));
  EXPECT_TRUE(Finds(u"smith", email));
  EXPECT_TRUE(Finds(u"example", email));
  EXPECT_TRUE(Finds(u"com", email));
  EXPECT_TRUE(Finds(u"john.smith@ex", email));
  EXPECT_TRUE(Finds(u"@example", email));
  EXPECT_TRUE(Misses(u"mith", email));
  EXPECT_TRUE(Misses(u"xample", email));
}

TEST_F(NamesAndAddresses, EachGroupOfAPhoneNumberIsAWord) {
  const std::u16string phone = u"+49 (0)30 1234-567";
  EXPECT_TRUE(Finds(u"+49", phone));
  EXPECT_TRUE(Finds(u"49", phone));
  EXPECT_TRUE(Finds(u"30", phone));
  EXPECT_TRUE(Finds(u"1234", phone));
  EXPECT_TRUE(Finds(u"567", phone));
  EXPECT_TRUE(Finds(u"1234-5", phone));
  EXPECT_TRUE(Misses(u"234", phone));
  EXPECT_TRUE(Misses(u"67", phone));
}

TEST_F(NamesAndAddresses, NamesJoinedByAnUnderscoreAreSeparateWords) {
  EXPECT_TRUE(Finds(u"smith", u"john_smith"));
  EXPECT_TRUE(Misses(u"mith", u"john_smith"));
}

TEST_F(NamesAndAddresses, ASoftHyphenDoesNotSplitAWord) {
  EXPECT_TRUE(Finds(u"mül", u"Mül\u00ADler"));
  EXPECT_TRUE(Misses(u"ler", u"Mül\u00ADler"));
}

TEST_F(NamesAndAddresses, LeadingAndRepeatedSpacesDoNotHideAWord) {
  EXPECT_TRUE(Finds(u"john", u"   John"));
  EXPECT_TRUE(Finds(u"smith", u"John    Smith"));
  EXPECT_TRUE(Finds(u"smith", u"Smith   "));
}

}  // namespace
}  // namespace tbm::wordbreak::testing
