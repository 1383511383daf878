#include "Descriptor.h"

#include <unistd.h>

#include <cerrno>

namespace tbm {

Descriptor::~Descriptor() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

int Descriptor::Close() {
  if (descriptor_ < 0) return 0;
  const int result = ::close(descriptor_);
  descriptor_ = -1;
  return result == 0 ? 0 : errno;
}

int WriteAll(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(descriptor, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace tbm
