#include "Progress.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tbm::tools {

namespace {

constexpr auto kInterval = std::chrono::milliseconds(100);

bool ShowProgress() {
  if (const char* wanted = std::getenv("TBM_PROGRESS")) {
    if (std::strcmp(wanted, "always") == 0) return true;
    if (std::strcmp(wanted, "never") == 0) return false;
  }
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace

Progress::Progress(std::string label) : label_(std::move(label)), shown_(ShowProgress()) {}

Progress::~Progress() { Finish(); }

void Progress::Update(std::uint64_t done, double share) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < kInterval) return;
  last_ = now;
  drawn_ = true;
  if (share >= 0) {
    std::fprintf(stderr, "\r%s: %llu records (%d%%)\033[K", label_.c_str(),
                 static_cast<unsigned long long>(done), static_cast<int>(share * 100 + 0.5));
  } else {
    std::fprintf(stderr, "\r%s: %llu records\033[K", label_.c_str(),
                 static_cast<unsigned long long>(done));
  }
  std::fflush(stderr);
}

void Progress::Finish() {
  if (!drawn_) return;
  drawn_ = false;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

}  // namespace tbm::tools
