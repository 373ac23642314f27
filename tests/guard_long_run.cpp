// The guard's oracle for a given time on every core: scenarios of every
// profile (or one) against the model board, one process a core, each with
// seeds of its own. Prints the scenarios a second and, per profile, the
// scenarios that met each kind of fault, with the first seeds of each to
// run again (KVX_GUARD_SEED=<seed> KVX_GUARD_PROFILE=<key>
// korvalinex_guard_tests --gtest_filter=GuardOracle.OneScenario).
//
//   korvalinex_guard_run [--seconds S] [--jobs N] [--profile KEY[,KEY...]]
//   [--first SEED]
//
// 60 s on every core by default. Exits 1 when a scenario met a fault.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/guard/guard_scenario.h"

namespace {

using guard::Profile;

struct Counts {
  long Scenarios[guard::ProfileCount] = {};
  long Found[guard::ProfileCount][guard::FaultKinds] = {};
};

// First failures a worker reports, at most this many of a profile and kind.
const int FirstSeeds = 3;

// One worker: scenarios for `seconds`, seeds first + job, + jobs, ...;
// its counts and first failures as text on `out`.
void Work(int job, int jobs, double seconds, const std::vector<int>& only,
          uint64_t first, FILE* out) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point start = Clock::now(), report = start;
  Counts c;
  long n = 0;
  for (uint64_t seed = first + (uint64_t)job;; seed += (uint64_t)jobs, n++) {
    if ((n & 15) == 0) {
      Clock::time_point now = Clock::now();
      double spent = std::chrono::duration<double>(now - start).count();
      if (spent >= seconds) break;
      if (now - report >= std::chrono::seconds(60)) {
        report = now;
        fprintf(stderr, "worker %d: %ld scenarios in %.0f s\n", job, n, spent);
      }
    }
    Profile p = !only.empty() ? (Profile)only[seed % only.size()]
                              : (Profile)(seed % (uint64_t)guard::ProfileCount);
    guard::Outcome o = guard::RunScenario(seed, p, nullptr, 0, false);
    c.Scenarios[(int)p]++;
    for (int k = 0; k < guard::FaultKinds; k++) {
      if (!o.Found[k]) continue;
      if (c.Found[(int)p][k]++ < FirstSeeds)
        fprintf(out, "seed %llu %s %d %s\n", (unsigned long long)seed,
                guard::ProfileKey(p), k, o.What[k].c_str());
    }
  }
  for (int p = 0; p < guard::ProfileCount; p++) {
    fprintf(out, "count %d %ld", p, c.Scenarios[p]);
    for (int k = 0; k < guard::FaultKinds; k++)
      fprintf(out, " %ld", c.Found[p][k]);
    fprintf(out, "\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60;
  int jobs = (int)sysconf(_SC_NPROCESSORS_ONLN);
  std::vector<int> only;
  uint64_t first = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--seconds") {
      seconds = atof(argv[i + 1]);
    } else if (a == "--jobs") {
      jobs = atoi(argv[i + 1]);
    } else if (a == "--first") {
      first = strtoull(argv[i + 1], nullptr, 0);
    } else if (a == "--profile") {
      std::string keys = argv[i + 1];
      for (size_t at = 0; at <= keys.size();) {
        size_t comma = keys.find(',', at);
        if (comma == std::string::npos) comma = keys.size();
        Profile p;
        if (!guard::ProfileOfKey(keys.substr(at, comma - at), &p)) {
          fprintf(stderr, "no profile %s\n",
                  keys.substr(at, comma - at).c_str());
          return 2;
        }
        only.push_back((int)p);
        at = comma + 1;
      }
    } else {
      fprintf(stderr,
              "usage: %s [--seconds S] [--jobs N] [--profile KEY[,KEY...]] "
              "[--first SEED]\n",
              argv[0]);
      return 2;
    }
  }
  if (jobs < 1) jobs = 1;
  printf("guard oracle: %d workers for %.0f s, seeds from %llu\n", jobs,
         seconds, (unsigned long long)first);
  fflush(stdout);

  auto start = std::chrono::steady_clock::now();
  std::vector<FILE*> results;
  std::vector<pid_t> workers;
  for (int j = 0; j < jobs; j++) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return 2;
    pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
      close(pipeEnds[0]);
      FILE* out = fdopen(pipeEnds[1], "w");
      Work(j, jobs, seconds, only, first, out);
      fclose(out);
      _exit(0);
    }
    close(pipeEnds[1]);
    results.push_back(fdopen(pipeEnds[0], "r"));
    workers.push_back(pid);
  }

  Counts total;
  std::vector<std::string> failures;
  bool complete = true;
  for (int j = 0; j < jobs; j++) {
    char line[4096];
    while (fgets(line, sizeof line, results[(size_t)j])) {
      int p;
      long s, f[guard::FaultKinds];
      static_assert(guard::FaultKinds == 5, "a kind of fault not read");
      if (sscanf(line, "count %d %ld %ld %ld %ld %ld %ld", &p, &s, &f[0], &f[1],
                 &f[2], &f[3], &f[4]) == 2 + guard::FaultKinds &&
          p >= 0 && p < guard::ProfileCount) {
        total.Scenarios[p] += s;
        for (int k = 0; k < guard::FaultKinds; k++) total.Found[p][k] += f[k];
      } else {
        failures.push_back(line);
      }
    }
    fclose(results[(size_t)j]);
    int status = 0;
    waitpid(workers[(size_t)j], &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      complete = false;
      printf("worker %d ended abnormally (status %d)\n", j, status);
    }
  }
  double spent =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();

  long all = 0, faults[guard::FaultKinds] = {};
  printf("%-14s %10s %8s %8s %10s %12s %10s\n", "profile", "scenarios", "wrong",
         "failed", "not good", "unannounced", "undecided");
  for (int p = 0; p < guard::ProfileCount; p++) {
    if (total.Scenarios[p] == 0) continue;
    all += total.Scenarios[p];
    for (int k = 0; k < guard::FaultKinds; k++) faults[k] += total.Found[p][k];
    printf("%-14s %10ld %8ld %8ld %10ld %12ld %10ld\n",
           guard::ProfileKey((Profile)p), total.Scenarios[p],
           total.Found[p][guard::WrongSwitch],
           total.Found[p][guard::FailedReadingDecided],
           total.Found[p][guard::LossUncorrected],
           total.Found[p][guard::BlindUnannounced],
           total.Found[p][guard::HealthyUndecided]);
  }
  printf(
      "%ld scenarios in %.1f s: %.0f a second; %ld with a wrong level "
      "command, %ld with a failed reading decided, %ld with an output lost "
      "and not made good, %ld with the blindness unannounced, %ld healthy "
      "undecided\n",
      all, spent, all / spent, faults[guard::WrongSwitch],
      faults[guard::FailedReadingDecided], faults[guard::LossUncorrected],
      faults[guard::BlindUnannounced], faults[guard::HealthyUndecided]);
  if (!failures.empty()) {
    printf(
        "first failures (seed, profile, kind 0 wrong / 1 failed reading "
        "decided / 2 not made good / 3 unannounced / 4 undecided):\n");
    for (const std::string& f : failures) printf("  %s", f.c_str());
  }
  bool found = false;
  for (long f : faults) found = found || f > 0;
  return found || !complete ? 1 : 0;
}
