// Fuzzes the guard of the well: scenarios of measurement cycles against
// the model board (tests/guard), in which every "setport 5.x" and
// "setport 4.x" must agree with the well's true level and the guard's
// blindness past its bound must be announced. Aborts on a wrong one, on a
// blindness unannounced, on an output lost on the board and not made good
// within its bound, and on a healthy board also on an evaluation that did
// not send both or a lost connection, with the scenario's trace.
//
// Input: the first byte picks the board's profile (its value modulo the
// number of profiles, in the order of guard::Profile: faulty, whole, lines,
// busy, link, busy_strays, link_strays, trickles, chatter, drops,
// anything, holds, power_cuts, meddling, refusals, all); the rest are the
// scenario's choices (levels, speeds, faults,
// pieces, gaps), taken in turn; once they run out, the choices come from a
// generator seeded with a hash of the whole input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/guard/guard_scenario.h"

namespace {

uint64_t Hash(const uint8_t* data, size_t size) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < size; i++) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  guard::Profile profile = (guard::Profile)(data[0] % guard::ProfileCount);
  guard::Outcome out =
      guard::RunScenario(Hash(data, size), profile, data + 1, size - 1);
  if (out.Ok) return 0;
  fprintf(stderr, "guard: %s\n%s\nguard: %s\n", out.Failure.c_str(),
          out.Trace.c_str(), out.Failure.c_str());
  abort();
}
