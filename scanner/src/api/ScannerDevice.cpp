#include "ScannerDevice.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include "BarcodeImage.h"
#include "CallGuard.h"
#include "ImageFolder.h"
#include "LabelLines.h"
#include "LabelPort.h"
#include "ScannerLog.h"
#include "Utf16.h"

namespace tbm::scan {
namespace {

// How often the image folder is looked at while a read waits, and the
// longest the reading thread sleeps between looks at everything else.
constexpr auto kLookInterval = std::chrono::milliseconds(200);

}  // namespace

ScannerDevice::ScannerDevice(std::u16string name, ScannerSettings settings)
    : name_(std::move(name)), settings_(std::move(settings)) {}

ScannerDevice::~ScannerDevice() { Disable(); }

DWORD ScannerDevice::Enable() {
  std::lock_guard control(control_);
  if (enabled_) return kScnSuccess;
  if (!wake_) {
    wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_) {
      ScannerLog(LogLevel::kError,
                 std::string("cannot enable the scanner: ") + std::strerror(errno));
      return kScnErrorFailed;
    }
  }
  stopping_ = false;
  try {
    worker_ = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    ScannerLog(LogLevel::kError, std::string("cannot start the scanner's reading: ") + e.what());
    return kScnErrorFailed;
  }
  enabled_ = true;
  return kScnSuccess;
}

DWORD ScannerDevice::Disable() {
  std::lock_guard control(control_);
  if (!enabled_) return kScnSuccess;
  stopping_ = true;
  Wake();
  worker_.join();
  // Under the lock, so that a read submitted meanwhile is either refused or
  // ended here.
  std::lock_guard lock(mutex_);
  enabled_ = false;
  if (pending_) {
    FinishLabelRead(pending_->buffer, kScnStatusReadCancelled);
    pending_.reset();
  }
  queued_.clear();
  return kScnSuccess;
}

DWORD ScannerDevice::Submit(std::span<BYTE> buffer, HWND window, UINT message, DWORD timeout,
                            DWORD* requestId) {
  {
    std::lock_guard lock(mutex_);
    if (!enabled_) return kScnErrorNotEnabled;
    if (pending_) return kScnErrorReadPending;
    PendingRead read{buffer, window, message, nextRequest_++, std::nullopt};
    if (nextRequest_ == 0) nextRequest_ = 1;
    if (timeout != 0) read.deadline = Clock::now() + std::chrono::milliseconds(timeout);
    MarkLabelPending(buffer, read.id);
    if (requestId != nullptr) *requestId = read.id;
    pending_ = read;
  }
  Wake();
  return kScnSuccess;
}

DWORD ScannerDevice::Cancel() {
  std::lock_guard lock(mutex_);
  if (!pending_) return kScnErrorNoReadPending;
  FinishLabelRead(pending_->buffer, kScnStatusReadCancelled);
  pending_.reset();
  return kScnSuccess;
}

bool ScannerDevice::Holds(const BYTE* buffer) const {
  std::lock_guard lock(mutex_);
  return pending_ && pending_->buffer.data() == buffer;
}

std::uint32_t ScannerDevice::scanType() const {
  std::lock_guard lock(mutex_);
  return scanType_;
}

void ScannerDevice::setScanType(std::uint32_t type) {
  std::lock_guard lock(mutex_);
  scanType_ = type;
}

void ScannerDevice::Note(const ScnReaderNote& note) {
  std::lock_guard lock(mutex_);
  note_ = note;
}

void ScannerDevice::Wake() {
  const std::uint64_t one = 1;
  if (wake_ && ::write(wake_.get(), &one, sizeof one) < 0 && errno != EAGAIN) {
    ScannerLog(LogLevel::kWarning,
               std::string("cannot wake the scanner's reading: ") + std::strerror(errno));
  }
}

// The reading thread: waits for the port, for a wake-up (a read submitted,
// the scanner disabled) or for the next look at the folder, and finishes
// the pending read with whatever label comes first.
void ScannerDevice::Run() {
  try {
    std::optional<LabelPort> port;
    if (!settings_.portPath.empty()) port.emplace(settings_.portPath, settings_.baudRate);
    LabelLines lines;
    std::optional<ImageFolder> images;
    if (!settings_.imageFolder.empty()) images.emplace(settings_.imageFolder);
    Clock::time_point nextLook = Clock::now();
    std::uint64_t openings = 0;
    while (!stopping_) {
      if (port) {
        port->Maintain(Clock::now());
        if (port->openings() != openings) {
          lines.Reset();
          openings = port->openings();
        }
      }
      pollfd waits[2] = {{wake_.get(), POLLIN, 0}, {port ? port->descriptor() : -1, POLLIN, 0}};
      ::poll(waits, 2, PollMilliseconds(Clock::now()));
      if (waits[0].revents & POLLIN) {
        std::uint64_t count = 0;
        while (::read(wake_.get(), &count, sizeof count) > 0) {
        }
      }
      if (stopping_) break;
      if (port && waits[1].fd >= 0 && waits[1].revents != 0)
        TakeFromPort(*port, lines, waits[1].revents);
      const Clock::time_point now = Clock::now();
      EndOverdueRead(now);
      DeliverQueuedLabel();
      if (images && now >= nextLook) {
        nextLook = now + kLookInterval;
        DeliverImage(*images);
      }
    }
  } catch (...) {
    // Only memory running out is expected here; the scanner then stops
    // reading rather than taking the program down.
    ScannerLog(LogLevel::kError, "the scanner stopped reading: " + CaughtException());
  }
}

