// The loader and the readers of the resource text forms, given libraries
// and texts from elsewhere: every fault is refused in words that name the
// library, the resource and the line, never a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "ResourceLibrary.h"
#include "ResourceText.h"
#include "TestSupport.h"

namespace tbm::res {
namespace {

namespace stdfs = std::filesystem;

std::unique_ptr<ResourceLibrary> LoadDamaged() {
  std::unique_ptr<ResourceLibrary> library;
  const Status status = ResourceLibrary::Load(TBM_DAMAGED_LIBRARY, &library);
  EXPECT_TRUE(status.ok()) << status.message();
  return library;
}

void ExpectDamaged(const Status& status, const std::string& resource, const std::string& line) {
  EXPECT_EQ(status.code(), StatusCode::kDamaged) << status.message();
  EXPECT_NE(status.message().find(TBM_DAMAGED_LIBRARY), std::string::npos) << status.message();
  EXPECT_NE(status.message().find(resource), std::string::npos) << status.message();
  EXPECT_NE(status.message().find(line), std::string::npos) << status.message();
}

TEST(ResourceLibraryTest, LibrariesThatCannotServeAreRefusedInWords) {
  std::unique_ptr<ResourceLibrary> library;
  tbm::testing::ScratchFolder scratch("tbm-res");
  ASSERT_TRUE(scratch.ok());

  Status status = ResourceLibrary::Load((scratch.path() / "tbmres409.so").string(), &library);
  EXPECT_EQ(status.code(), StatusCode::kNotFound) << status.message();

  ASSERT_TRUE(tbm::testing::WriteWholeFile(scratch.path() / "tbmres407.so", "not a library"));
  status = ResourceLibrary::Load((scratch.path() / "tbmres407.so").string(), &library);
  EXPECT_EQ(status.code(), StatusCode::kDamaged) << status.message();

  // A real library, but one without resources.
  const stdfs::path other = stdfs::canonical("/proc/self/exe").parent_path() / "libtbm_text.so";
  status = ResourceLibrary::Load(other.string(), &library);
  EXPECT_EQ(status.code(), StatusCode::kDamaged);
  EXPECT_NE(status.message().find("TBMResFind"), std::string::npos) << status.message();
  EXPECT_FALSE(library);
}

TEST(ResourceLibraryTest, DamagedResourcesAreRefusedNamingLibraryResourceAndLine) {
  const auto library = LoadDamaged();
  ASSERT_TRUE(library);
  EXPECT_FALSE(library->Version().has_value());
  EXPECT_EQ(library->StringOrEmpty(1), u"Hello");
  EXPECT_FALSE(library->String(2).has_value());

  Menu menu;
  ExpectDamaged(library->LoadMenu(1, &menu), "menu 1", "line 1");
  ExpectDamaged(library->LoadMenu(3, &menu), "menu 3", "line 3");
  EXPECT_TRUE(menu.items.empty());
  ASSERT_TRUE(library->LoadMenu(2, &menu).ok());
  ASSERT_EQ(menu.items.size(), 1u);
  EXPECT_EQ(menu.items[0].text, u"&File");
  ASSERT_EQ(menu.items[0].children.size(), 1u);
  EXPECT_EQ(menu.items[0].children[0].command, 57665);
  EXPECT_EQ(library->LoadMenu(9, &menu).code(), StatusCode::kNotFound);

  ToolBar toolBar;
  ExpectDamaged(library->LoadToolBar(1, &toolBar), "tool bar 1", "picture 999");
  ASSERT_TRUE(library->LoadToolBar(2, &toolBar).ok());
  EXPECT_EQ(toolBar.buttons.size(), 2u);
  EXPECT_TRUE(toolBar.buttons[1].separator);

  Picture picture;
  ExpectDamaged(library->LoadPicture(2, &picture), "picture 2", "line 2");
  ExpectDamaged(library->LoadPicture(3, &picture), "picture 3", "NUL");
  ASSERT_TRUE(library->LoadPicture(1, &picture).ok());
  EXPECT_EQ(picture.width, 4);

  std::string dialog;
  ExpectDamaged(library->LoadDialogText(1, &dialog), "dialog 1", "UTF-8");
  ASSERT_TRUE(library->LoadDialogText(2, &dialog).ok());
  EXPECT_EQ(dialog, "CAPTION \"About\"\n");
}

// Each bad text with the line its fault is on (0: the text as a whole).
struct BadText {
  const char* text;
  std::size_t line;
};

void ExpectRefused(Status (*parse)(std::string_view, void*), const BadText& bad) {
  const Status status = parse(bad.text, nullptr);
  EXPECT_EQ(status.code(), StatusCode::kDamaged) << bad.text;
  if (bad.line != 0) {
    EXPECT_EQ(status.message().rfind("line " + std::to_string(bad.line) + ": ", 0), 0u)
        << bad.text << " -> " << status.message();
  }
}

TEST(ResourceTextTest, EveryFaultOfTheTextFormsIsRefusedWithItsLine) {
  const BadText menus[] = {
      {"", 0},
      {"POPUP \"A\"\nEND\n", 1},
      {"ITEM 0 \"Zero\"\n", 1},
      {"ITEM 65536 \"Big\"\n", 1},
      {"ITEM 12x \"Junk\"\n", 1},
      {"ITEM 12 \"\"\n", 1},
      {"ITEM 12 \"unclosed\n", 1},
      {"ITEM 12 \"bad \\q escape\"\n", 1},
      {"ITEM 12 \"A\"\nEND\n", 2},
      {"ITEM 12 \"A\"\nBOGUS\n", 2},
      {"SEPARATOR extra\n", 1},
      {"POPUP \"1\"\nPOPUP \"2\"\nPOPUP \"3\"\nPOPUP \"4\"\nPOPUP \"5\"\nITEM 1 \"x\"\n", 5},
  };
  const auto menu = [](std::string_view text, void*) {
    Menu out;
    return ParseMenuText(text, &out);
  };
  for (const BadText& bad : menus) ExpectRefused(menu, bad);

  const BadText toolBars[] = {
      {"\n\n", 0},           {"SEPARATOR\n", 0},  {"BUTTON 1\n", 1},
      {"BUTTON 1 2 3\n", 1}, {"BUTTON 1 0\n", 1}, {"BUTTON 1 2\nKNOB 3 4\n", 2},
  };
  const auto toolBar = [](std::string_view text, void*) {
    ToolBar out;
    return ParseToolBarText(text, &out);
  };
  for (const BadText& bad : toolBars) ExpectRefused(toolBar, bad);

  const BadText pictures[] = {
      {"", 0},
      {"SIZE 10 10\n", 0},
      {"RECT 0 0 1 1 FILL #000000\n", 1},
      {"SIZE 0 10\nRECT 0 0 1 1 FILL #000000\n", 1},
      {"SIZE 300 10\nRECT 0 0 1 1 FILL #000000\n", 1},
      {"SIZE 10 10\nRECT 0 0 1 1\n", 2},
      {"SIZE 10 10\nRECT 0 0 0 1 FILL #000000\n", 2},
      {"SIZE 10 10\nRECT 0 0 1 FILL #000000\n", 2},
      {"SIZE 10 10\nRECT 5 5 6 1 FILL #000000\n", 2},
      {"SIZE 10 10\nRECT 0 0 1 1 FILL #00000\n", 2},
      {"SIZE 10 10\nRECT 0 0 1 1 FILL #000000 FILL #ffffff\n", 2},
      {"SIZE 10 10\nRECT 0 0 1 1 FILL #000000 WIDTH 2\n", 2},
      {"SIZE 10 10\nRECT 0 0 1 1 STROKE #000000 WIDTH 0\n", 2},
      {"SIZE 10 10\nRECT 0 0 1.5.5 1 FILL #000000\n", 2},
      {"SIZE 10 10\nPOLYGON 0 0 1 1 FILL #000000\n", 2},
      {"SIZE 10 10\nPOLYGON 0 0 1 1 2 FILL #000000\n", 2},
      {"SIZE 10 10\nPOLYGON 0 0 1 1 2 11 FILL #000000\n", 2},
      {"SIZE 10 10\nPOLYLINE 0 0 1 1 FILL #000000\n", 2},
      {"SIZE 10 10\nCIRCLE 1 1 1 STROKE #000000\n", 2},
      {"SIZE 10 10\nRECT 0 0 1 1 FILL #000000\nRECT 1e9 0 1 1 FILL #000000\n", 3},
  };
  const auto picture = [](std::string_view text, void*) {
    Picture out;
    return ParsePictureText(text, &out);
  };
  for (const BadText& bad : pictures) ExpectRefused(picture, bad);

  const BadText dialogs[] = {
      {"", 0},
      {"CAPTION \"Find\"\n", 0},
      {"EDIT 1\nCAPTION \"late\"\n", 2},
      {"EDIT\n", 1},
      {"EDIT 70000\n", 1},
      {"LABEL 1\n", 1},
      {"EDIT 1 \"text\"\n", 1},
      {"EDIT 1 COMPACT\n", 1},
      {"EDIT 1\nCOMBO 1\n", 2},
      {"ROW\nROW\n", 2},
      {"ROW\nEND\n", 2},
      {"ROW\nEDIT 1\n", 1},
      {"END\n", 1},
      {"KNOB 1\n", 1},
  };
  const auto dialog = [](std::string_view text, void*) {
    DialogLayout out;
    return ParseDialogText(text, &out);
  };
  for (const BadText& bad : dialogs) ExpectRefused(dialog, bad);
}

TEST(ResourceTextTest, WellFormedTextsReadBackAsWritten) {
  Menu menu;
  ASSERT_TRUE(ParseMenuText("POPUP \"&Edit \\\"it\\\"\"\r\n\tITEM 57636 \"Cu&t\\tCtrl+X\"\r\n"
                            "\tSEPARATOR\r\n\tPOPUP \"Más\"\n\t\tITEM 1 \"日本\"\n\tEND\nEND",
                            &menu)
                  .ok());
  ASSERT_EQ(menu.items.size(), 1u);
  EXPECT_EQ(menu.items[0].text, u"&Edit \"it\"");
  ASSERT_EQ(menu.items[0].children.size(), 3u);
  EXPECT_EQ(menu.items[0].children[0].text, u"Cu&t\tCtrl+X");
  EXPECT_EQ(menu.items[0].children[1].kind, MenuItem::Kind::kSeparator);
  EXPECT_EQ(menu.items[0].children[2].text, u"Más");
  EXPECT_EQ(menu.items[0].children[2].children[0].text, u"日本");

  Picture picture;
  ASSERT_TRUE(ParsePictureText("SIZE 16 8\nPOLYGON 0 0 16 0 8 8 FILL #1f5fbf STROKE #000000 "
                               "WIDTH 1.5\nPOLYLINE 0.5 0.5 15.5 7.5 STROKE #ff0000\n",
                               &picture)
                  .ok());
  ASSERT_EQ(picture.shapes.size(), 2u);
  EXPECT_EQ(picture.shapes[0].fill, 0x1f5fbfu);
  EXPECT_FLOAT_EQ(picture.shapes[0].strokeWidth, 1.5f);
  EXPECT_EQ(picture.shapes[1].points, (std::vector<float>{0.5f, 0.5f, 15.5f, 7.5f}));
  EXPECT_FALSE(picture.shapes[1].fill.has_value());

  DialogLayout dialog;
  ASSERT_TRUE(ParseDialogText("CAPTION \"Suche\"\nTITLE 2401 \"Datensätze suchen\" COMPACT\n"
                              "ROW\n  LABEL 0 \"Feld:\"\n  COMBO 2402 STRETCH\nEND\n"
                              "CUSTOM 2404\nLABEL 0 \"\"\nSPACE\n",
                              &dialog)
                  .ok());
  EXPECT_EQ(dialog.caption, u"Suche");
  ASSERT_EQ(dialog.rows.size(), 5u);
  EXPECT_TRUE(dialog.rows[0].controls[0].compact);
  EXPECT_EQ(dialog.rows[0].controls[0].text, u"Datensätze suchen");
  ASSERT_EQ(dialog.rows[1].controls.size(), 2u);
  EXPECT_EQ(dialog.rows[1].controls[1].kind, DialogControl::Kind::kCombo);
  EXPECT_EQ(dialog.rows[1].controls[1].id, 2402);
  EXPECT_TRUE(dialog.rows[1].controls[1].stretch);
  EXPECT_EQ(dialog.rows[2].controls[0].kind, DialogControl::Kind::kCustom);
  EXPECT_EQ(dialog.rows[4].controls[0].kind, DialogControl::Kind::kSpace);
}

}  // namespace
}  // namespace tbm::res
