// A language library as a damaged disk or a careless tool could leave it:
// it exports TBMResFind (and no TBMGetDllVersion) and hands out resources
// that cannot be read, beside a few good ones.
#include <cstdint>
#include <cstring>

namespace {

struct Resource {
  std::uint32_t kind;
  std::uint32_t number;
  const char* text;
  std::uint32_t size;  // 0: strlen(text)
};

const Resource kResources[] = {
    {1, 1, "Hello", 0},
    // Menu 1: a pop-up that is never closed. Menu 2 is good.
    {2, 1, "POPUP \"&File\"\nITEM 57665 \"E&xit\"\n", 0},
    {2, 2, "POPUP \"&File\"\n  ITEM 57665 \"E&xit\"\nEND\n", 0},
    // Menu 3: a command number out of range on line 3.
    {2, 3, "POPUP \"&File\"\n\nITEM 70000 \"E&xit\"\nEND\n", 0},
    // Tool bar 1 shows a picture the library lacks; tool bar 2 is good.
    {3, 1, "BUTTON 57664 999\n", 0},
    {3, 2, "BUTTON 57664 1\nSEPARATOR\n", 0},
    // A dialog text with a byte that is not UTF-8; a good one.
    {4, 1, "CAPTION \"\xff\"\n", 0},
    {4, 2, "CAPTION \"About\"\n", 0},
    // Picture 1 is good; picture 2 reaches outside its grid on line 2;
    // picture 3 has a NUL in it.
    {5, 1, "SIZE 4 4\nRECT 0 0 4 4 FILL #000000\n", 0},
    {5, 2, "SIZE 15 15\nRECT 0 0 20 5 FILL #000000\n", 0},
    {5, 3, "SIZE 4 4\0RECT 0 0 4 4 FILL #000000\n", 27},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int TBMResFind(std::uint32_t kind,
                                                                 std::uint32_t number,
                                                                 const char** data,
                                                                 std::uint32_t* bytes) {
  for (const Resource& resource : kResources) {
    if (resource.kind == kind && resource.number == number) {
      *data = resource.text;
      *bytes = resource.size != 0 ? resource.size
                                  : static_cast<std::uint32_t>(std::strlen(resource.text));
      return 1;
    }
  }
  return 0;
}
