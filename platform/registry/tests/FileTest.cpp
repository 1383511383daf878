// The registry file: what it looks like, files written by hand or by an
// export, damaged files, and failures to save.
#include <filesystem>

#include "FreshRegistry.h"

namespace tbm::testing {
namespace {

using FileTest = FreshRegistry;

void WriteDeviceRegistry(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  ASSERT_TRUE(WriteWholeFile(path, text));
}

TEST_F(FileTest, TheFileReadsLikeAnExportedRegistry) {
  HKEY command = Create(HKEY_CLASSES_ROOT, u"tbmfile\\shell\\open\\command");
  ASSERT_NE(command, nullptr);
  ASSERT_EQ(SetString(command, nullptr, u"\"\\Program Files\\Tabulon Mobile.exe\" \"%1\""),
            ERROR_SUCCESS);
  HKEY mobile = Create(HKEY_CURRENT_USER, u"Software\\Tabulon\\Mobile");
  ASSERT_NE(mobile, nullptr);
  ASSERT_EQ(SetDword(mobile, u"BarInfo", 42), ERROR_SUCCESS);
  ASSERT_EQ(SetBinary(mobile, u"Layout", {0x01, 0x02, 0xFF}), ERROR_SUCCESS);
  RegCloseKey(command);
  RegCloseKey(mobile);

  const std::string text = DeviceText();
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\tbmfile\\shell\\open\\command]\n"
                      "@=\"\\\"\\\\Program Files\\\\Tabulon Mobile.exe\\\" \\\"%1\\\"\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Tabulon\\Mobile]\n"
                      "\"BarInfo\"=dword:0000002a\n"
                      "\"Layout\"=hex:01,02,ff\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileTest, QuotesBackslashesAndLineBreaksSurviveTheFile) {
  const std::u16string tricky =
      u"She said \"hi\"\\\r\nthen left.\tTab, bell \a, \u00E9t\u00E9 \U0001F4C7 \xD800 end";
  const std::u16string trickyName = u"Name with \"quotes\" and \\ and \n";
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetString(key, trickyName.c_str(), tricky), ERROR_SUCCESS);
  RegCloseKey(key);

  // One line holds the whole value, its breaks written as escapes.
  const std::string text = DeviceText();
  const std::size_t start = text.find("\"Name with");
  ASSERT_NE(start, std::string::npos) << text;
  const std::string line = text.substr(start, text.find('\n', start) - start);
  EXPECT_EQ(line.substr(line.size() - 5), " end\"") << line;
  EXPECT_NE(text.find("\"Name with \\\"quotes\\\" and \\\\ and \\n\"="), std::string::npos) << text;
  EXPECT_NE(text.find("\\r\\nthen left.\\tTab, bell \\u0007"), std::string::npos) << text;
  EXPECT_NE(text.find("\\uD800 end"), std::string::npos) << text;

  // Read back from the file alone, as a new process would.
  std::filesystem::copy_file(DeviceFile(), scratch_.path() / "copy.reg");
  ScopedEnvironment otherRoot("TBM_DEVICE_ROOT", scratch_.path().c_str());
  std::filesystem::rename(scratch_.path() / "copy.reg", scratch_.path() / "registry.reg");
  HKEY reread = Open(HKEY_CURRENT_USER, u"Software\\Tabulon");
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(QueryString(reread, trickyName.c_str()), tricky);
  RegCloseKey(reread);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileTest, AnExportedFileIsReadWithItsHeaderContinuationsAndByteOrderMark) {
  const std::string exported =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Windows CE Services\\synchronization\\objects\\Tabulon Mobile]\r\n"
      "\"Store\"=\"\\\\Windows\\\\TBDevSync.dll\"\r\n"
      "\"Icon\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
      "  16,17,18,19\r\n"
      "\"Flags\"=dword:00000003\r\n"
      "\"Paths\"=hex(7):41,00,00,00,00,00\r\n";
  std::string utf16 = "\xFF\xFE";
  for (const char c : exported) {
    utf16 += c;
    utf16 += '\0';
  }
  WriteDeviceRegistry(DeviceFile(), utf16);

  HKEY key =
      Open(HKEY_LOCAL_MACHINE, u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(QueryString(key, u"Store"), u"\\Windows\\TBDevSync.dll");
  const auto icon = Query(key, u"Icon");
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->first, REG_BINARY);
  ASSERT_EQ(icon->second.size(), 26u);
  EXPECT_EQ(icon->second[25], 0x19);
  EXPECT_EQ(QueryDword(key, u"Flags"), 3u);
  const auto paths = Query(key, u"Paths");
  ASSERT_TRUE(paths);
  EXPECT_EQ(paths->first, REG_MULTI_SZ);
  EXPECT_EQ(paths->second, (std::vector<BYTE>{0x41, 0, 0, 0, 0, 0}));
  RegCloseKey(key);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileTest, LongBinaryValuesAreWrappedAndReadBack) {
  std::vector<BYTE> block(300);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i * 7);
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetBinary(key, u"Block", block), ERROR_SUCCESS);
  ASSERT_EQ(SetBinary(key, u"Empty", {}), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string text = DeviceText();
  std::size_t longest = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  EXPECT_LE(longest, 80u);
  EXPECT_NE(text.find("\"Empty\"=hex:\n"), std::string::npos);

  // A hand edit elsewhere makes the file be read again.
  WriteDeviceRegistry(DeviceFile(), text + "\n[HKEY_USERS\\.Default]\n\"Edited\"=dword:1\n");
  key = Open(HKEY_CURRENT_USER, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  const auto read = Query(key, u"Block");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->second, block);
  const auto empty = Query(key, u"Empty");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->second.empty());
  RegCloseKey(key);
  HKEY users = Open(HKEY_USERS, u".DEFAULT");
  ASSERT_NE(users, nullptr);
  EXPECT_EQ(QueryDword(users, u"Edited"), 1u);
  RegCloseKey(users);
}

