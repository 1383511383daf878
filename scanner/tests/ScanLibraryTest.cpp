// The scanner library's exports as the handheld program calls them: reads
// asked for and delivered one at a time, stopped while the program is
// inactive, label texts found in the buffer only where the buffer holds
// them, and the program's registration with the scanner software.
#include <cstring>

#include "LabelBuffer.h"
#include "ScannerTesting.h"

namespace tbm::scan::testing {
namespace {

constexpr DWORD kActive = 1;  // the activation message's "activated" state
constexpr DWORD kInactive = 0;

TEST_F(ScannerTest, WithoutAScannerSetUpEveryExportAnswersNothing) {
  std::uint16_t major = 0, minor = 0, build = 0, revision = 0;
  std::uint32_t flags = 99;
  Exports().version(&major, &minor, &build, &revision, &flags);
  EXPECT_EQ((std::vector<int>{major, minor, build, revision}), (std::vector<int>{2, 1, 1, 17}));
  EXPECT_EQ(flags, 0u);
  Exports().version(nullptr, nullptr, nullptr, nullptr, nullptr);

  EXPECT_EQ(Exports().init(), 0u);
  EXPECT_EQ(RequestRead(), 0u);
  EXPECT_EQ(Exports().stopRead(), 0u);
  EXPECT_EQ(Exports().onActivate(window_, kActive, kTBMScanLabelMessage, 0), 0u);
  EXPECT_EQ(Exports().readLabel(0, 0), nullptr);
  EXPECT_EQ(Exports().exit(), 0u);
  EXPECT_NE(ScannerLogText().find("no scanner SCN1: is set up"), std::string::npos)
      << ScannerLogText();
}

TEST_F(ScannerTest, TwoReadRequestsSubmitOneRead) {
  const fs::path fifo = SetUpFifoScanner();
  ASSERT_EQ(Exports().init(), 1u);
  FifoWriter reader(fifo);
  ASSERT_TRUE(reader.ok());

  EXPECT_EQ(RequestRead(), 1u);
  EXPECT_EQ(RequestRead(), 0u) << "a second request while one is pending";
  ASSERT_TRUE(reader.Write("4006381333931\r\nSECOND-LABEL\r\n"));
  EXPECT_EQ(NextLabel(), "4006381333931");
  EXPECT_EQ(Received().size(), 1u) << "one read, one label; the second waits for the next read";

  EXPECT_EQ(RequestRead(), 1u);
  EXPECT_EQ(NextLabel(), "SECOND-LABEL");
}

TEST_F(ScannerTest, DeactivationStopsReadingAndActivationResumesForTheWindowGiven) {
  const fs::path fifo = SetUpFifoScanner();
  ASSERT_EQ(Exports().init(), 1u);
  FifoWriter reader(fifo);
  ASSERT_TRUE(reader.ok());
  HWND dialog = MakeWindow(u"Find");

  EXPECT_EQ(RequestRead(), 1u);
  EXPECT_EQ(Exports().onActivate(window_, kInactive, kTBMScanLabelMessage, 0), 0u);
  EXPECT_EQ(RequestRead(), 0u) << "suspended while the program is inactive";
  // A second deactivation (the flag with the minimised bit counts as one)
  // keeps it suspended.
  EXPECT_EQ(Exports().onActivate(window_, 0x10001, kTBMScanLabelMessage, 0), 0u);
  EXPECT_EQ(RequestRead(), 0u);

  ASSERT_TRUE(reader.Write("PART-0042\n"));
  EXPECT_EQ(Exports().onActivate(dialog, kActive, kTBMScanLabelMessage, 0), 0u);
  LabelMessage message{};
  EXPECT_EQ(NextLabel(&message), "PART-0042");
  EXPECT_EQ(message.window, dialog);
  EXPECT_EQ(message.wParam, kScnSuccess);
}

TEST_F(ScannerTest, TheLabelIsFoundOnlyWhereTheBufferHoldsIt) {
  const fs::path fifo = SetUpFifoScanner();
  ASSERT_EQ(Exports().init(), 1u);
  FifoWriter reader(fifo);
  ASSERT_TRUE(reader.Write("LOT 7 Straße\n"));
  ASSERT_EQ(RequestRead(), 1u);
  LabelMessage message{};
  ASSERT_EQ(NextLabel(&message), "LOT 7 Straße");

  BYTE* buffer = reinterpret_cast<BYTE*>(message.lParam);
  const std::size_t bytes = LabelBufferBytes(kLabelModeText, kTBMScanLabelUnits);
  auto set = [&](std::size_t offset, std::uint32_t value) {
    std::memcpy(buffer + offset, &value, sizeof value);
  };
  const WCHAR* label = Exports().readLabel(0, message.lParam);
  ASSERT_NE(label, nullptr);

  // A header whose used size does not reach the data offset: byte 124.
  set(kLabelUsedOffset, 12);
  set(kLabelDataOffsetOffset, 400);
  EXPECT_EQ(Exports().readLabel(0, message.lParam), reinterpret_cast<const WCHAR*>(buffer + 124));

  // With the offset in use, the text is read where it says.
  set(kLabelUsedOffset, kLabelHeaderBytes);
  const std::u16string moved = u"MOVED";
  std::memcpy(buffer + 400, moved.c_str(), (moved.size() + 1) * 2);
  EXPECT_EQ(Utf16View(Exports().readLabel(0, message.lParam)), moved);

  // Offsets that lead outside the buffer, to half a character, or to text
  // that runs to the buffer's end without a terminator give nothing.
  set(kLabelDataOffsetOffset, static_cast<std::uint32_t>(bytes));
  EXPECT_EQ(Exports().readLabel(0, message.lParam), nullptr);
  set(kLabelDataOffsetOffset, 0xFFFFFFF0u);
  EXPECT_EQ(Exports().readLabel(0, message.lParam), nullptr);
  set(kLabelDataOffsetOffset, 401);
  EXPECT_EQ(Exports().readLabel(0, message.lParam), nullptr);
  set(kLabelDataOffsetOffset, static_cast<std::uint32_t>(bytes - 8));
  std::memset(buffer + bytes - 8, 'A', 8);
  EXPECT_EQ(Exports().readLabel(0, message.lParam), nullptr);

  // A buffer the library does not hold, and its own after it closed.
  BYTE other[kLabelHeaderBytes + 64] = {};
  EXPECT_EQ(Exports().readLabel(0, reinterpret_cast<LPARAM>(other)), nullptr);
  set(kLabelDataOffsetOffset, kLabelDefaultDataOffset);
  EXPECT_EQ(Exports().exit(), 0u);
  EXPECT_EQ(Exports().readLabel(0, message.lParam), nullptr);
}

TEST_F(ScannerTest, AReadWithATimeoutEndsWithAnEmptyLabel) {
  SetUpFifoScanner();
  ASSERT_EQ(Exports().init(), 1u);
  ASSERT_EQ(Exports().requestRead(window_, kTBMScanLabelMessage, 50), 1u);
  LabelMessage message{};
  EXPECT_EQ(NextLabel(&message), "");
  EXPECT_EQ(message.wParam, kScnStatusReadTimedOut);
  EXPECT_EQ(RequestRead(), 1u) << "the next read can be asked for";
  EXPECT_EQ(Exports().stopRead(), 1u);
  EXPECT_EQ(Exports().stopRead(), 0u) << "a cancellation is outstanding";
}

class ScannerRegistrationTest : public ScannerTest {
 protected:
  void SetUp() override {
    ScannerTest::SetUp();
    SetUpScanner(u"", u"\\My Documents\\Scans");
  }
  void SetCommand(const std::u16string& command) {
    ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, u"tbmfile\\shell\\open\\command", nullptr, command),
              ERROR_SUCCESS);
  }
  std::optional<std::u16string> Registered() {
    return RegGetString(HKEY_CURRENT_USER, u"Software\\Symbol\\ScanApps", u"Tabulon Mobile");
  }
};

