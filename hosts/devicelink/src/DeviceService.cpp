#include "DeviceService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <list>
#include <mutex>
#include <set>
#include <thread>

#include "DeviceCalls.h"
#include "DeviceInvoke.h"
#include "DevicePath.h"
#include "DeviceProviders.h"
#include "Partnership.h"
#include "ProgramLog.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

using rapi::Milliseconds;
using Clock = std::chrono::steady_clock;

// How long a desktop has for its handshake, and for each frame once a
// request has begun; how long a connection may sit idle between requests.
constexpr Milliseconds kHandshakeLimit{30000};
constexpr Milliseconds kFrameLimit{30000};
constexpr Milliseconds kIdleLimit{15 * 60 * 1000};

// The write end and read end of the pipe the stop signals write to.
int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(stopPipe[1], &byte, 1);
  errno = saved;
}

void Log(LogLevel level, const std::string& text) { WriteLog(kProgram, level, text); }

// Waits until the listener has a connection (true), or a stop signal or the
// deadline comes (false, with *stopped saying which).
bool WaitForConnection(int listenFd, Clock::time_point deadline, bool* stopped) {
  for (;;) {
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      *stopped = false;
      return false;
    }
    pollfd p[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    const int polled = ::poll(p, 2, static_cast<int>(std::min<long long>(left, 60000)));
    if (polled < 0 && errno != EINTR) {
      *stopped = true;
      return false;
    }
    if (polled > 0 && (p[1].revents & POLLIN) != 0) {
      *stopped = true;
      return false;
    }
    if (polled > 0 && (p[0].revents & POLLIN) != 0) return true;
  }
}

Status Stopped() { return Status(StatusCode::kFailed, "stopped by a signal"); }

// One attempt to pair over connection. *guessed says whether the desktop
// got as far as trying a code.
Status PairWith(UniqueFd connection, const std::string& code, bool* guessed) {
  *guessed = false;
  std::uint8_t greeting[rapi::kPairingGreetingBytes];
  std::copy(std::begin(rapi::kPairingGreeting), std::end(rapi::kPairingGreeting), greeting);
  const std::span<std::uint8_t> salt(greeting + sizeof rapi::kPairingGreeting,
                                     rapi::kPairingSaltBytes);
  std::vector<std::uint8_t> key;
  if (Status status = rapi::RandomBytes(salt); !status.ok()) return status;
  if (Status status = rapi::DerivePairingKey(code, salt, &key); !status.ok()) return status;
  if (Status status = rapi::SendRaw(connection.get(), greeting, kHandshakeLimit); !status.ok()) {
    return status;
  }
  const rapi::PskLookup lookup =
      [&key](const std::string& identity) -> std::optional<std::vector<std::uint8_t>> {
    if (identity == rapi::kPairingIdentity) return key;
    return std::nullopt;
  };
  std::unique_ptr<rapi::TlsChannel> channel;
  std::string offered;
  if (Status status = rapi::TlsChannel::Accept(std::move(connection), lookup, kHandshakeLimit,
                                               &channel, &offered);
      !status.ok()) {
    *guessed = !offered.empty();
    return status;
  }
  rapi::Frame request;
  if (Status status = channel->Receive(&request, kFrameLimit); !status.ok()) return status;
  rapi::PayloadReader reader(request.payload);
  std::u16string desktopName;
  if (request.header.call != static_cast<std::uint16_t>(rapi::RapiCall::kPair) ||
      !reader.String(&desktopName, 256) || !reader.End()) {
    return Status(StatusCode::kCorrupt, "the desktop did not ask to pair in the expected way");
  }
  rapi::DevicePartner partner;
  partner.desktopName = desktopName;
  partner.key.resize(rapi::kPskBytes);
  if (Status status = rapi::MakePartnerId(&partner.partnerId); !status.ok()) return status;
  if (Status status = rapi::RandomBytes(partner.key); !status.ok()) return status;
  if (Status status = rapi::SaveDevicePartner(partner); !status.ok()) return status;
  const std::vector<std::uint8_t> reply = rapi::PayloadWriter()
                                              .I32(S_OK)
                                              .String(Utf8ToUtf16(partner.partnerId))
                                              .Bytes(partner.key)
                                              .Take();
  if (Status status = channel->Send(request.header.call | rapi::kReplyFlag,
                                    request.header.requestId, reply, kFrameLimit);
      !status.ok()) {
    rapi::ForgetDevicePartner(partner.partnerId);  // the desktop never got its key
    return status.WithContext("sending the partnership to the desktop");
  }
  std::printf("Paired with the desktop '%s' as partner %s.\n", Utf16ToUtf8(desktopName).c_str(),
              partner.partnerId.c_str());
  Log(LogLevel::kInfo,
      "paired with the desktop '" + Utf16ToUtf8(desktopName) + "' as partner " + partner.partnerId);
  return Status();
}

