// tbmrc: the resource compiler. Reads one language's source and writes the
// C++ source of its language library; refuses a source with any fault, and a
// translation that does not match English.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "LanguageSource.h"

namespace {

constexpr char kUsage[] =
    "Usage: tbmrc [--reference ENGLISH.txt] --output LIBRARY.cpp SOURCE.txt\n"
    "\n"
    "Compiles the language source SOURCE.txt (strings, menus, tool bars and\n"
    "pictures of Tabulon Mobile) into the C++ source of its language library.\n"
    "With --reference, the source is a translation and must have every\n"
    "resource the reference has, with the same placeholders in each message\n"
    "and the same commands in each menu and tool bar.\n"
    "Faults are listed as FILE:LINE: sentence; nothing is written then.\n";

int Fail(const std::string& sentence) {
  std::fprintf(stderr, "tbmrc: %s\n", sentence.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tbm::res::compiler;
  std::string output, reference, source;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if ((arg == "--output" || arg == "--reference") && i + 1 < argc) {
      (arg == "--output" ? output : reference) = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && source.empty()) {
      source = arg;
    } else {
      return Fail("unexpected argument \"" + arg + "\"; see tbmrc --help");
    }
  }
  if (source.empty() || output.empty())
    return Fail("a SOURCE and --output are needed; see tbmrc --help");

  Diagnostics diagnostics;
  const LanguageSource language = ReadLanguageSource(source, &diagnostics);
  if (!reference.empty()) {
    Diagnostics referenceFaults;
    const LanguageSource english = ReadLanguageSource(reference, &referenceFaults);
    if (!referenceFaults.empty()) {
      diagnostics.Add({reference, 0}, "the reference has faults of its own");
    } else {
      CompareWithReference(language, english, &diagnostics);
    }
  }
  if (!diagnostics.empty()) {
    for (const std::string& error : diagnostics.errors())
      std::fprintf(stderr, "%s\n", error.c_str());
    std::fprintf(stderr, "tbmrc: %zu fault(s); %s was not written\n", diagnostics.errors().size(),
                 output.c_str());
    return 1;
  }

  const std::string text = EmitLibrarySource(language, source);
  const std::string partial = output + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.good()) return Fail("cannot write " + partial);
  }
  if (std::rename(partial.c_str(), output.c_str()) != 0)
    return Fail("cannot rename " + partial + " to " + output + ": " + std::strerror(errno));
  return 0;
}
