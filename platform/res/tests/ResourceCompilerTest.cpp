// The resource compiler refuses, before anything is built, every source
// fault a language library must not ship with.
#include <gtest/gtest.h>

#include <filesystem>

#include "RunProgram.h"
#include "TestSupport.h"

namespace {

namespace stdfs = std::filesystem;
using tbm::testing::ReadWholeFile;
using tbm::testing::RunProgram;
using tbm::testing::WriteWholeFile;

constexpr char kEnglish[] = R"(VERSION 2.1.1.17
INCLUDE "shared.txt"
STRING 5020 "%1d of %2d"
STRING 5100 "Error %1d: %2s"
MENU 128
  POPUP "&Record"
    ITEM ID_RECORD_NEW "&New"
    SEPARATOR
    ITEM ID_RECORD_DELETE "&Delete..."
  END
END
DIALOG 2600
  TITLE 2601 "Go To Record"
  ROW
    LABEL 2602 "Number:"
    EDIT 2603 STRETCH
  END
END
)";

constexpr char kShared[] = R"(# Shared by every language.
PICTURE 320
  SIZE 2 2
  RECT 0 0 2 2 FILL #000000
END
TOOLBAR 128
  BUTTON ID_VIEW_LIST 320
END
)";

class ResourceCompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    ASSERT_TRUE(WriteWholeFile(scratch_.path() / "en.txt", kEnglish));
    ASSERT_TRUE(WriteWholeFile(scratch_.path() / "shared.txt", kShared));
  }

  // Compiles source (as translation of en.txt when reference is set); the
  // compiler's result, and whether it wrote its output.
  tbm::testing::ProgramResult Compile(const std::string& source, bool reference, bool* wrote) {
    const stdfs::path input = scratch_.path() / "xx.txt";
    const stdfs::path output = scratch_.path() / "xx.cpp";
    stdfs::remove(output);
    EXPECT_TRUE(WriteWholeFile(input, source));
    std::vector<std::string> args;
    if (reference) args = {"--reference", (scratch_.path() / "en.txt").string()};
    args.insert(args.end(), {"--output", output.string(), input.string()});
    auto result = RunProgram(TBM_RESOURCE_COMPILER, args);
    *wrote = stdfs::exists(output);
    return result;
  }

  tbm::testing::ScratchFolder scratch_{"tbm-rc"};
};

TEST_F(ResourceCompilerTest, AGoodTranslationBecomesALibrarySource) {
  bool wrote = false;
  std::string german = kEnglish;
  german.replace(german.find("\"%1d of %2d\""), 12, "\"%1d von %2d\"");
  const auto result = Compile(german, true, &wrote);
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_TRUE(wrote);
  const std::string cpp = ReadWholeFile(scratch_.path() / "xx.cpp");
  EXPECT_NE(cpp.find("TBMResFind"), std::string::npos);
  EXPECT_NE(cpp.find("*major = 2;"), std::string::npos);
  EXPECT_NE(cpp.find("ITEM 49202 \\\"&New\\\""), std::string::npos);  // ID_RECORD_NEW by number
  EXPECT_NE(cpp.find("BUTTON 49173 320"), std::string::npos);         // ID_VIEW_LIST
}

TEST_F(ResourceCompilerTest, FaultsAreRefusedWithTheirFileAndLine) {
  struct Case {
    std::string source;
    bool reference;
    std::string said;  // a piece of the refusal
  };
  const auto english = [](const std::string& from, const std::string& to) {
    std::string text = kEnglish;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const Case cases[] = {
      {english("ID_RECORD_DELETE", "ID_RECORD_ERASE"), false,
       "xx.txt:9: unknown command \"ID_RECORD_ERASE\""},
      {english("STRING 5100", "STRING 5020"), false, "xx.txt:4: STRING 5020 is defined twice"},
      {english("%2s\"", "%2\""), false, "xx.txt:4: string 5100"},
      {english("Error %1d", "Error 100%"), false, "xx.txt:4: string 5100"},
      {english("\"%1d of %2d\"", "\"%1s of %2d\""), true,
       "xx.txt:3: STRING 5020 uses %1s %2d where the reference uses %1d %2d"},
      {english("\"Error %1d: %2s\"", "\"Error: %2s\""), true, "STRING 5100 uses %2s"},
      {english("STRING 5100 \"Error %1d: %2s\"\n", ""), true, "STRING 5100 is missing"},
      {english("    SEPARATOR\n", ""), true, "MENU 128 does not carry the reference's commands"},
      {english("VERSION 2.1.1.17", "VERSION 3.0.0.1"), true, "VERSION differs"},
      {english("    EDIT 2603 STRETCH\n", ""), true,
       "DIALOG 2600 does not hold the reference's controls in the same rows"},
      {english("EDIT 2603", "EDIT 2601"), false,
       "xx.txt:16: line 4: control id 2601 is used twice"},
      {english("VERSION 2.1.1.17\n", ""), false, "no VERSION"},
      {english("STRETCH\n  END\nEND\n", "STRETCH\n  END\n"), false, "DIALOG without its END"},
      {english("\"shared.txt\"", "\"missing.txt\""), false, "xx.txt:2: cannot read"},
      {english("STRING 5020", "STRING 70000"), false, "xx.txt:3: STRING takes a number"},
      {english("STRING 5020 \"%1d of %2d\"", "STRING 5020 \"%1d of %2d\"\nSTRING 5021 \"\""), false,
       "xx.txt:4: string 5021 is empty"},
      {english("VERSION", "VERSION"), false, ""},  // the unchanged source compiles
  };
  for (const Case& bad : cases) {
    bool wrote = true;
    const auto result = Compile(bad.source, bad.reference, &wrote);
    if (bad.said.empty()) {
      EXPECT_EQ(result.status, 0) << result.err;
      continue;
    }
    EXPECT_EQ(result.status, 1) << bad.said;
    EXPECT_FALSE(wrote) << bad.said;
    EXPECT_NE(result.err.find(bad.said), std::string::npos) << result.err;
  }
  // A picture a tool bar shows must exist; an include must not loop.
  bool wrote = true;
  WriteWholeFile(scratch_.path() / "shared.txt", "INCLUDE \"shared.txt\"\n");
  auto result = Compile(kEnglish, false, &wrote);
  EXPECT_NE(result.err.find("includes itself"), std::string::npos) << result.err;
  WriteWholeFile(scratch_.path() / "shared.txt", "TOOLBAR 128\n  BUTTON ID_VIEW_LIST 999\nEND\n");
  result = Compile(kEnglish, false, &wrote);
  EXPECT_NE(result.err.find("shows picture 999, which is not defined"), std::string::npos)
      << result.err;
  EXPECT_FALSE(wrote);
  EXPECT_EQ(RunProgram(TBM_RESOURCE_COMPILER, {"--help"}).status, 0);
}

}  // namespace
