// The desktop's file calls on the handheld through the real device
// connection service: files written and read back across many exchanges,
// folders listed and made, and the paths and handles the handheld refuses.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "DeviceLinkFixture.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 4099) & 0xFF);
  return bytes;
}

std::vector<std::uint8_t> HostBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

HANDLE Handle(std::uintptr_t number) { return reinterpret_cast<HANDLE>(number); }

class DeviceFilesTest : public DeviceLinkTest {
 protected:
  fs::path Documents() const { return device_.path() / "My Documents"; }
};

TEST_F(DeviceFilesTest, AFileMovesBothWaysInManyExchangesAndTheFolderListsAndChanges) {
  std::unique_ptr<Service> service = Connect();
  const std::vector<std::uint8_t> content = Pattern(3 * 1024 * 1024 + 12345);

  HANDLE file = CeCreateFile(u"\\my documents\\Stock.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << RapiFailureText();
  DWORD written = 0;
  ASSERT_TRUE(
      CeWriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr))
      << RapiFailureText();
  EXPECT_EQ(written, content.size());
  // Write-only: reading is the handheld's refusal, kept for CeGetLastError.
  std::uint8_t one = 0;
  DWORD got = 99;
  EXPECT_FALSE(CeReadFile(file, &one, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(CeGetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CeRapiGetError(), S_OK);
  EXPECT_TRUE(CeCloseHandle(file));
  EXPECT_EQ(HostBytes(Documents() / "Stock.bin"), content);

  file = CeCreateFile(u"\\My Documents\\STOCK.BIN", GENERIC_READ, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << RapiFailureText();
  DWORD high = 7;
  EXPECT_EQ(CeGetFileSize(file, &high), content.size());
  EXPECT_EQ(high, 0u);
  std::vector<std::uint8_t> back(content.size() + 100, 0xEE);
  ASSERT_TRUE(CeReadFile(file, back.data(), static_cast<DWORD>(back.size()), &got, nullptr))
      << RapiFailureText();
  EXPECT_EQ(got, content.size());
  back.resize(got);
  EXPECT_EQ(back, content);
  EXPECT_TRUE(CeReadFile(file, back.data(), 10, &got, nullptr));  // at the end: nothing
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(CeCloseHandle(file));

  ASSERT_TRUE(CeCreateDirectory(u"\\My Documents\\Reports", nullptr)) << RapiFailureText();
  EXPECT_TRUE(fs::is_directory(Documents() / "Reports"));
  EXPECT_FALSE(CeCreateDirectory(u"\\My Documents\\reports", nullptr));
  EXPECT_EQ(CeGetLastError(), ERROR_ALREADY_EXISTS);
  file = CeCreateFile(u"\\My Documents\\notes.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                      nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeGetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(CeCloseHandle(file));
  file = CeCreateFile(u"\\My Documents\\notes.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                      nullptr);
  EXPECT_EQ(CeGetLastError(), ERROR_ALREADY_EXISTS);  // there before; emptied again
  EXPECT_TRUE(CeCloseHandle(file));

  CE_FIND_DATA entry{};
  HANDLE find = CeFindFirstFile(u"\\My Documents\\*", &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << RapiFailureText();
  std::vector<std::string> names{Utf16ToUtf8(entry.cFileName)};
  EXPECT_EQ(names[0], "notes.txt");
  EXPECT_EQ(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(entry.nFileSizeLow, 0u);
  EXPECT_NE(entry.ftLastWriteTime.dwHighDateTime, 0u);
  while (CeFindNextFile(find, &entry)) {
    names.push_back(Utf16ToUtf8(entry.cFileName));
    if (names.back() == "Reports") {
      EXPECT_NE(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    if (names.back() == "Stock.bin") {
      EXPECT_EQ(entry.nFileSizeLow, content.size());
    }
  }
  EXPECT_EQ(CeGetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_EQ(CeRapiGetError(), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"notes.txt", "Reports", "Stock.bin"}));
  EXPECT_TRUE(CeFindClose(find));
  EXPECT_EQ(CeFindFirstFile(u"\\My Documents\\*.tbm", &entry), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeGetLastError(), ERROR_FILE_NOT_FOUND);

  EXPECT_TRUE(CeDeleteFile(u"\\My Documents\\stock.bin")) << RapiFailureText();
  EXPECT_FALSE(fs::exists(Documents() / "Stock.bin"));
  EXPECT_FALSE(CeDeleteFile(u"\\My Documents\\Stock.bin"));
  EXPECT_EQ(CeGetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

TEST_F(DeviceFilesTest, PathsOutsideTheDeviceRootAndHandlesNotOpenAreRefused) {
  std::unique_ptr<Service> service = Connect();
  // Host paths, a way up, and a link leading out: refused, nothing made.
  const fs::path outside = desktop_.path() / "outside";
  fs::create_directory(outside);
  std::ofstream(outside / "keep.txt") << "desktop data";
  const std::u16string hostFile = Utf8ToUtf16((outside / "made.txt").string());
  EXPECT_EQ(CeCreateFile(hostFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeGetLastError(), ERROR_ACCESS_DENIED);
  const std::u16string hostFolder = Utf8ToUtf16((outside / "made").string());
  EXPECT_FALSE(CeCreateDirectory(hostFolder.c_str(), nullptr));
  EXPECT_EQ(CeGetLastError(), ERROR_ACCESS_DENIED);
  const std::u16string kept = Utf8ToUtf16((outside / "keep.txt").string());
  EXPECT_FALSE(CeDeleteFile(kept.c_str()));
  const std::u16string listing = Utf8ToUtf16((outside / "*").string());
  CE_FIND_DATA entry{};
  EXPECT_EQ(CeFindFirstFile(listing.c_str(), &entry), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeGetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CeCreateDirectory(u"\\..\\made", nullptr));
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_NAME);
  fs::create_directory_symlink(outside, device_.path() / "Link");
  EXPECT_EQ(CeCreateFile(u"\\Link\\made.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeGetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CeRapiGetError(), S_OK);
  std::vector<std::string> left;
  for (const auto& item : fs::directory_iterator(outside)) left.push_back(item.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"keep.txt"});
  EXPECT_FALSE(fs::exists(desktop_.path().parent_path() / "made"));

  // A handle never given, one of another kind, one closed.
  std::uint8_t buffer[16];
  DWORD got = 0;
  EXPECT_FALSE(CeReadFile(Handle(4242), buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CeGetFileSize(Handle(0xFFFFFFFF12ull), nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  HANDLE file = CeCreateFile(u"\\Temp\\scratch.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << RapiFailureText();
  HANDLE find = CeFindFirstFile(u"\\Temp\\*", &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << RapiFailureText();
  EXPECT_FALSE(CeReadFile(find, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CeFindNextFile(file, &entry));
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CeFindClose(file));
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CeWriteFile(file, "still open", 10, nullptr, nullptr));
  EXPECT_TRUE(CeCloseHandle(find));  // closes any kind of handle
  EXPECT_FALSE(CeFindNextFile(find, &entry));
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CeCloseHandle(file));
  EXPECT_FALSE(CeCloseHandle(file));
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(HostBytes(device_.path() / "Temp" / "scratch.txt").size(), 10u);
  // Arguments wrong before anything is sent.
  EXPECT_FALSE(CeReadFile(file, nullptr, 10, &got, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CeRapiGetError(), S_OK);
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

// The position of the service's open descriptor on hostPath, or -1.
long long ServicePosition(pid_t pid, const fs::path& hostPath) {
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& item : fs::directory_iterator(fds, error)) {
    std::error_code linkError;
    if (fs::read_symlink(item.path(), linkError) != hostPath) continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" +
                       item.path().filename().string());
    std::string key;
    long long position = -1;
    while (info >> key) {
      if (key == "pos:" && info >> position) return position;
    }
  }
  return -1;
}

TEST_F(DeviceFilesTest, AServiceKilledInTheMiddleOfALongReadFailsTheReadAtOnce) {
  std::unique_ptr<Service> service = Connect();
  const fs::path big = device_.path() / "Temp" / "big.bin";
  constexpr std::uint64_t kSize = 96ull * 1024 * 1024;
  fs::create_directories(big.parent_path());
  { std::ofstream(big, std::ios::binary).flush(); }
  fs::resize_file(big, kSize);  // sparse: quick to make, slow enough to send
  HANDLE file =
      CeCreateFile(u"\\Temp\\big.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << RapiFailureText();

  // Killed once the service has served the first exchange and long before
  // it could serve the last.
  const pid_t pid = service->pid();
  std::atomic<long long> killedAt{-1};
  const fs::path hostPath = fs::canonical(big);
  std::thread killer([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      const long long position = ServicePosition(pid, hostPath);
      if (position >= static_cast<long long>(kMaxFileChunkBytes)) {
        ::kill(pid, SIGKILL);
        killedAt = position;
        return;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::vector<std::uint8_t> buffer(kSize);
  DWORD got = 0;
  const auto started = std::chrono::steady_clock::now();
  const BOOL read = CeReadFile(file, buffer.data(), static_cast<DWORD>(kSize), &got, nullptr);
  killer.join();
  ASSERT_GE(killedAt.load(), 0) << "the read was not seen on the handheld";
  ASSERT_LT(killedAt.load(), static_cast<long long>(kSize) - 8 * kMaxFileChunkBytes);
  EXPECT_FALSE(read);
  EXPECT_LT(got, kSize);
  EXPECT_EQ(got % kMaxFileChunkBytes, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(CeRapiGetError(), RAPI_E_STREAM_BROKEN) << RapiFailureText();
  EXPECT_FALSE(RapiFailureText().empty());
  // The connection is gone; the next call says so at once.
  EXPECT_EQ(CeGetFileSize(file, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(CeRapiGetError(), RAPI_E_NOT_CONNECTED);
  service->End(SIGKILL);
}

}  // namespace
}  // namespace tbm::rapi