TEST_F(FileTest, DamagedLinesAreReportedAndTheRestIsKept) {
  WriteDeviceRegistry(DeviceFile(),
                      "; hand edited\n"
                      "[HKEY_CURRENT_USER\\Software\\Tabulon\\Mobile]\n"
                      "\"BarInfo\"=dword:00000003\n"
                      "\"Broken\"=dword:xyz\n"                           // line 4
                      "this line means nothing\n"                        // line 5
                      "\"Open\"=\"no closing quote\n"                    // line 6
                      "[HKEY_NOWHERE\\Software]\n"                       // line 7
                      "\"Lost\"=dword:00000001\n"                        // ignored with its key
                      "[HKEY_CURRENT_USER\\Software\\Tabulon\\Mobile\n"  // line 9
                      "[HKEY_LOCAL_MACHINE\\Software\\Tabulon]\n"
                      "\"Folder\"=\"\\\\My Documents\\\\Tabulon\"\n"
                      "\"Bad escape\"=\"\\q\"\n"  // line 12
                      "\"Hex\"=hex:01,2g\n");     // line 13
  HKEY mobile = Open(HKEY_CURRENT_USER, u"Software\\Tabulon\\Mobile");
  ASSERT_NE(mobile, nullptr);
  EXPECT_EQ(QueryDword(mobile, u"BarInfo"), 3u);
  EXPECT_EQ(Query(mobile, u"Broken"), std::nullopt);
  EXPECT_EQ(Query(mobile, u"Open"), std::nullopt);
  HKEY tabulon = Open(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(tabulon, nullptr);
  EXPECT_EQ(QueryString(tabulon, u"Folder"), u"\\My Documents\\Tabulon");
  EXPECT_EQ(Query(tabulon, u"Hex"), std::nullopt);

  const std::vector<std::string> messages = Messages();
  ASSERT_EQ(messages.size(), 7u);
  const int lines[] = {4, 5, 6, 7, 9, 12, 13};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i].rfind(DeviceFile() + " line " + std::to_string(lines[i]) + ": ", 0), 0u)
        << messages[i];
  }
  EXPECT_NE(messages[0].find("dword"), std::string::npos) << messages[0];

  // Reading again reports nothing new; the first change keeps the damaged
  // file aside and saves the readable rest.
  EXPECT_EQ(QueryDword(mobile, u"BarInfo"), 3u);
  EXPECT_EQ(Messages().size(), 7u);
  const std::string damaged = DeviceText();
  ASSERT_EQ(SetDword(mobile, u"BarInfo", 1), ERROR_SUCCESS);
  EXPECT_EQ(ReadWholeFile(DeviceFile() + ".damaged"), damaged);
  ASSERT_EQ(Messages().size(), 8u);
  EXPECT_NE(Messages().back().find(DeviceFile() + ".damaged"), std::string::npos);
  EXPECT_EQ(QueryString(tabulon, u"Folder"), u"\\My Documents\\Tabulon");
  EXPECT_EQ(DeviceText().find("Broken"), std::string::npos);
  EXPECT_NE(DeviceText().find("\"BarInfo\"=dword:00000001"), std::string::npos);
  RegCloseKey(mobile);
  RegCloseKey(tabulon);
}

TEST_F(FileTest, AFileOfGarbageIsAnEmptyRegistryWithFewMessages) {
  std::string garbage;
  for (int i = 0; i < 1000; ++i) garbage += "\x01\x02 not a registry \xFF\xFE line\n";
  WriteDeviceRegistry(DeviceFile(), garbage);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software"), nullptr);
  const std::vector<std::string> messages = Messages();
  ASSERT_EQ(messages.size(), 101u);
  EXPECT_NE(messages.back().find("900 more lines"), std::string::npos) << messages.back();

  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software");
  ASSERT_NE(key, nullptr);
  RegCloseKey(key);
  EXPECT_EQ(ReadWholeFile(DeviceFile() + ".damaged"), garbage);
}

TEST_F(FileTest, AChangeThatCannotBeSavedIsNotKept) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"Count", 1), ERROR_SUCCESS);
  // The new version cannot be written where it is written first.
  const std::string temporary = DeviceFile() + ".new";
  ASSERT_TRUE(std::filesystem::create_directory(temporary));
  EXPECT_EQ(SetDword(key, u"Count", 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(QueryDword(key, u"Count"), 1u);
  EXPECT_NE(DeviceText().find("\"Count\"=dword:00000001"), std::string::npos);
  std::filesystem::remove(temporary);
  EXPECT_EQ(SetDword(key, u"Count", 3), ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(key, u"Count"), 3u);
  RegCloseKey(key);
}

TEST_F(FileTest, AnUnreadableFileIsAnErrorNotAnEmptyRegistry) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"Count", 1), ERROR_SUCCESS);
  const std::string saved = DeviceText();
  std::filesystem::remove(DeviceFile());
  ASSERT_TRUE(std::filesystem::create_directory(DeviceFile()));

  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Count", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(key, u"Count", 2), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::filesystem::is_directory(DeviceFile())) << "nothing was saved over it";
  std::filesystem::remove(DeviceFile());
  WriteDeviceRegistry(DeviceFile(), saved);
  EXPECT_EQ(QueryDword(key, u"Count"), 1u);
  RegCloseKey(key);
}

}  // namespace
}  // namespace tbm::testing
