// kvx-mqtt-run: the program over the headless platform, in real time,
// against the board simulator (in this process, on a free loopback port)
// and a real MQTT broker, for tests/mqtt_broker_test.sh.
//
//   kvx-mqtt-run --seconds S [--login FILE] [--] OPTION...
//
// The program starts with the options given and the simulator's address
// and port, runs S seconds of real time and ends with QUIT (or is killed
// before that by the test). --login FILE: the real file is put where
// /mqtt-login C:\Brunnen\mqtt.txt finds it. Prints key=value lines at the
// end: the client's counts and its line of the history window.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "base/state.h"
#include "mqtt/mqtt_client.h"
#include "platform/headless/headless.h"
#include "simulator/simulator.h"
#include "ui/control_numbers.h"

int main(int argc, char** argv) {
  int seconds = 0;
  std::string login, options;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = atoi(argv[++i]);
    } else if (a == "--login" && i + 1 < argc) {
      login = argv[++i];
    } else if (a == "--") {
      continue;
    } else {
      options += " " + a;
    }
  }
  if (seconds <= 0 || seconds > 600) {
    fprintf(stderr,
            "usage: kvx-mqtt-run --seconds S [--login FILE] OPTION...\n");
    return 2;
  }
  kvxsim::Simulator sim;
  if (!sim.Start(0, "127.0.0.1")) {
    fprintf(stderr, "kvx-mqtt-run: the simulator did not start\n");
    return 1;
  }
  HeadlessReset();
  HeadlessSetBoardPort(sim.Port());
  if (!login.empty()) {
    std::ifstream in(login, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    HeadlessPutFile("C:\\Brunnen\\mqtt.txt", bytes.str());
  }
  std::string line =
      "korvalinex.exe" + options + " 127.0.0.1 " + std::to_string(sim.Port());
  HeadlessSetCommandLine(line.c_str());
  // The driven clock in step with real time: each wait takes its time.
  HeadlessSetRealTimeWaits(true);
  HeadlessSetWaitLimit(seconds * 100 + 1000);
  auto start = std::chrono::steady_clock::now();
  bool quit = false;
  HeadlessSetWaitHook([&] {
    if (quit) return;
    if (std::chrono::steady_clock::now() - start >=
        std::chrono::seconds(seconds))
      quit = HeadlessPostClick(ButtonQuit);
  });
  ProgramMain();
  HeadlessSetWaitHook(nullptr);
  sim.Stop();
  for (const HeadlessMessageBox& box : HeadlessMessageBoxes())
    printf("message=%s\n", box.Body.c_str());
  MqttCounts c = MqttCounted();
  printf(
      "tries=%d\naccepted=%d\nrefused=%d\nlast_refusal=%d\ndropped=%d\n"
      "published=%d\npings=%d\nignored=%d\nstatus=%s\n",
      c.Tries, c.Accepted, c.Refused, c.LastRefusal, c.Dropped, c.Published,
      c.Pings, c.Ignored, AppState.Mqtt.StatusText.c_str());
  return quit && HeadlessMessageBoxes().empty() ? 0 : 1;
}
