// A connected pair of stream ends inside one process.
//
// The two directions share one lock and one condition: a pair carries one
// conversation, so there is nothing to gain from finer locking, and one
// notify wakes whoever waits for data, room or a close.
#include "LocalStream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

// The bytes in flight in one direction: a ring of fixed room.
class Direction {
 public:
  explicit Direction(ULONG room) : bytes_(room) {}

  std::size_t Held() const { return held_; }
  std::size_t Room() const { return bytes_.size() - held_; }

  // Appends as much of data as there is room for; returns how much.
  std::size_t Put(const std::uint8_t* data, std::size_t size) {
    const std::size_t count = std::min(size, Room());
    for (std::size_t done = 0; done < count;) {
      const std::size_t tail = (head_ + held_) % bytes_.size();
      const std::size_t run = std::min(count - done, bytes_.size() - tail);
      std::memcpy(bytes_.data() + tail, data + done, run);
      held_ += run;
      done += run;
    }
    return count;
  }

  // Takes up to size bytes from the front; returns how many.
  std::size_t Take(std::uint8_t* data, std::size_t size) {
    const std::size_t count = std::min(size, held_);
    for (std::size_t done = 0; done < count;) {
      const std::size_t run = std::min(count - done, bytes_.size() - head_);
      std::memcpy(data + done, bytes_.data() + head_, run);
      head_ = (head_ + run) % bytes_.size();
      held_ -= run;
      done += run;
    }
    return count;
  }

  bool writerClosed = false;
  bool readerClosed = false;

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t head_ = 0;
  std::size_t held_ = 0;
};

struct Pipe {
  explicit Pipe(ULONG room) : toHandheld(room), toDesktop(room) {}

  std::mutex mutex;
  std::condition_variable changed;
  Direction toHandheld;
  Direction toDesktop;
};

class LocalEnd final : public IRAPIStream {
 public:
  LocalEnd(std::shared_ptr<Pipe> pipe, Direction& in, Direction& out)
      : pipe_(std::move(pipe)), in_(in), out_(out) {}
  ~LocalEnd() override = default;  // reached only through Release

  ULONG AddRef() override { return ++references_; }

  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      {
        std::lock_guard lock(pipe_->mutex);
        in_.readerClosed = true;
        out_.writerClosed = true;
      }
      pipe_->changed.notify_all();
      delete this;  // ends are made only by CreateLocalStreamPair, always on the heap
    }
    return left;
  }

  HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
    if (read != nullptr) *read = 0;
    if (buffer == nullptr && size > 0) return E_INVALIDARG;
    if (size == 0) return S_OK;
    std::unique_lock lock(pipe_->mutex);
    if (!WaitFor(lock, timeouts_.read(), [&] { return in_.Held() > 0 || in_.writerClosed; })) {
      return RAPI_E_TIMEOUT;
    }
    if (in_.Held() == 0) return RAPI_E_STREAM_ENDED;
    const auto count = static_cast<ULONG>(in_.Take(static_cast<std::uint8_t*>(buffer), size));
    lock.unlock();
    pipe_->changed.notify_all();
    if (read != nullptr) *read = count;
    return S_OK;
  }

  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
    if (written != nullptr) *written = 0;
    if (buffer == nullptr && size > 0) return E_INVALIDARG;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    ULONG done = 0;
    HRESULT result = S_OK;
    std::unique_lock lock(pipe_->mutex);
    while (done < size) {
      if (!WaitFor(lock, timeouts_.write(), [&] { return out_.Room() > 0 || out_.readerClosed; })) {
        result = RAPI_E_TIMEOUT;
        break;
      }
      if (out_.readerClosed) {
        result = RAPI_E_STREAM_BROKEN;
        break;
      }
      done += static_cast<ULONG>(out_.Put(bytes + done, size - done));
      pipe_->changed.notify_all();
    }
    lock.unlock();
    if (written != nullptr) *written = done;
    return result;
  }

  HRESULT SetRapiStat(RAPISTREAMFLAG flag, DWORD value) override {
    return timeouts_.Set(flag, value);
  }
  HRESULT GetRapiStat(RAPISTREAMFLAG flag, DWORD* value) override {
    return timeouts_.Get(flag, value);
  }

 private:
  // Waits until ready() holds or timeout milliseconds have passed
  // (INFINITE: no limit); false on the timeout.
  template <typename Ready>
  bool WaitFor(std::unique_lock<std::mutex>& lock, DWORD timeout, Ready ready) {
    if (timeout == INFINITE) {
      pipe_->changed.wait(lock, ready);
      return true;
    }
    return pipe_->changed.wait_for(lock, std::chrono::milliseconds(timeout), ready);
  }

  std::shared_ptr<Pipe> pipe_;
  Direction& in_;
  Direction& out_;
  std::atomic<ULONG> references_{1};
  StreamTimeouts timeouts_;
};

}  // namespace

LocalStreamPair CreateLocalStreamPair(ULONG room) {
  try {
    auto pipe = std::make_shared<Pipe>(std::max<ULONG>(room, 1));
    auto desktop = std::make_unique<LocalEnd>(pipe, pipe->toDesktop, pipe->toHandheld);
    auto handheld = std::make_unique<LocalEnd>(pipe, pipe->toHandheld, pipe->toDesktop);
    return LocalStreamPair{RapiStreamPtr(desktop.release()), RapiStreamPtr(handheld.release())};
  } catch (const std::bad_alloc&) {
    return {};
  }
}
