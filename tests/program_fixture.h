// Test ground shared by the tests that talk to the simulated board: the
// simulator on the driven clock in place of the connection (or, for the
// tests of the link itself, on an ephemeral loopback port), the headless
// platform reset and pointed at it, and ways to run the program or just its
// board link.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "simulator/simulator.h"
#include "tests/driven_board.h"
#include "tests/support/board_query.h"
#include "ui/control_numbers.h"

class BoardTest : public ::testing::Test {
 protected:
  kvxsim::Simulator Sim;
  // The board on a real loopback socket and the real clock, for the tests
  // of the link itself; set by the fixture's constructor.
  bool RealSocket = false;

  void SetUp() override;
  void TearDown() override;

  // Runs the whole program. `atWait` is called at every wait of the main
  // loop with the wait's number (1 for the first); it may post events. The
  // run ends by itself after `waitLimit` waits. Returns the exit code.
  int RunProgram(const std::function<void(int wait)>& atWait,
                 int waitLimit = 20000);

  // The program run as a list of steps, one at each wait of the main loop
  // (so each step sees what the one before it caused), QUIT after the
  // last: the one way a test scripts a run step by step. RunProgram with a
  // hook of its own is for runs that watch a condition at every wait.
  void Then(std::function<void()> step) { Steps.push_back(std::move(step)); }
  // A step that takes as many passes as `done` needs to come true, at
  // most `passes`; `otherwise` says what failed.
  void ThenWithin(int passes, std::function<bool()> done,
                  std::function<std::string()> otherwise);
  // A step that waits, at most `passes` passes, until `ready` comes true,
  // and then does `act` at that same wait.
  void ThenWhen(int passes, std::function<bool()> ready,
                std::function<void()> act, const std::string& what);
  // A step that clicks `control` as soon as it is usable (a button made
  // usable again stays greyed until the main loop has taken the clicks
  // made meanwhile), within `passes`.
  void ThenClick(int control, int passes = 20);
  // Runs the program through the steps; expects exit code 0, the QUIT
  // posted and no message box.
  void RunSteps(int waitLimit = 20000);

  // HeadlessReset for a test that starts the program more than once: the
  // board stays in place of the connection, at its port.
  void ResetPlatform();

  // Only the board link: defaults in place, networking started and the
  // connection open, no window. Released again by TearDown.
  void ConnectOnly();

  // Every byte the simulator has received so far, in order.
  std::string ReceivedBytes();
  // Texts of the commands the simulator has parsed so far, in order.
  std::vector<std::string> CommandTexts();
  // Waits (bounded) until the simulator has parsed `count` commands.
  void ExpectCommands(uint64_t count);

 private:
  std::vector<std::function<void()>> Steps;
  size_t next_ = 0;
  bool linkOnly_ = false;
  std::unique_ptr<DrivenBoard> driven_;
};

// The same on a real loopback socket.
class RealBoardTest : public BoardTest {
 protected:
  RealBoardTest() { RealSocket = true; }
};

// The board link and the main window, with the click loaded and the three
// well functions released as after start-up: the handlers are called
// directly, without the main loop.
class HandlerTest : public BoardTest {
 protected:
  void SetUp() override;

  // One whole measurement cycle of period 10 s (its evaluations at ticks
  // 13 to 15), tick by tick, the driven clock moving a second a tick (and
  // by the time each tick's exchanges with the board take) and the history
  // window redrawn as the main loop does; the well stands at `counts`.
  void MeasureWholeCycle(double counts);
  // The setports of outputs 4 and 5 the simulator has parsed, in order.
  std::vector<std::string> LevelCommands();
};

// A loopback port on which nothing listens.
int UnusedPort();

// Connections to a loopback listener that never accepts them, until its
// accept queue is full: the last one stays pending, and from then on the
// system drops every SYN to that port, so a connect there neither
// completes nor fails until the queue has room again.
class FullAcceptQueue {
 public:
  ~FullAcceptQueue() { Release(); }
  // False when the queue did not fill within 64 connections, or a
  // connection failed.
  bool Fill(int port);
  // Closes every filling connection: the queue has room again.
  void Release();

 private:
  std::vector<int> fillers_;
};

// A listener on loopback with the smallest accept queue, never accepting;
// its socket (-1 when none could be made), its port in `*port`.
int SilentListener(int* port);

// The two text colours the program sets.
constexpr uint32_t Red = 0x000000FF;
constexpr uint32_t Blue = 0x00FF0000;

// Control `number` of an open window; an empty record when there is none.
const HeadlessControl& C(int number);

// What is wrong with the last pulse of output `n` as the board saw it, ""
// when nothing is: its on, then its off `delayMs` after the command before
// the off (the program's board query between them) was answered, and no
// later than that reply and its quiet allow.
std::string PulseFault(const std::vector<kvxsim::CommandRecord>& log, int n,
                       uint32_t delayMs);

// Only the setport commands of a command list.
std::vector<std::string> OnlySetports(const std::vector<std::string>& all);