TEST_F(ScannerRegistrationTest, TheProgramPathIsRegisteredAsTheOpenCommandGivesIt) {
  SetCommand(u"\"\\Windows\\Tabulon Mobile.exe\" \"%1\"");
  // Without the scanner software's key nothing is registered, nor the key made.
  ASSERT_EQ(Exports().init(), 1u);
  EXPECT_FALSE(RegGetString(HKEY_CURRENT_USER, u"Software\\Symbol\\ScanApps", nullptr));
  HKEY made = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Symbol\\ScanApps", 0, KEY_READ, &made),
            ERROR_FILE_NOT_FOUND);
  Exports().exit();

  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Symbol\\ScanApps", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &made, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(made);
  ASSERT_EQ(Exports().init(), 1u);
  EXPECT_EQ(Registered(), u"\\Windows\\Tabulon Mobile.exe") << "the path with one backslash";

  // Initialising an open library registers again: a host path as it is.
  SetCommand(u"\"/opt/tabulon/bin/Tabulon Mobile\" \"%1\"");
  ASSERT_EQ(Exports().init(), 1u);
  EXPECT_EQ(Registered(), u"/opt/tabulon/bin/Tabulon Mobile");

  // A command without a closing quote, or too long to be read, leaves the
  // registration as it was.
  SetCommand(u"\"\\Windows\\Tabulon Mobile.exe %1");
  ASSERT_EQ(Exports().init(), 1u);
  SetCommand(u"\"\\Windows\\" + std::u16string(300, u'x') + u".exe\" \"%1\"");
  ASSERT_EQ(Exports().init(), 1u);
  EXPECT_EQ(Registered(), u"/opt/tabulon/bin/Tabulon Mobile");
}

}  // namespace
}  // namespace tbm::scan::testing
