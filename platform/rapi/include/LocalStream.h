// A remote-invocation stream whose two ends live in one process: what the
// desktop end writes the handheld end reads, and the other way round. It
// serves the tests of both sides and runs a handheld library's exported
// function in the same process as its caller.
#pragma once

#include "RapiStream.h"

struct LocalStreamPair {
  RapiStreamPtr desktop;
  RapiStreamPtr handheld;
};

// How many bytes each direction holds before a Write waits for the reader.
constexpr ULONG kDefaultLocalStreamRoom = 1u << 20;

// A connected pair of ends, each holding one reference. The ends may be used
// from any threads. room (at least 1) bounds each direction. Null ends when
// memory ran out.
LocalStreamPair CreateLocalStreamPair(ULONG room = kDefaultLocalStreamRoom);
