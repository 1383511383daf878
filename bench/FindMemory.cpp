// Runs one find over a sample database, for heap measurements that show
// the heap does not grow with the number of records:
//   tbm_find_memory make <path> <records>   writes the sample database
//   tbm_find_memory find <path>             opens it and finds "ho" in field 0
// Measure the second with heaptrack or valgrind --tool=massif.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MDb.h"
#include "SampleDatabase.h"
#include "Utf16.h"

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "make") {
    tbm::bench::BuildSampleDatabase(argv[2], std::atoi(argv[3]));
    return 0;
  }
  if (argc < 3 || std::string(argv[1]) != "find") {
    std::fprintf(stderr, "usage: tbm_find_memory make <path> <records> | find <path>\n");
    return 2;
  }
  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 1);
  const auto path = tbm::Utf8ToUtf16(argv[2]);
  if (MDbAgentOpenDb(&env, path.c_str()) != MDbErrNone) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 1;
  }
  MDbRecset rs;
  MDbRecsetInitialize(&rs);
  const MDbFindRequest request{tbm::bench::kName, 0, u"ho"};
  const std::int32_t rc = MDbAgentQuery(&env, &rs, &request);
  std::uint32_t found = 0;
  MDbRecsetGetRecCount(&env, &rs, &found);
  std::printf("found %u records (result %d)\n", found, rc);
  MDbRecsetDestroy(&env, &rs);
  MDbAgentCloseDb(&env);
  MDbShutdown(&env);
  return rc == MDbErrNone ? 0 : 1;
}
