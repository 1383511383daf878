// The language libraries the build makes from res/lang, read back through
// ResourceLibrary as the program reads them: every language has what the
// program asks for, with the arguments it passes, and the pictures draw.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "CommandIds.h"
#include "MessageFormat.h"
#include "ResourceLibrary.h"
#include "RunProgram.h"
#include "Utf16.h"

// fontconfig keeps one allocation of its first font list for the life of
// the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace tbm::res {
namespace {

namespace stdfs = std::filesystem;

const stdfs::path kLibraryFolder = stdfs::canonical("/proc/self/exe").parent_path() / "tbmres";
const char* const kSuffixes[] = {"409", "407", "40c", "410", "c0a", "411"};

// Every string the program asks for, with the kinds of the arguments it
// passes ("" for none).
const std::map<std::uint32_t, std::u16string> kProgramStrings = {
    {0xE000, u""}, {4000, u""},  {4001, u""},   {4002, u""},   {5001, u""},   {5002, u""},
    {5003, u""},   {5004, u""},  {5005, u"d"},  {5006, u""},   {5007, u""},   {5008, u""},
    {5009, u""},   {5010, u""},  {5011, u""},   {5012, u""},   {5013, u""},   {5016, u"s"},
    {5017, u"s"},  {5018, u"s"}, {5019, u"s"},  {5020, u"dd"}, {5100, u"ds"}, {5101, u""},
    {5102, u"ss"}, {5103, u""},  {5104, u"ss"}, {5105, u"ss"}, {5120, u"ss"}, {5130, u"d"},
    {64000, u""},  {65000, u""}, {65001, u""},  {65002, u""},  {65003, u""},  {65004, u""},
    {65005, u""},  {65010, u""}, {65011, u""},  {65012, u""},  {65013, u""},  {65014, u""},
    {65017, u""},  {65018, u""}, {65019, u""},  {65020, u""}};

// How many items the comma-separated lists hold: colours, alignments,
// sort orders.
const std::map<std::uint32_t, int> kListLengths = {{5001, 6}, {5002, 3}, {5004, 2}};

std::unique_ptr<ResourceLibrary> LoadLanguage(const std::string& suffix) {
  std::unique_ptr<ResourceLibrary> library;
  const Status status =
      ResourceLibrary::Load((kLibraryFolder / ("tbmres" + suffix + ".so")).string(), &library);
  EXPECT_TRUE(status.ok()) << status.message();
  return library;
}

std::set<std::uint16_t> KnownCommands() {
  std::set<std::uint16_t> known;
  for (const auto& command : ui::kNamedCommands) known.insert(command.id);
  return known;
}

void CollectCommands(const std::vector<MenuItem>& items, std::vector<std::uint16_t>* commands) {
  for (const MenuItem& item : items) {
    if (item.kind == MenuItem::Kind::kCommand) commands->push_back(item.command);
    CollectCommands(item.children, commands);
  }
}

// Draws a picture as the framework's renderer does, for a device pixel
// ratio.
QImage Render(const Picture& picture, int ratio) {
  QImage image(picture.width * ratio, picture.height * ratio, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(ratio, ratio);
  for (const PictureShape& shape : picture.shapes) {
    QPainterPath path;
    const auto& p = shape.points;
    switch (shape.kind) {
      case PictureShape::Kind::kRect:
        path.addRect(p[0], p[1], p[2], p[3]);
        break;
      case PictureShape::Kind::kEllipse:
        path.addEllipse(p[0], p[1], p[2], p[3]);
        break;
      case PictureShape::Kind::kPolygon:
      case PictureShape::Kind::kPolyline:
        path.moveTo(p[0], p[1]);
        for (std::size_t i = 2; i + 1 < p.size(); i += 2) path.lineTo(p[i], p[i + 1]);
        if (shape.kind == PictureShape::Kind::kPolygon) path.closeSubpath();
        break;
    }
    if (shape.fill) painter.fillPath(path, QColor::fromRgb(*shape.fill));
    if (shape.stroke)
      painter.strokePath(path, QPen(QColor::fromRgb(*shape.stroke), shape.strokeWidth,
                                    Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  }
  return image;
}

class LanguageLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tbm_res_tests";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) application_ = new QGuiApplication(argc, argv);
  }

  static QGuiApplication* application_;
};
QGuiApplication* LanguageLibraryTest::application_ = nullptr;

TEST_F(LanguageLibraryTest, OnlyTheSixLanguagesAreBuiltAndNoneHidesThem) {
  std::set<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(kLibraryFolder)) {
    if (entry.path().extension() == ".so") names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"tbmres409.so", "tbmres407.so", "tbmres40c.so",
                                          "tbmres410.so", "tbmresc0a.so", "tbmres411.so"}));
  // Resource-only: nothing but the C library, if even that.
  for (const std::string& name : names) {
    const auto dynamic =
        tbm::testing::RunProgram("/usr/bin/readelf", {"-d", (kLibraryFolder / name).string()});
    ASSERT_EQ(dynamic.status, 0) << dynamic.err;
    for (std::size_t at = dynamic.out.find("(NEEDED)"); at != std::string::npos;
         at = dynamic.out.find("(NEEDED)", at + 1)) {
      const std::string line = dynamic.out.substr(at, dynamic.out.find('\n', at) - at);
      EXPECT_NE(line.find("[libc.so"), std::string::npos) << name << " needs " << line;
    }
  }
}