// The connections being served, so a stop can wake them.
class Sessions {
 public:
  void Add(int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    open_.insert(fd);
  }
  void Remove(int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    open_.erase(fd);
  }
  void ShutdownAll() {
    std::lock_guard<std::mutex> hold(lock_);
    for (const int fd : open_) ::shutdown(fd, SHUT_RDWR);
  }

 private:
  std::mutex lock_;
  std::set<int> open_;
};

std::optional<std::vector<std::uint8_t>> PartnerKey(const std::string& identity) {
  rapi::DevicePartner partner;
  if (!rapi::LoadDevicePartner(identity, &partner).ok()) return std::nullopt;
  return partner.key;
}

// The partner bit of a partnership: its place among the handheld's
// partnerships (1 or 2; the handheld keeps two).
DWORD PartnerBit(const std::string& partnerId) {
  std::vector<rapi::DevicePartner> partners;
  if (rapi::ListDevicePartners(&partners).ok()) {
    for (std::size_t i = 0; i < partners.size() && i < 2; ++i) {
      if (partners[i].partnerId == partnerId) return static_cast<DWORD>(i + 1);
    }
  }
  return 1;
}

// Serves one desktop connection until it closes, fails or the service stops.
void Serve(UniqueFd connection, Sessions& sessions, const DeviceProviders& providers) {
  const int fd = connection.get();
  sessions.Add(fd);
  std::unique_ptr<rapi::TlsChannel> channel;
  std::string offered;
  const Status accepted = rapi::TlsChannel::Accept(std::move(connection), &PartnerKey,
                                                   kHandshakeLimit, &channel, &offered);
  if (!accepted.ok()) {
    sessions.Remove(fd);
    Log(LogLevel::kWarning, accepted.message());
    return;
  }
  ConnectionState state;
  state.partnerId = channel->identity();
  Log(LogLevel::kInfo, "partner " + state.partnerId + " connected: docked");
  const DeviceProviders::Docking docking = providers.Dock(PartnerBit(state.partnerId));
  for (;;) {
    rapi::Frame request;
    Status status = channel->Receive(&request, kIdleLimit);
    if (status.ok() && WantsStream(request)) {
      status = ServeInvocationWithStream(request, channel, state);
    } else if (status.ok()) {
      const std::vector<std::uint8_t> reply = ServeRequest(request, state);
      status = channel->Send(request.header.call | rapi::kReplyFlag, request.header.requestId,
                             reply, kFrameLimit);
    }
    if (!status.ok()) {
      if (status.platformError() == rapi::kConnectionDropped) {
        Log(LogLevel::kInfo, "partner " + state.partnerId + " disconnected");
      } else {
        Log(LogLevel::kWarning,
            "partner " + state.partnerId + ": " + status.message() + "; the connection is closed");
      }
      break;
    }
  }
  Log(LogLevel::kInfo, "partner " + state.partnerId + " undocked");
  sessions.Remove(fd);
}

}  // namespace

