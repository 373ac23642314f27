// The MQTT client in the running program, on the driven clock, its broker
// played by the test: without /mqtt no connection is ever opened; with it
// the guard queries and decides exactly as without it, whatever the
// broker does, and what the program publishes follows the well. And the
// options: /mqtt, /mqtt-name, /mqtt-login and the login file.
#include <arpa/inet.h>

#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "base/state.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_packets.h"
#include "tests/mqtt_broker.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

using Wire = std::vector<std::string>;

class MqttInTheProgram : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Sim.SetLevel(150);  // 0,73 V
  }

  // The program run for `seconds` of driven time with `arguments`,
  // `atWait` called at every event wait and while it waits for the board,
  // `before` after the platform's reset; then QUIT.
  Wire Run(const std::string& arguments, int seconds,
           std::function<void()> atWait = {},
           std::function<void()> before = {}) {
    ResetPlatform();
    if (before) before();
    for (int n = 1; n <= 8; n++) Sim.SetOutput(n, false);
    Sim.ClearLog();
    HeadlessSetCommandLine(("korvalinex.exe " + arguments).c_str());
    if (atWait) HeadlessSetServeHook(atWait);
    bool quit = false;
    int code = RunProgram(
        [&](int) {
          if (atWait) atWait();
          if (!quit && PlatTickCount() >= (uint32_t)seconds * 1000)
            quit = HeadlessPostClick(ButtonQuit);
        },
        1000000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quit);
    Wire wire;
    for (const kvxsim::CommandRecord& c : Sim.Commands())
      wire.push_back(std::to_string(c.time) + " " + c.text);
    return wire;
  }
};

TEST_F(MqttInTheProgram, WithoutTheOptionNoConnectionIsOpened) {
  Run("", 100);
  EXPECT_EQ(HeadlessOpenNowCount(), 0);
  EXPECT_EQ(AppState.Mqtt.StatusText, "");
  EXPECT_EQ(AppState.Mqtt.Snapshot.Serial, 0);
  EXPECT_TRUE(AppState.Mqtt.Events.empty());
}

TEST_F(MqttInTheProgram, WhateverTheBrokerSendsTheGuardIsAsWithoutIt) {
  Wire without = Run("", 400);
  int evaluations = AppState.History.EvaluationCount;
  ASSERT_GE(evaluations, 3);

  PlayedBroker broker(1883);
  std::vector<BrokerPacket> got;
  int round = 0;
  uint32_t next = 0;
  auto play = [&] {
    if (broker.Connection() < 0) return;
    for (const BrokerPacket& p : broker.Take()) {
      got.push_back(p);
      if (p.Type == MqttConnect) broker.Connack(0);
    }
    uint32_t now = PlatTickCount();
    if ((int32_t)(now - next) < 0 || !MqttConnected()) return;
    next = now + 7000;
    switch (round++ % 5) {
      case 0:  // commands the client never asked for
        broker.Send(
            MqttPublishPacket("korvalinex/brunnen/set", "setport 4.1", false));
        broker.Send(MqttPublishPacket("#", "setport 5.1", true));
        break;
      case 1:
        broker.Send(std::string("\xD0\x00\xD0\x00\x90\x03\x00\x01\x00", 9));
        break;
      case 2:  // garbage: the connection ends, a new one at 30 s
        broker.Send("setport 4.1\r\n");
        break;
      case 3:  // a megabyte
        broker.Send(MqttPublishPacket("x", std::string(1 << 20, 's'), false));
        break;
      default:  // nothing
        break;
    }
  };
  Wire with = Run("/mqtt 127.0.0.1:1883", 400, play,
                  [] { HeadlessPlayPeer(1883, HeadlessPeerTakes); });
  EXPECT_TRUE(with == without) << "the wire changed";
  EXPECT_EQ(AppState.History.EvaluationCount, evaluations);
  EXPECT_GE(MqttCounted().Dropped, 2);
  EXPECT_GE(MqttCounted().Ignored, 2);
  EXPECT_GE(broker.Connections(), 3);

  // What was published: the level of each evaluation, the board online,
  // the start as an event, and at the end "offline".
  int levels = 0;
  bool online = false, started = false;
  for (const BrokerPacket& p : got) {
    EXPECT_NE(p.Type, MqttSubscribe);
    if (p.Topic() == "korvalinex/brunnen/level") levels++;
    if (p.Topic() == "korvalinex/brunnen/board" && p.Payload() == "online")
      online = true;
    if (p.Topic() == "korvalinex/brunnen/event" &&
        p.Payload().find("\"name\":\"programm-start\"") != std::string::npos)
      started = true;
  }
  EXPECT_GE(levels, 1);
  EXPECT_TRUE(online);
  EXPECT_TRUE(started);
}

TEST_F(MqttInTheProgram, ADeadBrokerKeepsNothingFromTheGuard) {
  Wire without = Run("", 400);
  Wire with = Run("/mqtt 127.0.0.1:1883 /mqtt-name nord", 400, {},
                  [] { HeadlessPlayPeer(1883, HeadlessPeerSilent); });
  EXPECT_TRUE(with == without) << "the wire changed";
  EXPECT_GE(MqttCounted().Tries, 13);  // every 30 s
  EXPECT_LE(MqttCounted().Tries, 14);
  EXPECT_LE(MqttWaiting(), (int)MqttEventsKept);
  EXPECT_NE(AppState.Mqtt.StatusText.find("antwortet nicht"), Text::npos);
}