TEST_F(LanguageLibraryTest, EveryLanguageHasEveryStringWithTheArgumentsTheProgramPasses) {
  const auto english = LoadLanguage("409");
  ASSERT_TRUE(english);
  const QStringList families = QFontDatabase::families();
  for (const char* suffix : kSuffixes) {
    SCOPED_TRACE(suffix);
    const auto library = LoadLanguage(suffix);
    ASSERT_TRUE(library);
    const auto version = library->Version();
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->major, 2);
    EXPECT_EQ(version->minor, 1);
    for (const auto& [number, kinds] : kProgramStrings) {
      SCOPED_TRACE(number);
      const auto text = library->String(number);
      ASSERT_TRUE(text.has_value());
      EXPECT_FALSE(text->empty());
      const Status fits = CheckMessageText(*text, kinds);
      EXPECT_TRUE(fits.ok()) << fits.message();
      std::u16string own, theirs;
      ASSERT_TRUE(MessagePlaceholders(*text, &own).ok());
      ASSERT_TRUE(MessagePlaceholders(*english->String(number), &theirs).ok());
      EXPECT_EQ(own, theirs);
      // Every argument the program passes is shown but for the repeated path.
      if (kinds == u"d" || kinds == u"s" || kinds == u"dd" || kinds == u"ds") {
        EXPECT_EQ(own, kinds);
      }
    }
    for (const auto& [number, items] : kListLengths) {
      const QString list = QString::fromStdU16String(*library->String(number));
      EXPECT_EQ(list.split(u',').size(), items) << number;
      EXPECT_FALSE(list.split(u',').contains(QString())) << number;
    }
    for (std::uint32_t font = 4000; font <= 4002; ++font) {
      const QStringList parts = QString::fromStdU16String(*library->String(font)).split(u',');
      ASSERT_EQ(parts.size(), 3) << font;
      EXPECT_TRUE(families.contains(parts[0])) << parts[0].toStdString() << " is not installed";
      EXPECT_LT(parts[2].toInt(), 0) << font;
    }
    // A message formatted as the program formats it.
    std::u16string position;
    const MessageArgument arguments[] = {MessageArgument::Number(12), MessageArgument::Number(340)};
    ASSERT_TRUE(FormatMessageText(*library->String(5020), arguments, &position).ok());
    EXPECT_NE(position.find(u"12"), std::u16string::npos);
    EXPECT_NE(position.find(u"340"), std::u16string::npos);
  }
}

