// Finding words in the scripts a contact list holds besides Latin.

#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

using Scripts = WordBreak;

TEST_F(Scripts, CyrillicWordsAreFoundCaseBlind) {
  EXPECT_TRUE(Finds(u"иван", u"Иван Петров"));
  EXPECT_TRUE(Finds(u"ПЕТ", u"Иван Петров"));
  EXPECT_TRUE(Finds(u"ива", u"ИВАН ПЕТРОВ"));
  EXPECT_TRUE(Misses(u"ван", u"Иван Петров"));
}

TEST_F(Scripts, GreekWordsAreFoundCaseBlind) {
  EXPECT_TRUE(Finds(u"σοφία", u"Σοφία Παπαδοπούλου"));
  EXPECT_TRUE(Finds(u"παπα", u"Σοφία Παπαδοπούλου"));
  EXPECT_TRUE(Finds(u"νικόλαος", u"ΝΙΚΌΛΑΟΣ"));  // final sigma upper-cases to Σ
  EXPECT_TRUE(Misses(u"οφία", u"Σοφία Παπαδοπούλου"));
}

TEST_F(Scripts, ArabicWordsAreFoundWithTheirVowelMarks) {
  EXPECT_TRUE(Finds(u"سلمان", u"محمد بن سلمان"));
  EXPECT_TRUE(Finds(u"بن", u"محمد بن سلمان"));
  EXPECT_TRUE(Misses(u"لمان", u"محمد بن سلمان"));
  EXPECT_TRUE(Finds(u"مُحَ", u"مُحَمَّد"));
  EXPECT_TRUE(Misses(u"\u064F", u"مُحَمَّد")) << "a vowel mark never starts a word";
}

TEST_F(Scripts, ArabicIndicDigitsAreWords) {
  EXPECT_TRUE(Finds(u"١٢", u"شارع ١٢"));
  EXPECT_TRUE(Misses(u"٢", u"شارع ١٢"));
}

TEST_F(Scripts, HebrewWordsAreFound) {
  EXPECT_TRUE(Finds(u"כהן", u"דוד כהן"));
  EXPECT_TRUE(Finds(u"דוד", u"דוד כהן"));
  EXPECT_TRUE(Misses(u"הן", u"דוד כהן"));
}

TEST_F(Scripts, DevanagariConjunctsAndVowelSignsStayInTheirWord) {
  EXPECT_TRUE(Finds(u"शर्मा", u"राहुल शर्मा"));
  EXPECT_TRUE(Finds(u"राहुल श", u"राहुल शर्मा"));
  EXPECT_TRUE(Misses(u"र्मा", u"राहुल शर्मा"));
  EXPECT_TRUE(Misses(u"हुल", u"राहुल शर्मा"));
}

TEST_F(Scripts, EveryHanCharacterStartsAWord) {
  EXPECT_TRUE(Finds(u"山田", u"山田太郎"));
  EXPECT_TRUE(Finds(u"太郎", u"山田太郎"));
  EXPECT_TRUE(Finds(u"田太", u"山田太郎"));
  EXPECT_TRUE(Misses(u"太郎さん", u"山田太郎"));
  EXPECT_TRUE(Finds(u"东", u"北京市东城区"));
}

TEST_F(Scripts, EveryKanaStartsAWord) {
  EXPECT_TRUE(Finds(u"はなこ", u"すずき はなこ"));
  EXPECT_TRUE(Finds(u"ずき", u"すずき はなこ"));
  EXPECT_TRUE(Finds(u"スミス", u"ジョン・スミス"));
  EXPECT_TRUE(Finds(u"ミス", u"ジョン・スミス"));
}

TEST_F(Scripts, AVoicingMarkStaysWithItsKana) {
  const std::u16string decomposed = u"か\u3099いしゃ";  // が spelt with a combining mark
  EXPECT_TRUE(Finds(u"か\u3099", decomposed));
  EXPECT_TRUE(Misses(u"\u3099", decomposed));
}

TEST_F(Scripts, EveryHangulSyllableStartsAWord) {
  EXPECT_TRUE(Finds(u"김민수", u"김민수"));
  EXPECT_TRUE(Finds(u"민수", u"김민수"));
  EXPECT_TRUE(Finds(u"강남", u"서울특별시 강남구"));
  EXPECT_TRUE(Misses(u"민호", u"김민수"));
}

TEST_F(Scripts, AHangulSyllableSpeltInJamoIsKeptWhole) {
  const std::u16string jamo = u"\u1100\u1161\u11A8\u1102\u1161";  // 각나 in conjoining jamo
  EXPECT_TRUE(Finds(u"\u1100\u1161\u11A8", jamo));
  EXPECT_TRUE(Finds(u"\u1102\u1161", jamo));
  EXPECT_TRUE(Misses(u"\u1161", jamo));
  EXPECT_TRUE(Misses(u"\u11A8", jamo));
}

TEST_F(Scripts, EveryThaiCharacterStartsAWordButMarksStayWithIt) {
  const std::u16string name = u"สมชัย ใจดี";
  EXPECT_TRUE(Finds(u"สมชัย", name));
  EXPECT_TRUE(Finds(u"ใจ", name));
  EXPECT_TRUE(Finds(u"ชัย", name));
  EXPECT_TRUE(Misses(u"\u0E31ย", name)) << "the vowel sign belongs to ช";
  EXPECT_TRUE(Misses(u"ใจร้าย", name));
}

TEST_F(Scripts, AWordOfAnotherScriptStartsWhereTheScriptChanges) {
  EXPECT_TRUE(Finds(u"東京", u"Tokyo東京"));
  EXPECT_TRUE(Finds(u"tokyo", u"東京Tokyo"));
}

}  // namespace
}  // namespace tbm::wordbreak::testing
