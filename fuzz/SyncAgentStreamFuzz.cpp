// What the desktop sends the sync agent's SyncDatabase for an existing
// database, ahead of (and into) the desktop's copy: the name's length, the
// name, the decision word. The handheld holds one database, Sales, made by
// the agent itself from a desktop copy once per process and put back before
// each input. The input is the whole stream from the desktop, which then
// waits without a word more; the agent reads it through its own export, as
// the connection service calls it.
//
// Beyond ending cleanly: when the stream names Sales and the desktop does
// not ask for its copy to be taken (a decision whose low word is not 0, or
// no decision at all), Sales must still open with both its records; in
// every other case it opens or is refused as inconsistent, never as
// damaged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "ByteStream.h"
#include "DevicePath.h"
#include "ExchangeFile.h"
#include "FuzzScratch.h"
#include "LocalStream.h"
#include "MDb.h"

extern "C" HRESULT SyncDatabase(DWORD inputBytes, BYTE* input, DWORD* outputBytes, BYTE** output,
                                IRAPIStream* stream);

namespace {

using namespace tbm::sync;

constexpr char16_t kSalesPath[] = u"\\My Documents\\Tabulon\\Sales.tbm";
constexpr std::uint32_t kSalesRecords = 2;

// Hands the agent's SyncDatabase the desktop's bytes in the given mode (0
// an existing database, 1 a new one) and waits for it to end.
void Converse(std::uint8_t mode, const std::uint8_t* bytes, std::size_t size) {
  LocalStreamPair pair = CreateLocalStreamPair(1u << 22);
  if (!pair.desktop || !pair.handheld) std::abort();
  ULONG written = 0;
  if (size > 0) pair.desktop->Write(bytes, static_cast<ULONG>(size), &written);
  // The desktop has said all it will say, but stays to hear the agent: a
  // read past its bytes fails at once.
  pair.handheld->SetRapiStat(STREAM_TIMEOUT_READ, 0);
  BYTE input[4] = {mode, 0, 0, 0};
  DWORD outputBytes = 0;
  BYTE* output = nullptr;
  SyncDatabase(4, input, &outputBytes, &output, pair.handheld.release());
}

std::string SalesHostPath() {
  static const std::string path = [] {
    const auto& root = tbm::fuzz::ScratchFolder("tbm-agent-stream-fuzz-");
    ::setenv("TBM_DEVICE_ROOT", root.c_str(), 1);
    return tbm::HostPathFromDevicePath(kSalesPath).hostPath;
  }();
  return path;
}

void RemoveSales() {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::filesystem::remove(SalesHostPath() + suffix, ignored);
  }
}

// Sales as the agent made it from the desktop's copy, as bytes.
const std::vector<char>& PristineSales() {
  static const std::vector<char> bytes = [] {
    RemoveSales();
    std::unique_ptr<AnsiCodePage> page;
    if (!AnsiCodePage::Open("1252", &page).ok()) std::abort();
    ExchangeLayout layout;
    layout.header.name = "Sales";
    layout.header.dateSeparator = '/';
    layout.header.timeSeparator = ':';
    layout.fields = {{1, "Customer", "C-CUST", 0, 0, -1}, {2, "Amount", "C-AMT", 0, 0, -1}};
    layout.header.fieldCount = 2;
    layout.header.recordCount = kSalesRecords;
    MemoryByteSink sink;
    ExchangeWriter writer(sink, *page);
    writer.WriteLayout(layout);
    const std::vector<std::string> rows[] = {{"Ann", "10"}, {"Bo", "250"}};
    std::uint8_t n = 0;
    for (const std::vector<std::string>& row : rows) {
      RecordHeader header;
      header.changeCode = kChangeNew;
      header.identity = {1, ++n};
      writer.WriteRecord(header, row);
    }
    writer.Finish();
    Converse(1, sink.bytes().data(), sink.bytes().size());
    std::ifstream in(SalesHostPath(), std::ios::binary);
    std::vector<char> read((std::istreambuf_iterator<char>(in)), {});
    if (read.empty()) std::abort();
    return read;
  }();
  return bytes;
}

std::int32_t LoadInt32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(at[0] | (at[1] << 8) | (at[2] << 16) |
                                   (static_cast<std::uint32_t>(at[3]) << 24));
}

// Whether the stream names Sales and leaves the handheld's data alone.
bool KeepsSales(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return false;
  const std::int32_t length = LoadInt32(data);
  if (length < 1 || length > 260 || size < 4 + static_cast<std::size_t>(length)) return false;
  const std::string name(reinterpret_cast<const char*>(data + 4),
                         strnlen(reinterpret_cast<const char*>(data + 4), length));
  if (name != "Sales") return false;
  const std::size_t decision = 4 + static_cast<std::size_t>(length);
  return size < decision + 4 || (LoadInt32(data + decision) & 0xFFFF) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<char>& pristine = PristineSales();
  RemoveSales();
  {
    std::ofstream out(SalesHostPath(), std::ios::binary);
    out.write(pristine.data(), static_cast<std::streamsize>(pristine.size()));
  }
  Converse(0, data, size);

  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 0);
  const std::int32_t opened = MDbAgentOpenDb(&env, kSalesPath);
  if (opened == MDbErrNone) {
    std::uint32_t count = 0;
    MDbDataTblGetRecCount(&env, &env.ref, &env.data, &count);
    if (KeepsSales(data, size) && count != kSalesRecords) std::abort();
    MDbAgentCloseDb(&env);
  } else if (KeepsSales(data, size) || (opened != MDbErrInconsistent && opened != MDbErrNoFields)) {
    std::abort();
  }
  MDbShutdown(&env);
  return 0;
}
