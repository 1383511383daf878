// The device's scanner interface on its own, by ordinal as the scanner
// library calls it: handles, buffers and reads kept straight whatever order
// the calls come in, and a label that does not fit its buffer.
#include <cstring>

#include "LabelBuffer.h"
#include "ScanParameters.h"
#include "ScannerTesting.h"

namespace tbm::scan::testing {
namespace {

class ScannerInterfaceTest : public ScannerTest {
 protected:
  void SetUp() override {
    ScannerTest::SetUp();
    library_ =
        dlopen((tbm::testing::ProgramFolder() / "ScnAPI32.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    byOrdinal_ = reinterpret_cast<ScnProc (*)(DWORD)>(dlsym(library_, "ScnApiProcByOrdinal"));
    ASSERT_NE(byOrdinal_, nullptr);
  }
  void TearDown() override {
    if (handle_ != 0) Call<ScnCloseProc>(kScnOrdinalClose)(handle_);
    ScannerTest::TearDown();
    if (library_ != nullptr) dlclose(library_);
  }

  template <typename Proc>
  Proc Call(DWORD ordinal) {
    return reinterpret_cast<Proc>(byOrdinal_(ordinal));
  }

  void* library_ = nullptr;
  ScnProc (*byOrdinal_)(DWORD) = nullptr;
  DWORD handle_ = 0;
};

TEST_F(ScannerInterfaceTest, HandlesBuffersAndReadsStayStraightWhateverTheOrderOfCalls) {
  SetUpFifoScanner();
  const auto open = Call<ScnOpenProc>(kScnOrdinalOpen);
  const auto close = Call<ScnCloseProc>(kScnOrdinalClose);
  const auto allocate = Call<ScnAllocateBufferProc>(kScnOrdinalAllocateBuffer);
  const auto free = Call<ScnFreeBufferProc>(kScnOrdinalFreeBuffer);
  const auto submit = Call<ScnReadLabelMessageProc>(kScnOrdinalReadLabelMessage);
  const auto cancel = Call<ScnCancelReadProc>(kScnOrdinalCancelRead);
  EXPECT_EQ(byOrdinal_(99), nullptr);

  DWORD other = 0;
  EXPECT_EQ(open(u"SCN1", &other), kScnErrorBadParameter);
  EXPECT_EQ(open(u"SCN2:", &other), kScnErrorNoDevice);
  ASSERT_EQ(open(u"SCN1:", &handle_), kScnSuccess);
  EXPECT_EQ(open(u"scn1:", &other), kScnErrorDeviceBusy);

  EXPECT_EQ(allocate(7, 16), nullptr);
  EXPECT_EQ(allocate(kLabelModeText, 0), nullptr);
  EXPECT_EQ(allocate(kLabelModeText, 0x7FFFFFFF), nullptr);
  BYTE* buffer = allocate(kLabelModeText, 64);
  ASSERT_NE(buffer, nullptr);
  BYTE foreign[kLabelHeaderBytes + 128] = {};
  EXPECT_EQ(free(foreign), kScnErrorBadParameter);

  EXPECT_EQ(submit(handle_, buffer, window_, kTBMScanLabelMessage, 0, nullptr),
            kScnErrorNotEnabled);
  ASSERT_EQ(Call<ScnEnableProc>(kScnOrdinalEnable)(handle_), kScnSuccess);
  EXPECT_EQ(submit(handle_, buffer, nullptr, kTBMScanLabelMessage, 0, nullptr),
            kScnErrorBadParameter);
  EXPECT_EQ(submit(handle_, foreign, window_, kTBMScanLabelMessage, 0, nullptr),
            kScnErrorBadParameter);
  DWORD request = 0;
  ASSERT_EQ(submit(handle_, buffer, window_, kTBMScanLabelMessage, 0, &request), kScnSuccess);
  EXPECT_NE(request, 0u);
  const std::span<const BYTE> view(buffer, LabelBufferBytes(kLabelModeText, 64));
  EXPECT_TRUE(LabelReadPending(view));
  EXPECT_EQ(submit(handle_, buffer, window_, kTBMScanLabelMessage, 0, nullptr),
            kScnErrorReadPending);
  EXPECT_EQ(free(buffer), kScnErrorBufferInUse) << "a pending read holds it";
  EXPECT_EQ(cancel(handle_), kScnSuccess);
  EXPECT_EQ(LabelStatus(view), kScnStatusReadCancelled);
  EXPECT_EQ(cancel(handle_), kScnErrorNoReadPending);
  EXPECT_EQ(free(buffer), kScnSuccess);

  // The scan type round trip, and what the record has room for.
  ScanParameterRecord record;
  ASSERT_EQ(Call<ScnGetScanParametersProc>(kScnOrdinalGetScanParameters)(handle_, record.data()),
            kScnSuccess);
  EXPECT_EQ(record.Member(kScanTypeOffset), kScanTypeForeground);
  record.SetMember(kScanTypeOffset, 3);
  const auto set = Call<ScnSetScanParametersProc>(kScnOrdinalSetScanParameters);
  EXPECT_EQ(set(handle_, record.data()), kScnErrorBadParameter);
  record.SetMember(kScanTypeOffset, kScanTypeBackground);
  EXPECT_EQ(set(handle_, record.data()), kScnSuccess);
  ScanParameterRecord small;
  const std::uint32_t room = 12;
  std::memcpy(small.data() + kScanAllocatedOffset, &room, sizeof room);
  ASSERT_EQ(Call<ScnGetScanParametersProc>(kScnOrdinalGetScanParameters)(handle_, small.data()),
            kScnSuccess);
  EXPECT_EQ(small.Member(kScanTypeOffset), std::nullopt) << "no room for the scan type";

  const ScnReaderNote bad{1, kTBMScanLabelMessage, 0, 1};
  EXPECT_EQ(Call<ScnNoteReaderProc>(kScnOrdinalNoteReader)(handle_, &bad), kScnErrorBadParameter);

  EXPECT_EQ(close(handle_), kScnSuccess);
  EXPECT_EQ(close(handle_), kScnErrorBadHandle);
  handle_ = 0;
  ASSERT_EQ(open(u"SCN1:", &handle_), kScnSuccess) << "closed scanners can be opened again";
}

TEST_F(ScannerInterfaceTest, ALabelLongerThanTheBufferEndsTheReadWithoutIt) {
  const fs::path fifo = SetUpFifoScanner();
  ASSERT_EQ(Call<ScnOpenProc>(kScnOrdinalOpen)(u"SCN1:", &handle_), kScnSuccess);
  ASSERT_EQ(Call<ScnEnableProc>(kScnOrdinalEnable)(handle_), kScnSuccess);
  BYTE* buffer = Call<ScnAllocateBufferProc>(kScnOrdinalAllocateBuffer)(kLabelModeText, 8);
  ASSERT_NE(buffer, nullptr);
  const std::span<const BYTE> view(buffer, LabelBufferBytes(kLabelModeText, 8));
  FifoWriter reader(fifo);
  ASSERT_TRUE(reader.Write("0123456789ABC\nSHORT\n"));
  const auto submit = Call<ScnReadLabelMessageProc>(kScnOrdinalReadLabelMessage);

  ASSERT_EQ(submit(handle_, buffer, window_, kTBMScanLabelMessage, 0, nullptr), kScnSuccess);
  ASSERT_TRUE(PumpUntil([] { return Received().size() == 1; }));
  EXPECT_EQ(Received()[0].wParam, kScnStatusLabelTooLong);
  EXPECT_EQ(Utf16View(LabelText(view)), u"");

  ASSERT_EQ(submit(handle_, buffer, window_, kTBMScanLabelMessage, 0, nullptr), kScnSuccess);
  ASSERT_TRUE(PumpUntil([] { return Received().size() == 2; }));
  EXPECT_EQ(Received()[1].wParam, kScnSuccess);
  EXPECT_EQ(Utf16View(LabelText(view)), u"SHORT");
  EXPECT_EQ(Call<ScnCloseProc>(kScnOrdinalClose)(handle_), kScnSuccess);
  handle_ = 0;
  EXPECT_EQ(Call<ScnFreeBufferProc>(kScnOrdinalFreeBuffer)(buffer), kScnSuccess);
}

}  // namespace
}  // namespace tbm::scan::testing