void InstallStopSignals() {
  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

Status PairOnce(const rapi::Endpoint& address, int seconds) {
  rapi::Listener listener;
  if (Status status = rapi::Listener::Open(address, &listener); !status.ok()) return status;
  std::string code;
  if (Status status = rapi::MakePairingCode(&code); !status.ok()) return status;
  rapi::Endpoint shown = address;
  shown.port = listener.port();
  std::printf("Pairing code: %s\n", code.c_str());
  std::printf("Waiting up to %d seconds on %s; on the desktop run: tbm-rapi pair %s %s\n", seconds,
              shown.ToString().c_str(), shown.ToString().c_str(), code.c_str());
  std::fflush(stdout);
  Log(LogLevel::kInfo, "waiting for a desktop to pair on " + shown.ToString());
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  int wrong = 0;
  for (;;) {
    bool stopped = false;
    if (!WaitForConnection(listener.fd(), deadline, &stopped)) {
      if (stopped) return Stopped();
      return Status(StatusCode::kFailed, "no desktop paired within " + std::to_string(seconds) +
                                             " seconds; the code is no longer valid (run "
                                             "'tbm-devicelink pair' again)");
    }
    UniqueFd connection;
    if (!listener.Accept(&connection).ok()) continue;
    bool guessed = false;
    const Status status = PairWith(std::move(connection), code, &guessed);
    if (status.ok()) return status;
    Log(LogLevel::kWarning, "pairing failed: " + status.message());
    if (!guessed) continue;
    ++wrong;
    std::fprintf(stderr, "%s: a desktop gave a wrong code (%d of %d tries)\n", kProgram, wrong,
                 rapi::kPairingTries);
    if (wrong >= rapi::kPairingTries) {
      return Status(StatusCode::kNoPermission,
                    std::to_string(rapi::kPairingTries) +
                        " wrong codes were tried; the code is no longer valid (run "
                        "'tbm-devicelink pair' again)");
    }
  }
}

Status RunService(const rapi::Endpoint& address) {
  rapi::Listener listener;
  if (Status status = rapi::Listener::Open(address, &listener); !status.ok()) return status;
  rapi::Endpoint shown = address;
  shown.port = listener.port();
  const std::string root = DeviceRoot();
  // Loaded before the service says it is ready: a provider's load-time work
  // (resetting a word left by an interrupted synchronisation) is done then.
  DeviceProviders providers;
  providers.Load();
  std::printf("%s is ready on %s, serving the handheld at %s (log: %s)\n", kProgram,
              shown.ToString().c_str(), root.c_str(), LogFilePath(kProgram).c_str());
  std::fflush(stdout);
  Log(LogLevel::kInfo, "serving " + root + " on " + shown.ToString());
  Sessions sessions;
  // One thread per connection; those whose connection ended are joined
  // whenever a new one comes, the rest when the service stops.
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<Worker> workers;
  for (;;) {
    bool stopped = false;
    if (!WaitForConnection(listener.fd(), Clock::time_point::max(), &stopped)) {
      if (stopped) break;
      continue;
    }
    UniqueFd connection;
    if (Status status = listener.Accept(&connection); !status.ok()) {
      if (status.code() != StatusCode::kBusy) Log(LogLevel::kWarning, status.message());
      continue;
    }
    workers.remove_if([](Worker& worker) {
      if (!worker.done->load()) return false;
      worker.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([c = std::move(connection), &sessions, &providers, done]() mutable {
      Serve(std::move(c), sessions, providers);
      done->store(true);
    });
    workers.push_back(Worker{std::move(thread), done});
  }
  sessions.ShutdownAll();
  for (Worker& worker : workers) worker.thread.join();
  providers.Unload();
  Log(LogLevel::kInfo, "stopped");
  return Status();
}

}  // namespace tbm::devicelink
