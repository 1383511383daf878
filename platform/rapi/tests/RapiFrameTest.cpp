// The frame reader and the payload reader distrust every length.
#include <gtest/gtest.h>

#include "RapiFrame.h"

namespace tbm::rapi {
namespace {

std::vector<std::uint8_t> SampleFrame() {
  const std::vector<std::uint8_t> payload = PayloadWriter()
                                                .U32(0x01020304)
                                                .String(u"\\My Documents\\Sales.tbm")
                                                .Bytes(std::vector<std::uint8_t>{9, 8, 7})
                                                .U64(0x1122334455667788ull)
                                                .Take();
  return WriteFrame(static_cast<std::uint16_t>(RapiCall::kGetTempPath), 42, payload);
}

TEST(RapiFrameTest, AFrameReadsBackValueByValue) {
  const std::vector<std::uint8_t> bytes = SampleFrame();
  Frame frame;
  std::size_t used = 0;
  ASSERT_TRUE(ParseFrame(bytes, &frame, &used).ok());
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(frame.header.call, static_cast<std::uint16_t>(RapiCall::kGetTempPath));
  EXPECT_EQ(frame.header.requestId, 42u);
  PayloadReader reader(frame.payload);
  std::uint32_t number = 0;
  std::u16string path;
  std::vector<std::uint8_t> block;
  std::uint64_t wide = 0;
  EXPECT_TRUE(reader.U32(&number) && reader.String(&path) && reader.Bytes(&block) &&
              reader.U64(&wide) && reader.End())
      << reader.status().message();
  EXPECT_EQ(number, 0x01020304u);
  EXPECT_EQ(path, u"\\My Documents\\Sales.tbm");
  EXPECT_EQ(block, (std::vector<std::uint8_t>{9, 8, 7}));
  EXPECT_EQ(wide, 0x1122334455667788ull);
}

TEST(RapiFrameTest, AFrameCutAtAnyByteIsRefusedAsTruncated) {
  const std::vector<std::uint8_t> bytes = SampleFrame();
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    Frame frame;
    std::size_t used = 0;
    const Status status =
        ParseFrame(std::span<const std::uint8_t>(bytes.data(), cut), &frame, &used);
    EXPECT_EQ(status.code(), StatusCode::kTruncated) << "cut at " << cut;
    EXPECT_EQ(used, 0u);
  }
}

TEST(RapiFrameTest, LengthsBeyondTheFrameOrTheLimitAreRefusedInWords) {
  std::vector<std::uint8_t> bytes = SampleFrame();
  Frame frame;
  std::size_t used = 0;
  // A payload length past the limit.
  std::vector<std::uint8_t> huge = bytes;
  huge[12] = huge[13] = huge[14] = huge[15] = 0xFF;
  Status status = ParseFrame(huge, &frame, &used);
  EXPECT_EQ(status.code(), StatusCode::kBadLength);
  EXPECT_NE(status.message().find("more than the"), std::string::npos) << status.message();
  // A wrong magic number and an unknown version.
  std::vector<std::uint8_t> other = bytes;
  other[0] = 'X';
  EXPECT_EQ(ParseFrame(other, &frame, &used).code(), StatusCode::kCorrupt);
  other = bytes;
  other[4] = 9;
  EXPECT_NE(ParseFrame(other, &frame, &used).message().find("version 9"), std::string::npos);

  // A string whose count runs past the payload, a block longer than allowed,
  // and bytes left over.
  const std::vector<std::uint8_t> longString = PayloadWriter().U32(1000).U16('a').Take();
  PayloadReader strings(longString);
  std::u16string text;
  EXPECT_FALSE(strings.String(&text));
  EXPECT_EQ(strings.status().code(), StatusCode::kTruncated);
  EXPECT_NE(strings.status().message().find("value 1"), std::string::npos);
  std::uint32_t later = 7;
  EXPECT_FALSE(strings.U32(&later));
  EXPECT_EQ(later, 7u);

  const std::vector<std::uint8_t> block =
      PayloadWriter().Bytes(std::vector<std::uint8_t>(10)).Take();
  PayloadReader blocks(block);
  std::vector<std::uint8_t> out;
  EXPECT_FALSE(blocks.Bytes(&out, 4));
  EXPECT_EQ(blocks.status().code(), StatusCode::kBadLength);

  const std::vector<std::uint8_t> extra = PayloadWriter().U32(1).U16(2).Take();
  PayloadReader rest(extra);
  std::uint32_t first = 0;
  EXPECT_TRUE(rest.U32(&first));
  EXPECT_FALSE(rest.End());
  EXPECT_EQ(rest.status().code(), StatusCode::kCorrupt);
}

}  // namespace
}  // namespace tbm::rapi
