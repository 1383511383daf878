// A small language library for the program's tests: the texts the tests
// check (string 1 names the library, so a test can tell which one was
// loaded), and, when built with TBM_TEST_LIBRARY_VERSION, a version.
#include <cstdint>
#include <cstring>

namespace {

struct Text {
  std::uint32_t number;
  const char* text;
};

constexpr Text kTexts[] = {
    {1, "test library " TBM_TEST_LIBRARY_VARIANT},
    {5020, "Record %1d of %2d"},
    {5100, "Error %1d with the database %2s."},
    {5101, "The database was made by another version."},
    {5102, "Cannot open %1s. (%2s)"},
    {5103, "The database is full."},
    {5104, "%1s is inconsistent. (%2s)"},
    {5105, "%1s has no fields. (%2s)"},
    {5120, "A synchronisation is running: %1s stays closed. (%2s)"},
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int TBMResFind(std::uint32_t kind, std::uint32_t number,
                                                      const char** data, std::uint32_t* bytes) {
  if (kind != 1) return 0;
  for (const Text& text : kTexts) {
    if (text.number == number) {
      *data = text.text;
      *bytes = static_cast<std::uint32_t>(std::strlen(text.text));
      return 1;
    }
  }
  return 0;
}

#ifdef TBM_TEST_LIBRARY_VERSION
__attribute__((visibility("default"))) void TBMGetDllVersion(std::uint16_t* major,
                                                             std::uint16_t* minor,
                                                             std::uint16_t* build,
                                                             std::uint16_t* revision,
                                                             std::uint32_t* flags) {
  constexpr std::uint16_t kVersion[] = {TBM_TEST_LIBRARY_VERSION};
  if (major != nullptr) *major = kVersion[0];
  if (minor != nullptr) *minor = kVersion[1];
  if (build != nullptr) *build = 0;
  if (revision != nullptr) *revision = 0;
  if (flags != nullptr) *flags = 0;
}
#endif

}  // extern "C"
