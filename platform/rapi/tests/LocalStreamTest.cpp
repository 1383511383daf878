// The remote-invocation stream between a desktop end and a handheld end in
// one process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "LocalStream.h"
#include "RapiStream.h"

namespace {

// Little-endian integers as the conversation writes them.
HRESULT WriteInt32(IRAPIStream* stream, std::int32_t value) {
  BYTE bytes[4];
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<BYTE>(static_cast<std::uint32_t>(value) >> (8 * i));
  ULONG written = 0;
  const HRESULT result = stream->Write(bytes, 4, &written);
  return SUCCEEDED(result) && written == 4 ? S_OK : E_FAIL;
}

std::optional<std::int32_t> ReadInt32(IRAPIStream* stream) {
  BYTE bytes[4];
  if (FAILED(ReadExactly(stream, bytes, 4))) return std::nullopt;
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
  return static_cast<std::int32_t>(value);
}

std::vector<BYTE> Pattern(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<BYTE> bytes(size);
  for (BYTE& byte : bytes) byte = static_cast<BYTE>(random());
  return bytes;
}

// Reads size bytes in reads of varying size.
std::vector<BYTE> ReadInPieces(IRAPIStream* stream, std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<BYTE> all;
  std::vector<BYTE> buffer(70000);
  while (all.size() < size) {
    ULONG got = 0;
    const ULONG ask =
        static_cast<ULONG>(std::min<std::size_t>(1 + random() % buffer.size(), size - all.size()));
    const HRESULT result = stream->Read(buffer.data(), ask, &got);
    if (FAILED(result)) {
      ADD_FAILURE() << DescribeStreamResult(result);
      return all;
    }
    EXPECT_GT(got, 0u);
    EXPECT_LE(got, ask);
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
  return all;
}

// Writes bytes in writes of varying size.
void WriteInPieces(IRAPIStream* stream, const std::vector<BYTE>& bytes, unsigned seed) {
  std::mt19937 random(seed);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ULONG size =
        static_cast<ULONG>(std::min<std::size_t>(1 + random() % 50000, bytes.size() - done));
    ULONG written = 0;
    ASSERT_EQ(stream->Write(bytes.data() + done, size, &written), S_OK);
    ASSERT_EQ(written, size);
    done += size;
  }
}

TEST(LocalStream, CarriesAConversationBetweenTwoThreads) {
  // The shape of one database's synchronisation: a name, a "file ready", a
  // decision, a file in blocks of 1000 bytes, the name echoed, a count.
  LocalStreamPair pair = CreateLocalStreamPair(4096);
  ASSERT_TRUE(pair.desktop && pair.handheld);
  const std::string name = "Kunden.tbm";
  const std::vector<BYTE> file = Pattern(25'300, 1);

  std::string nameOnHandheld;
  std::vector<BYTE> fileOnHandheld;
  std::thread handheld([&, stream = pair.handheld.get()] {
    const auto length = ReadInt32(stream);
    ASSERT_TRUE(length.has_value());
    nameOnHandheld.resize(static_cast<std::size_t>(*length));
    ASSERT_EQ(ReadExactly(stream, nameOnHandheld.data(), static_cast<ULONG>(*length)), S_OK);
    ASSERT_EQ(WriteInt32(stream, 0), S_OK);  // the changes file is ready
    ASSERT_EQ(ReadInt32(stream), 0);         // take the desktop copy
    fileOnHandheld.resize(file.size());
    ASSERT_EQ(ReadExactly(stream, fileOnHandheld.data(), static_cast<ULONG>(file.size())), S_OK);
    ASSERT_EQ(WriteInt32(stream, 6), S_OK);
    ULONG written = 0;
    ASSERT_EQ(stream->Write("\x05Kunde", 6, &written), S_OK);
    ASSERT_EQ(WriteInt32(stream, 3), S_OK);  // records skipped
  });

  IRAPIStream* desktop = pair.desktop.get();
  ASSERT_EQ(WriteInt32(desktop, static_cast<std::int32_t>(name.size())), S_OK);
  ULONG written = 0;
  ASSERT_EQ(desktop->Write(name.data(), static_cast<ULONG>(name.size()), &written), S_OK);
  EXPECT_EQ(ReadInt32(desktop), 0);
  ASSERT_EQ(WriteInt32(desktop, 0), S_OK);
  for (std::size_t at = 0; at < file.size(); at += 1000) {
    const auto block = static_cast<ULONG>(std::min<std::size_t>(1000, file.size() - at));
    ASSERT_EQ(desktop->Write(file.data() + at, block, &written), S_OK);
    EXPECT_EQ(written, block);
  }
  const auto echoLength = ReadInt32(desktop);
  ASSERT_EQ(echoLength, 6);
  char echo[6];
  ASSERT_EQ(ReadExactly(desktop, echo, 6), S_OK);
  EXPECT_EQ(std::string(echo, 6), "\x05Kunde");
  EXPECT_EQ(ReadInt32(desktop), 3);
  handheld.join();
  EXPECT_EQ(nameOnHandheld, name);
  EXPECT_EQ(fileOnHandheld, file);
}

TEST(LocalStream, AReadReturnsWhatHasArrivedWithoutWaitingForMore) {
  LocalStreamPair pair = CreateLocalStreamPair();
  ULONG written = 0;
  ASSERT_EQ(pair.handheld->Write("0123456789", 10, &written), S_OK);
  char buffer[100];
  ULONG read = 0;
  ASSERT_EQ(pair.desktop->Read(buffer, sizeof buffer, &read), S_OK);
  EXPECT_EQ(read, 10u);
  EXPECT_EQ(std::string(buffer, read), "0123456789");
}

TEST(LocalStream, AReadWaitsUntilBytesArrive) {
  LocalStreamPair pair = CreateLocalStreamPair();
  std::string received;
  std::thread reader([&] {
    char buffer[16];
    ULONG read = 0;
    EXPECT_EQ(ReadExactly(pair.desktop.get(), buffer, 5, &read), S_OK);
    received.assign(buffer, read);
  });
  ULONG written = 0;
  ASSERT_EQ(pair.handheld->Write("ab", 2, &written), S_OK);
  ASSERT_EQ(pair.handheld->Write("cde", 3, &written), S_OK);
  reader.join();
  EXPECT_EQ(received, "abcde");
}

TEST(LocalStream, AfterTheOtherEndIsReleasedItsBytesAreReadThenTheStreamEnds) {
  LocalStreamPair pair = CreateLocalStreamPair();
  ULONG written = 0;
  ASSERT_EQ(pair.handheld->Write("hello", 5, &written), S_OK);
  pair.handheld.reset();

  char buffer[16];
  ULONG read = 0;
  ASSERT_EQ(pair.desktop->Read(buffer, 3, &read), S_OK);
  EXPECT_EQ(std::string(buffer, read), "hel");
  EXPECT_EQ(ReadExactly(pair.desktop.get(), buffer, 10, &read), RAPI_E_SHORT_READ);
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(std::string(buffer, read), "lo");
  EXPECT_EQ(pair.desktop->Read(buffer, 10, &read), RAPI_E_STREAM_ENDED);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(ReadExactly(pair.desktop.get(), buffer, 4, &read), RAPI_E_STREAM_ENDED);
  EXPECT_EQ(pair.desktop->Write("x", 1, &written), RAPI_E_STREAM_BROKEN);
  EXPECT_EQ(written, 0u);
}

TEST(LocalStream, ReleasingAnEndWakesAReaderWaitingAtTheOther) {
  LocalStreamPair pair = CreateLocalStreamPair();
  HRESULT result = S_OK;
  ULONG read = 99;
  std::thread reader([&] {
    char buffer[4];
    result = pair.desktop->Read(buffer, 4, &read);
  });
  pair.handheld.reset();
  reader.join();
  EXPECT_EQ(result, RAPI_E_STREAM_ENDED);
  EXPECT_EQ(read, 0u);
}

TEST(LocalStream, ReleasingAnEndWakesAWriterWaitingForRoomAtTheOther) {
  LocalStreamPair pair = CreateLocalStreamPair(16);
  HRESULT result = S_OK;
  ULONG written = 0;
  const std::vector<BYTE> bytes = Pattern(100, 2);
  std::thread writer([&] { result = pair.desktop->Write(bytes.data(), 100, &written); });
  BYTE first[4];
  ASSERT_EQ(ReadExactly(pair.handheld.get(), first, 4), S_OK);  // the writer has begun
  pair.handheld.reset();
  writer.join();
  EXPECT_EQ(result, RAPI_E_STREAM_BROKEN);
  EXPECT_GE(written, 16u);
  EXPECT_LT(written, 100u);
}

TEST(LocalStream, AReadTimeoutEndsAWaitForBytesThatDoNotCome) {
  LocalStreamPair pair = CreateLocalStreamPair();
  ASSERT_EQ(pair.desktop->SetRapiStat(STREAM_TIMEOUT_READ, 20), S_OK);
  DWORD timeout = 0;
  ASSERT_EQ(pair.desktop->GetRapiStat(STREAM_TIMEOUT_READ, &timeout), S_OK);
  EXPECT_EQ(timeout, 20u);
  char buffer[4];
  ULONG read = 7;
  EXPECT_EQ(pair.desktop->Read(buffer, 4, &read), RAPI_E_TIMEOUT);
  EXPECT_EQ(read, 0u);
  // The stream is still good for bytes that do come.
  ULONG written = 0;
  ASSERT_EQ(pair.handheld->Write("ok", 2, &written), S_OK);
  EXPECT_EQ(ReadExactly(pair.desktop.get(), buffer, 2, &read), S_OK);
  EXPECT_EQ(std::string(buffer, 2), "ok");
}

TEST(LocalStream, AWriteTimeoutEndsAWaitForRoomThatDoesNotCome) {
  LocalStreamPair pair = CreateLocalStreamPair(8);
  ASSERT_EQ(pair.desktop->SetRapiStat(STREAM_TIMEOUT_WRITE, 20), S_OK);
  const std::vector<BYTE> bytes = Pattern(20, 3);
  ULONG written = 0;
  EXPECT_EQ(pair.desktop->Write(bytes.data(), 20, &written), RAPI_E_TIMEOUT);
  EXPECT_EQ(written, 8u);
  BYTE received[8];
  ASSERT_EQ(ReadExactly(pair.handheld.get(), received, 8), S_OK);
  EXPECT_TRUE(std::equal(received, received + 8, bytes.begin()));
}

TEST(LocalStream, LargeTransfersArriveIntactInBothDirectionsAtOnce) {
  LocalStreamPair pair = CreateLocalStreamPair(4096);
  const std::vector<BYTE> up = Pattern(6 << 20, 4);
  const std::vector<BYTE> down = Pattern(5 << 20, 5);
  std::vector<BYTE> upReceived;
  std::vector<BYTE> downReceived;
  // Each end is written by one thread and read by another at the same time.
  std::thread handheldWriter([&] { WriteInPieces(pair.handheld.get(), up, 6); });
  std::thread handheldReader(
      [&] { downReceived = ReadInPieces(pair.handheld.get(), down.size(), 7); });
  std::thread desktopReader([&] { upReceived = ReadInPieces(pair.desktop.get(), up.size(), 8); });
  WriteInPieces(pair.desktop.get(), down, 9);
  handheldWriter.join();
  handheldReader.join();
  desktopReader.join();
  EXPECT_EQ(upReceived.size(), up.size());
  EXPECT_TRUE(upReceived == up);
  EXPECT_EQ(downReceived.size(), down.size());
  EXPECT_TRUE(downReceived == down);
}

TEST(LocalStream, AnEndStaysOpenUntilItsLastReferenceGoes) {
  LocalStreamPair pair = CreateLocalStreamPair();
  EXPECT_EQ(pair.handheld->AddRef(), 2u);
  EXPECT_EQ(pair.handheld->Release(), 1u);
  ULONG written = 0;
  EXPECT_EQ(pair.desktop->Write("still", 5, &written), S_OK) << "the handheld end is open";
  EXPECT_EQ(pair.handheld.release()->Release(), 0u);
  EXPECT_EQ(pair.desktop->Write("gone", 4, &written), RAPI_E_STREAM_BROKEN);
}

TEST(LocalStream, BadArgumentsAreRefused) {
  LocalStreamPair pair = CreateLocalStreamPair();
  ULONG count = 5;
  EXPECT_EQ(pair.desktop->Read(nullptr, 4, &count), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(pair.desktop->Write(nullptr, 4, &count), E_INVALIDARG);
  EXPECT_EQ(pair.desktop->Read(nullptr, 0, &count), S_OK) << "nothing asked, nothing waited for";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(pair.desktop->Write("", 0, nullptr), S_OK);
  EXPECT_EQ(pair.desktop->SetRapiStat(static_cast<RAPISTREAMFLAG>(7), 1), E_INVALIDARG);
  EXPECT_EQ(pair.desktop->GetRapiStat(STREAM_TIMEOUT_READ, nullptr), E_INVALIDARG);
  EXPECT_EQ(ReadExactly(nullptr, &count, 4), E_INVALIDARG);
}

// An exported function of the shape the handheld agent has: answers through
// the stream and releases it before it returns.
HRESULT ListTwoNames(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                     IRAPIStream* stream) {
  RapiStreamPtr owned(stream);
  if (pcbOutput != nullptr) *pcbOutput = 0;
  if (ppOutput != nullptr) *ppOutput = nullptr;
  if (cbInput != 4 || pInput == nullptr) return E_INVALIDARG;
  if (FAILED(WriteInt32(stream, 2))) return S_OK;
  ULONG written = 0;
  stream->Write("Kunden\0Artikel\0", 15, &written);
  return S_OK;
}

TEST(LocalStream, AnInvokedFunctionTalksThroughItsEndAndReleasesIt) {
  const RapiInvokeFunction function = ListTwoNames;
  LocalStreamPair pair = CreateLocalStreamPair();
  BYTE input[4] = {0, 0, 0, 0};
  DWORD outputSize = 99;
  BYTE* output = input;
  HRESULT result = E_FAIL;
  std::thread handheld([&, stream = pair.handheld.release()] {
    result = function(4, input, &outputSize, &output, stream);
  });
  EXPECT_EQ(ReadInt32(pair.desktop.get()), 2);
  char names[15];
  ASSERT_EQ(ReadExactly(pair.desktop.get(), names, 15), S_OK);
  EXPECT_EQ(std::string(names, 15), std::string("Kunden\0Artikel\0", 15));
  char more;
  ULONG read = 0;
  EXPECT_EQ(pair.desktop->Read(&more, 1, &read), RAPI_E_STREAM_ENDED) << "it released its end";
  handheld.join();
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(outputSize, 0u);
  EXPECT_EQ(output, nullptr);
}

TEST(LocalStream, StreamFailuresAreDescribedInWords) {
  for (const HRESULT result :
       {RAPI_E_STREAM_ENDED, RAPI_E_SHORT_READ, RAPI_E_TIMEOUT, RAPI_E_STREAM_BROKEN}) {
    const std::string text = DescribeStreamResult(result);
    EXPECT_NE(text.find("other side"), std::string::npos) << text;
  }
  EXPECT_STRNE(DescribeStreamResult(RAPI_E_STREAM_ENDED), DescribeStreamResult(RAPI_E_TIMEOUT));
}

}  // namespace
