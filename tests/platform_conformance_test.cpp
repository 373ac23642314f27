// The platform contract (tests/platform_checks.cpp) on the headless layer:
// the operator's hands are the headless test API, the board's end of the
// connection a POSIX socket.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/headless/headless.h"
#include "tests/platform_checks.h"

namespace {

int Listener = -1;
int Peer = -1;

void ClosePeer() {
  if (Peer >= 0) close(Peer);
  if (Listener >= 0) close(Listener);
  Peer = Listener = -1;
}

void Fresh() {
  ClosePeer();
  HeadlessReset();
}

bool Click(int number) { return HeadlessPostClick(number); }
void Type(int number, const Text& text) { HeadlessTypeText(number, text); }
void SpinStep(int number, int direction) {
  HeadlessSpinStep(number, direction);
}
void RequestClose(int window) { HeadlessPostClose(window); }

int Listen() {
  ClosePeer();
  Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Listener < 0) return 0;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  if (bind(Listener, (sockaddr*)&at, sizeof at) != 0 ||
      listen(Listener, 1) != 0 ||
      getsockname(Listener, (sockaddr*)&at, &size) != 0)
    return 0;
  return ntohs(at.sin_port);
}

bool Accept() {
  Peer = accept(Listener, nullptr, nullptr);
  return Peer >= 0;
}

bool Send(const void* bytes, int length, bool urgent) {
  const char* p = (const char*)bytes;
  while (length > 0) {
    ssize_t sent =
        send(Peer, p, (size_t)length, MSG_NOSIGNAL | (urgent ? MSG_OOB : 0));
    if (sent <= 0) return false;
    p += sent;
    length -= (int)sent;
  }
  return true;
}

int Arrived(PlatSocket socket, int wanted) {
  int count = 0;
  for (int i = 0; i < 2000; i++) {
    if (ioctl((int)socket, FIONREAD, &count) != 0) return -1;
    if (count >= wanted) break;
    poll(nullptr, 0, 1);
  }
  return count;
}

bool ChooseMenuItem(int window, const Text& text) {
  const HeadlessWindow* w = HeadlessFindWindow(window);
  if (!w || !w->Open) return false;
  for (const auto& item : w->SystemMenu)
    if (item.second == text)
      return HeadlessChooseSystemMenuItem(window, item.first);
  return false;
}

bool Resize(int window, int clientWidth, int clientHeight) {
  return HeadlessResizeWindow(window, clientWidth, clientHeight);
}

bool ControlPlace(int number, int* x, int* y, int* width, int* height) {
  const HeadlessControl* c = HeadlessFindControl(number);
  if (!c) return false;
  *x = c->X;
  *y = c->Y;
  *width = c->Width;
  *height = c->Height;
  return true;
}

Text ScratchFolder() {
  static int made = 0;
  Text folder = "C:\\kvx-checks-" + std::to_string(++made);
  HeadlessAddFolder(folder);
  return folder;
}

// The headless layer runs nothing: the script is a file, its arguments
// those of its last start.
Text ArgumentScript(const Text& folder) {
  Text script = folder + "\\argumente.cmd";
  HeadlessPutFile(script, "@echo off\r\n");
  return script;
}

bool ScriptArguments(const Text& folder, size_t count,
                     std::vector<Text>* arguments) {
  const std::vector<HeadlessProgramStart>& starts = HeadlessProgramStarts();
  for (auto s = starts.rbegin(); s != starts.rend(); ++s) {
    if (s->Program != folder + "\\argumente.cmd" || !s->Started) continue;
    *arguments = s->Arguments;
    return arguments->size() >= count;
  }
  return false;
}

const PlatformHands HeadlessHands = {
    Fresh,        Click,         Type,           SpinStep,
    RequestClose, Listen,        Accept,         Send,
    ClosePeer,    Arrived,       ChooseMenuItem, Resize,
    ControlPlace, ScratchFolder, ArgumentScript, ScriptArguments};

class PlatformContract : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { Hands = &HeadlessHands; }
  void TearDown() override { Fresh(); }
};

TEST_P(PlatformContract, Holds) {
  bool held = RunPlatformCheck(GetParam());
  for (const std::string& failure : PlatformCheckFailures())
    ADD_FAILURE() << failure;
  EXPECT_TRUE(held);
}

INSTANTIATE_TEST_SUITE_P(Headless, PlatformContract,
                         ::testing::Range(0, PlatformCheckCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(PlatformChecks[info.param].Name);
                         });

}  // namespace
