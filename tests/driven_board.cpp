#include "tests/driven_board.h"

DrivenBoard::DrivenBoard(kvxsim::Simulator* sim, uint16_t port) : sim_(sim) {
  sim_->StartDriven([] { return PlatTickCount(); }, port);
  HeadlessSetBoardModel(this);
}

void DrivenBoard::Hand(std::vector<HeadlessArrival>* out) {
  for (kvxsim::Simulator::Arrival& a : pieces_)
    out->push_back(HeadlessArrival{a.at, std::move(a.bytes), a.closes});
  pieces_.clear();
}

bool DrivenBoard::Listens(int port) { return port == sim_->Port(); }

bool DrivenBoard::Accept(uint32_t now, std::vector<HeadlessArrival>* out) {
  bool accepted = sim_->DrivenAccept(now, &pieces_);
  Hand(out);
  return accepted;
}

void DrivenBoard::Take(const char* bytes, int length, uint32_t now,
                       std::vector<HeadlessArrival>* out) {
  if (length > 0) sim_->DrivenTake(bytes, (size_t)length, now, &pieces_);
  Hand(out);
}

bool DrivenBoard::Update(uint32_t now, std::vector<HeadlessArrival>* out) {
  bool withdraw = sim_->DrivenUpdate(now, &pieces_);
  Hand(out);
  return withdraw;
}

void DrivenBoard::Closed(uint32_t now) { sim_->DrivenClosed(now); }