int ScannerDevice::PollMilliseconds(Clock::time_point now) const {
  auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLookInterval);
  std::lock_guard lock(mutex_);
  if (pending_ && pending_->deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*pending_->deadline - now);
    wait = std::clamp(left, std::chrono::milliseconds(0), wait);
  }
  return static_cast<int>(wait.count());
}

void ScannerDevice::TakeFromPort(LabelPort& port, LabelLines& lines, short events) {
  std::string bytes;
  bool alive = port.Read(bytes);
  if (alive && bytes.empty() && (events & (POLLHUP | POLLERR | POLLNVAL))) {
    port.Lost("it hung up");
    alive = false;
  }
  std::vector<std::u16string> labels;
  std::vector<std::string> dropped;
  lines.Feed(bytes, labels, dropped);
  if (!alive) lines.Reset();
  for (const std::string& why : dropped) {
    ScannerLog(LogLevel::kWarning, "dropped " + why + " from " + settings_.portPath);
  }
  for (std::u16string& label : labels) Queue(std::move(label));
}

void ScannerDevice::Queue(std::u16string label) {
  std::lock_guard lock(mutex_);
  if (queued_.size() >= kScnQueuedLabels) {
    ScannerLog(LogLevel::kWarning, "dropped the label \"" + Utf16ToUtf8(queued_.front()) +
                                       "\": " + std::to_string(kScnQueuedLabels) +
                                       " labels were waiting for the program to read them");
    queued_.pop_front();
  }
  queued_.push_back(std::move(label));
}

void ScannerDevice::EndOverdueRead(Clock::time_point now) {
  Report report;
  {
    std::lock_guard lock(mutex_);
    if (!pending_ || !pending_->deadline || now < *pending_->deadline) return;
    report = Finish(nullptr, LabelSource::kNone, LabelSymbology::kUnknown, kScnStatusReadTimedOut);
  }
  Post(report);
}

void ScannerDevice::DeliverQueuedLabel() {
  Report report;
  std::u16string label;
  {
    std::lock_guard lock(mutex_);
    if (!pending_ || queued_.empty()) return;
    label = std::move(queued_.front());
    queued_.pop_front();
    report = Finish(&label, LabelSource::kPort, LabelSymbology::kUnknown, kScnSuccess);
  }
  if (report.status == kScnStatusLabelTooLong) {
    ScannerLog(LogLevel::kWarning,
               "the label \"" + Utf16ToUtf8(label) + "\" did not fit the program's label buffer");
  }
  if (!Post(report) && report.status == kScnSuccess) {
    // Nobody heard of it: keep it for the next read.
    std::lock_guard lock(mutex_);
    queued_.push_front(std::move(label));
  }
}

void ScannerDevice::DeliverImage(ImageFolder& images) {
  DWORD readId = 0;
  {
    std::lock_guard lock(mutex_);
    if (!pending_ || !queued_.empty()) return;
    readId = pending_->id;
  }
  const std::optional<std::filesystem::path> image = images.NextReadyImage();
  if (!image) return;
  std::string why;
  const std::optional<ImageLabel> label = DecodeBarcodeImage(*image, &why);
  if (!label) {
    ScannerLog(LogLevel::kWarning, "no label from " + image->string() + ": " + why +
                                       "; it is moved into " +
                                       Utf16ToUtf8(kUnreadableImagesFolder));
    images.Done(*image, false);
    return;
  }
  Report report;
  {
    std::lock_guard lock(mutex_);
    // The read may have been cancelled while the image was decoded; the
    // image then stays for the next one.
    if (!pending_ || pending_->id != readId) return;
    report = Finish(&label->text, LabelSource::kImage, label->symbology, kScnSuccess);
  }
  if (report.status != kScnSuccess) {
    ScannerLog(LogLevel::kWarning,
               "the label of " + image->string() + " did not fit the program's label buffer");
  }
  // Out of the way before the program hears of it; back when nobody did.
  const std::optional<std::filesystem::path> moved =
      images.Done(*image, report.status == kScnSuccess);
  if (!Post(report) && moved) images.PutBack(*moved, *image);
}

ScannerDevice::Report ScannerDevice::Finish(const std::u16string* text, LabelSource source,
                                            LabelSymbology symbology, DWORD status) {
  PendingRead read = *pending_;
  pending_.reset();
  if (text != nullptr) {
    status = StoreLabel(read.buffer, *text, symbology, source);
  } else {
    FinishLabelRead(read.buffer, status);
  }
  return Report{read.window, read.message, status, read.buffer.data()};
}

bool ScannerDevice::Post(const Report& report) {
  if (PostMessageW(report.window, report.message, report.status,
                   reinterpret_cast<LPARAM>(report.buffer))) {
    return true;
  }
  ScannerLog(LogLevel::kWarning, std::string("cannot report a read to its window: ") +
                                     DescribeWindowError(GetLastError()));
  return false;
}

}  // namespace tbm::scan
