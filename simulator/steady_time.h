// The steady clock the simulator's log and well model run on by default.
#pragma once

#include <chrono>
#include <cstdint>

namespace kvxsim {

inline uint64_t SteadyNs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

inline double SteadySeconds() { return static_cast<double>(SteadyNs()) / 1e9; }

}  // namespace kvxsim
