// A 10 MB file copied from the handheld with CeReadFile, through the real
// device connection service (tbm-devicelink run on fresh roots, paired,
// over the protected channel on loopback), beside the same bytes read from
// the same file and sent over a plain TCP connection on loopback.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "BenchData.h"
#include "BenchMain.h"
#include "Machine.h"
#include "Rapi.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tbm::bench::Folder;

constexpr std::size_t kFileBytes = 10 * 1000 * 1000;
constexpr std::size_t kSendBytes = 1 << 20;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "rapi bench: %s\n", what.c_str());
  std::exit(1);
}

// tbm-devicelink, beside this program, started with args; its standard
// output is read until a line matches.
struct Devicelink {
  pid_t pid = -1;
  int out = -1;
  std::string text;

  explicit Devicelink(const std::vector<std::string>& args) {
    const std::string program =
        (fs::read_symlink("/proc/self/exe").parent_path() / "tbm-devicelink").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) Die("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      Die("cannot start " + program);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    out = pipeEnds[0];
  }
  ~Devicelink() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    ::close(out);
  }

  std::string WaitFor(const std::string& pattern) {
    const std::regex expression(pattern);
    for (;;) {
      std::smatch match;
      if (std::regex_search(text, match, expression)) return match[1];
      pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, 30000) <= 0) Die("tbm-devicelink said nothing: " + text);
      char buffer[512];
      const ssize_t got = ::read(out, buffer, sizeof buffer);
      if (got <= 0) Die("tbm-devicelink ended: " + text);
      text.append(buffer, static_cast<std::size_t>(got));
    }
  }
};

// The paired service on fresh roots, the desktop connected to it, and the
// file on the handheld.
struct Handheld {
  std::unique_ptr<Devicelink> service;
  fs::path file;

  Handheld() {
    const std::string device = Folder() + "/device", desktop = Folder() + "/desktop";
    fs::create_directories(device + "/Temp");
    fs::create_directories(desktop);
    setenv("TBM_DEVICE_ROOT", device.c_str(), 1);
    setenv("TBM_DESKTOP_ROOT", desktop.c_str(), 1);
    tbm::SelectMachine(tbm::Machine::Desktop);
    {
      Devicelink pairing({"pair", "--port", "0", "--time-limit", "60"});
      const std::string code = pairing.WaitFor("Pairing code: ([0-9]{8})");
      tbm::rapi::Endpoint address;
      address.port =
          static_cast<std::uint16_t>(std::stoi(pairing.WaitFor("on 127\\.0\\.0\\.1:([0-9]+)")));
      tbm::rapi::DesktopPartnership partnership;
      const tbm::Status paired = tbm::rapi::PairWithHandheld(address, code, u"bench", &partnership);
      if (!paired.ok()) Die(paired.message());
    }
    service = std::make_unique<Devicelink>(std::vector<std::string>{"run", "--port", "0"});
    tbm::rapi::DesktopPartnership partnership;
    if (!tbm::rapi::LoadDesktopPartnership(&partnership).ok()) Die("no partnership kept");
    partnership.address.port = static_cast<std::uint16_t>(
        std::stoi(service->WaitFor("is ready on 127\\.0\\.0\\.1:([0-9]+)")));
    if (!tbm::rapi::SaveDesktopPartnership(partnership).ok()) Die("partnership not saved");
    if (CeRapiInit() != S_OK) Die(tbm::rapi::RapiFailureText());

    file = fs::path(device) / "Temp" / "copy.bin";
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
