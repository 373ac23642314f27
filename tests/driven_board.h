// The board simulator in place of the connection, on the headless layer's
// driven clock: the same replies, faults and timing as on its loopback
// port, with no socket and no real waiting. A reply 700 ms late moves the
// clock by 700 ms when the program waits for it, and takes no time.
#pragma once

#include <vector>

#include "platform/headless/headless.h"
#include "simulator/simulator.h"

class DrivenBoard : public HeadlessBoardModel {
 public:
  // Starts `sim` on the driven clock, standing for loopback port `port`,
  // and puts it in place of the connection; HeadlessReset (or
  // HeadlessSetBoardModel) takes it away.
  DrivenBoard(kvxsim::Simulator* sim, uint16_t port);

  bool Listens(int port) override;
  bool Accept(uint32_t now, std::vector<HeadlessArrival>* out) override;
  void Take(const char* bytes, int length, uint32_t now,
            std::vector<HeadlessArrival>* out) override;
  bool Update(uint32_t now, std::vector<HeadlessArrival>* out) override;
  void Closed(uint32_t now) override;

 private:
  kvxsim::Simulator* sim_;
  std::vector<kvxsim::Simulator::Arrival> pieces_;
  void Hand(std::vector<HeadlessArrival>* out);
};
