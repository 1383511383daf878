// Host file descriptors for the stand-ins that work on host files.
#pragma once

#include <cstddef>

namespace tbm {

// A host file descriptor that is closed when it goes out of scope. A
// negative number stands for none.
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return descriptor_; }
  // Closes now and reports the errno of a failed close (0 when it worked).
  int Close();

 private:
  int descriptor_;
};

// Writes all of data to descriptor, going on after signals and short
// writes. Returns 0 or an errno.
int WriteAll(int descriptor, const char* data, std::size_t size);

}  // namespace tbm