TEST_F(LanguageLibraryTest, MenusAndToolBarsCarryKnownCommandsInEveryLanguage) {
  const std::set<std::uint16_t> known = KnownCommands();
  for (const char* suffix : kSuffixes) {
    SCOPED_TRACE(suffix);
    const auto library = LoadLanguage(suffix);
    ASSERT_TRUE(library);
    std::map<std::uint32_t, std::vector<std::uint16_t>> commands;
    for (const std::uint32_t number : {108u, 109u, 110u, 111u, 112u, 113u, 128u}) {
      Menu menu;
      const Status status = library->LoadMenu(number, &menu);
      ASSERT_TRUE(status.ok()) << status.message();
      // Context menus are the first pop-up of their menu.
      ASSERT_EQ(menu.items[0].kind, MenuItem::Kind::kPopup) << number;
      CollectCommands(menu.items, &commands[number]);
      for (const std::uint16_t command : commands[number])
        EXPECT_EQ(known.count(command), 1u) << "menu " << number << " command " << command;
    }
    const auto has = [&](std::uint32_t menu, std::uint16_t command) {
      const auto& list = commands[menu];
      return std::find(list.begin(), list.end(), command) != list.end();
    };
    for (const std::uint16_t command :
         {ui::ID_VIEW_LIST, ui::ID_VIEW_FORM, ui::ID_VIEW_TOOLBAR, ui::ID_VIEW_OPTIONS,
          ui::ID_APP_ABOUT, ui::ID_APP_EXIT, ui::ID_RECORD_NEW, ui::ID_RECORD_FIND,
          ui::ID_RECORD_SORT, ui::ID_RECORD_NEXT, ui::ID_RECORD_GOTO})
      EXPECT_TRUE(has(128, command)) << command;
    EXPECT_TRUE(has(108, ui::ID_APP_EXIT));
    EXPECT_TRUE(has(109, ui::ID_EDIT_PASTE));
    for (const std::uint16_t command : {ui::ID_COLUMN_SORT_ASCENDING, ui::ID_COLUMN_SORT_DESCENDING,
                                        ui::ID_COLUMN_FIND, ui::ID_COLUMN_OPTIONS})
      EXPECT_TRUE(has(111, command)) << command;
    // The date and time entries' menus: the current time or today, and clear.
    EXPECT_TRUE(has(112, ui::ID_TIME_NOW));
    EXPECT_TRUE(has(112, ui::ID_EDIT_CLEAR));
    EXPECT_TRUE(has(113, ui::ID_DATE_TODAY));
    EXPECT_TRUE(has(113, ui::ID_EDIT_CLEAR));

    ToolBar commandBar, navigation;
    ASSERT_TRUE(library->LoadToolBar(128, &commandBar).ok());
    ASSERT_TRUE(library->LoadToolBar(143, &navigation).ok());
    const auto buttons = [](const ToolBar& bar) {
      std::vector<std::uint16_t> list;
      for (const ToolBarButton& button : bar.buttons)
        if (!button.separator) list.push_back(button.command);
      return list;
    };
    EXPECT_EQ(buttons(commandBar),
              (std::vector<std::uint16_t>{ui::ID_VIEW_LIST, ui::ID_VIEW_FORM, ui::ID_RECORD_FIND,
                                          ui::ID_RECORD_SHOW_ALL, ui::ID_VIEW_TOOLBAR}));
    EXPECT_EQ(buttons(navigation),
              (std::vector<std::uint16_t>{
                  ui::ID_RECORD_FIRST, ui::ID_RECORD_PREV, ui::ID_RECORD_NEXT, ui::ID_RECORD_LAST,
                  ui::ID_RECORD_GOTO, ui::ID_RECORD_NEW, ui::ID_RECORD_DUPLICATE,
                  ui::ID_RECORD_DELETE, ui::ID_RECORD_FIND}));
  }
}

TEST_F(LanguageLibraryTest, PicturesHaveTheirSizesAndDrawSharplyAtOneAndTwoTimes) {
  const auto library = LoadLanguage("409");
  ASSERT_TRUE(library);
  const std::map<std::uint32_t, QSize> sizes = {{300, {15, 15}}, {301, {15, 15}}, {302, {15, 15}},
                                                {303, {11, 11}}, {304, {15, 15}}, {305, {11, 9}},
                                                {306, {11, 9}},  {307, {13, 13}}, {308, {13, 13}}};
  std::map<std::uint32_t, QImage> drawn;
  std::set<std::uint32_t> numbers;
  for (const auto& [number, size] : sizes) numbers.insert(number);
  for (std::uint32_t number = 320; number <= 332; ++number) numbers.insert(number);
  const char* keep = std::getenv("TBM_PICTURE_PNG_DIR");
  for (const std::uint32_t number : numbers) {
    SCOPED_TRACE(number);
    Picture picture;
    const Status status = library->LoadPicture(number, &picture);
    ASSERT_TRUE(status.ok()) << status.message();
    if (sizes.count(number) != 0) {
      EXPECT_EQ(QSize(picture.width, picture.height), sizes.at(number));
    }
    for (const int ratio : {1, 2}) {
      const QImage image = Render(picture, ratio);
      if (keep != nullptr)
        image.scaled(image.size() * 8 / ratio)
            .save(QString("%1/%2@%3x.png").arg(keep).arg(number).arg(ratio));
      if (ratio == 1) drawn[number] = image;
      // Drawn at twice the size, the same picture covers the same share.
      if (ratio == 2) {
        const QImage reduced =
            image.scaled(drawn[number].size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        int opaqueAtOne = 0, opaqueAtTwo = 0;
        for (int y = 0; y < reduced.height(); ++y)
          for (int x = 0; x < reduced.width(); ++x) {
            opaqueAtOne += qAlpha(drawn[number].pixel(x, y)) > 128;
            opaqueAtTwo += qAlpha(reduced.pixel(x, y)) > 128;
          }
        EXPECT_GT(opaqueAtOne, 0);
        EXPECT_NEAR(opaqueAtTwo, opaqueAtOne, 2 + opaqueAtOne / 10);
      }
    }
  }
  // The check boxes: a sharp dark frame, an open middle, a mark only when
  // checked.
  const QImage& checked = drawn[300];
  const QImage& unchecked = drawn[301];
  EXPECT_EQ(checked.pixel(0, 7), qRgb(0x40, 0x40, 0x40));
  EXPECT_EQ(qAlpha(unchecked.pixel(7, 7)), 0);
  EXPECT_GT(qAlpha(checked.pixel(7, 8)), 200);
  EXPECT_NE(drawn[307], drawn[308]);
  EXPECT_NE(drawn[305], drawn[306]);
}

}  // namespace
}  // namespace tbm::res
