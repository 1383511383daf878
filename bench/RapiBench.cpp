// A 10 MB file copied from the handheld with CeReadFile, through the real
// device connection service (tbm-devicelink run on fresh roots, paired,
// over the protected channel on loopback), beside the same bytes read from
// the same file and sent over a plain TCP connection on loopback.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchMain.h"
#include "PairedHandheld.h"
#include "Rapi.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFileBytes = 10 * 1000 * 1000;
constexpr std::size_t kSendBytes = 1 << 20;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "rapi bench: %s\n", what.c_str());
  std::exit(1);
}

// The paired service on fresh roots, the desktop connected to it, and the
// file on the handheld.
struct Handheld {
  fs::path file;

  Handheld() {
    const fs::path temp = tbm::bench::Handheld().DeviceRoot() / "Temp";
    fs::create_directories(temp);
    if (CeRapiInit() != S_OK) Die(tbm::rapi::RapiFailureText());
    file = temp / "copy.bin";
    std::vector<char> bytes(kFileBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 977);
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  }
  ~Handheld() { CeRapiUninit(); }
};

Handheld& TheHandheld() {
  static Handheld handheld;
  return handheld;
}

void BM_RapiReadFile(benchmark::State& state) {
  TheHandheld();
  std::vector<std::uint8_t> buffer(kFileBytes);
  for (auto _ : state) {
    HANDLE file =
        CeCreateFile(u"\\Temp\\copy.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE ||
        !CeReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ||
        read != kFileBytes || !CeCloseHandle(file)) {
      Die("the copy failed: " + tbm::rapi::RapiFailureText());
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_RapiReadFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: a sender thread that, for each byte asked, reads the same file
// and sends it whole over a loopback TCP connection.
void BM_TcpCopy(benchmark::State& state) {
  const fs::path path = TheHandheld().file;
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Die("no loopback listener");
  }
  std::thread sender([&] {
    const int connection = ::accept(listener, nullptr, nullptr);
    std::vector<char> chunk(kSendBytes);
    char ask = 0;
    while (::recv(connection, &ask, 1, 0) == 1) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got <= 0) break;
        for (ssize_t sent = 0; sent < got;) {
          const ssize_t n = ::send(connection, chunk.data() + sent, got - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += n;
        }
      }
      ::close(fd);
    }
    ::close(connection);
  });
  const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Die("no loopback connection");
  }
  std::vector<char> buffer(kFileBytes);
  for (auto _ : state) {
    const char ask = 1;
    ::send(connection, &ask, 1, MSG_NOSIGNAL);
    std::size_t have = 0;
    while (have < kFileBytes) {
      const ssize_t n = ::recv(connection, buffer.data() + have, kFileBytes - have, 0);
      if (n <= 0) Die("the plain copy was cut");
      have += static_cast<std::size_t>(n);
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
  ::close(connection);
  sender.join();
  ::close(listener);
}
BENCHMARK(BM_TcpCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool registered = [] {
  tbm::bench::ComparePair("BM_RapiReadFile", "BM_TcpCopy", 2.0);
  return true;
}();

}  // namespace