TEST_F(MqttInTheProgram, TheLoginFileIsReadAtStartAndAWrongOneEndsIt) {
  PlayedBroker broker(1883);
  std::string connect;
  Run(
      "/mqtt 127.0.0.1:1883 /mqtt-login C:\\Brunnen\\mqtt.txt", 20,
      [&] {
        for (const BrokerPacket& p : broker.Take())
          if (p.Type == MqttConnect) connect = p.Body;
      },
      [] {
        HeadlessPlayPeer(1883, HeadlessPeerTakes);
        HeadlessPutFile("C:\\Brunnen\\mqtt.txt", "brunnen\r\ngeheim 1\r\n");
      });
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(AppState.Mqtt.Settings.User, "brunnen");
  EXPECT_EQ(AppState.Mqtt.Settings.Password, "geheim 1");
  ASSERT_FALSE(connect.empty());
  EXPECT_EQ((unsigned char)connect[7], 0xE6);
  EXPECT_NE(connect.find("geheim 1"), std::string::npos);

  const size_t connections = Sim.ConnectionCount();
  for (const char* content : {"", "nur-ein-benutzer\r\n", "a\nb\nc\n"}) {
    ResetPlatform();
    HeadlessPutFile("C:\\m.txt", content);
    HeadlessSetCommandLine(
        "korvalinex.exe /mqtt 127.0.0.1:1883 /mqtt-login C:\\m.txt");
    EXPECT_EQ(ProgramMain(), 0);
    ASSERT_EQ(HeadlessMessageBoxes().size(), 1u) << content;
    EXPECT_NE(HeadlessMessageBoxes()[0].Body.find("nicht genau zwei Zeilen"),
              Text::npos);
    EXPECT_EQ(HeadlessOpenNowCount(), 0);
    EXPECT_EQ(Sim.ConnectionCount(), connections);
  }
  ResetPlatform();
  HeadlessSetCommandLine(
      "korvalinex.exe /mqtt 127.0.0.1:1883 /mqtt-login C:\\fehlt.txt");
  EXPECT_EQ(ProgramMain(), 0);
  ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
  EXPECT_NE(HeadlessMessageBoxes()[0].Body.find("gibt es nicht"), Text::npos);
}

TEST(CommandLineOptions, MqttTakesABrokerANameAndALoginFile) {
  ProgramOptions o;
  std::vector<Text> rest;
  Text problem;
  ASSERT_TRUE(ReadOptions({"/MQTT", "192.168.1.10:1883", "10.0.0.5"}, &o, &rest,
                          &problem))
      << problem;
  EXPECT_EQ(o.MqttPort, 1883);
  EXPECT_EQ(o.MqttHost, inet_addr("192.168.1.10"));
  EXPECT_EQ(o.MqttName, "brunnen");
  ASSERT_TRUE(ReadOptions({"/mqtt", "127.0.0.1:1", "/mqtt-name", "Nord_2-b",
                           "/mqtt-login", "C:\\m.txt"},
                          &o, &rest, &problem));
  EXPECT_EQ(o.MqttName, "Nord_2-b");
  EXPECT_EQ(o.MqttLoginFile, "C:\\m.txt");

  const std::vector<std::pair<std::vector<Text>, Text>> wrong = {
      {{"/mqtt"}, "Nach /mqtt fehlt der Endpunkt."},
      {{"/mqtt", "broker:1883"}, "keine IPv4-Adresse mit Port"},
      {{"/mqtt", "1.2.3.4:0"}, "keine IPv4-Adresse mit Port"},
      {{"/mqtt-name", "a"}, "/mqtt-name gilt nur mit /mqtt"},
      {{"/mqtt-login", "a"}, "/mqtt-login gilt nur mit /mqtt"},
      {{"/mqtt", "1.2.3.4:1", "/mqtt-name", "a/b"}, "erlaubt sind A-Z"},
      {{"/mqtt", "1.2.3.4:1", "/mqtt-name", "#"}, "erlaubt sind A-Z"},
      {{"/mqtt", "1.2.3.4:1", "/mqtt-name", Text(13, 'a')}, "zu lang"},
  };
  for (const auto& [arguments, named] : wrong) {
    ProgramOptions untouched;
    untouched.MqttEndpoint = "unchanged";
    EXPECT_FALSE(ReadOptions(arguments, &untouched, &rest, &problem)) << named;
    EXPECT_EQ(untouched.MqttEndpoint, "unchanged");
    EXPECT_NE(problem.find(named), Text::npos) << problem;
    EXPECT_NE(problem.find("IP:PORT nach /mqtt"), Text::npos);
  }

  Text user, password;
  EXPECT_TRUE(ReadMqttLogin("u\npw", &user, &password));
  EXPECT_EQ(user, "u");
  EXPECT_EQ(password, "pw");
  EXPECT_FALSE(ReadMqttLogin("u\r\n\r\n\r\n", &user, &password));
  EXPECT_FALSE(ReadMqttLogin("\npw\n", &user, &password));
  EXPECT_FALSE(ReadMqttLogin("u\npw\x01\n", &user, &password));
  EXPECT_FALSE(ReadMqttLogin(Text(257, 'u') + "\npw", &user, &password));
}

}  // namespace
