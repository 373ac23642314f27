// The MQTT client on the driven clock against a broker the test plays:
// CONNECT and what follows CONNACK, the refusals, the keep-alive, the
// tries every 30 s, the bounds of what waits for a dead or slow broker,
// what a broker may send, and the goodbye.
#include "mqtt/mqtt_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/state.h"
#include "control/mqtt_snapshot.h"
#include "mqtt/mqtt_packets.h"
#include "platform/headless/headless.h"
#include "tests/mqtt_broker.h"

namespace {

const int Port = 1883;

class MqttClient : public ::testing::Test {
 protected:
  PlayedBroker Broker{Port};

  void SetUp() override {
    HeadlessReset();
    ZeroAppState();
    MqttSettings& m = AppState.Mqtt.Settings;
    m.Address = "127.0.0.1";
    m.Host = inet_addr("127.0.0.1");
    m.Port = Port;
    m.Name = "brunnen";
    MqttSnapshot& s = AppState.Mqtt.Snapshot;
    s.BoardAddress = "127.0.0.1";
    s.BoardPort = 50290;
    s.Connected = true;
    s.CyclePeriod = 360;
    s.ReadingsTrusted = true;
    for (int n = 1; n <= 8; n++) s.Output[n] = ContactOpen;
    HeadlessPlayPeer(Port, HeadlessPeerTakes);
    Evaluate(0.5);
  }

  void TearDown() override {
    StopMqttClient();
    HeadlessReset();
  }

  // A new snapshot after an evaluation at `level`.
  void Evaluate(double level) {
    MqttSnapshot& s = AppState.Mqtt.Snapshot;
    s.Serial++;
    s.Evaluated = true;
    s.EvaluationCount++;
    s.EvaluationUniversal = 1796539500 + s.EvaluationCount;
    s.Level = level;
  }

  // Serves for `ms` of driven time, every ServeSlice.
  void Serve(int ms) {
    for (int t = 0; t < ms; t += ServeSlice) {
      ServeMqtt();
      HeadlessAdvanceClock(ServeSlice);
    }
  }

  // Started, accepted, and everything it published at first taken.
  std::vector<BrokerPacket> Accepted() {
    StartMqttClient();
    ServeMqtt();
    Broker.Take();
    Broker.Connack(0);
    Serve(100);
    EXPECT_TRUE(MqttConnected());
    return Broker.Take();
  }

  static std::vector<std::string> Topics(const std::vector<BrokerPacket>& p) {
    std::vector<std::string> t;
    for (const BrokerPacket& x : p)
      if (x.Type == MqttPublish) t.push_back(x.Topic());
    return t;
  }
};

TEST_F(MqttClient, ConnectsThenPublishesOnlineDiscoveryAndStatesRetained) {
  StartMqttClient();
  ServeMqtt();
  std::vector<BrokerPacket> first = Broker.Take();
  ASSERT_EQ(first.size(), 1u);
  MqttConnectForm form{"korvalinex-brunnen",
                       60,
                       "korvalinex/brunnen/status",
                       "offline",
                       false,
                       "",
                       ""};
  EXPECT_EQ(first[0].Type, MqttConnect);
  EXPECT_EQ(first[0].Body, MqttConnectPacket(form).substr(2));
  // Nothing before CONNACK.
  Serve(5000);
  EXPECT_TRUE(Broker.Take().empty());
  EXPECT_FALSE(MqttConnected());

  Broker.Connack(0);
  Serve(100);
  std::vector<BrokerPacket> got = Broker.Take();
  ASSERT_GT(got.size(), 15u);
  EXPECT_EQ(got[0].Topic(), "korvalinex/brunnen/status");
  EXPECT_EQ(got[0].Payload(), "online");
  int configs = 0, states = 0;
  for (size_t i = 1; i < got.size(); i++) {
    const BrokerPacket& p = got[i];
    ASSERT_EQ(p.Type, MqttPublish);
    EXPECT_TRUE(p.Retained()) << p.Topic();
    if (p.Topic().rfind("homeassistant/", 0) == 0) {
      configs++;
      EXPECT_EQ(states, 0) << "the discovery before the states";
    } else {
      states++;
    }
  }
  EXPECT_GE(configs, 13);
  EXPECT_NE(AppState.Mqtt.StatusText.find("verbunden mit 127.0.0.1:1883"),
            Text::npos);

  // A new evaluation at the same level: the level alone, again.
  Evaluate(0.5);
  Serve(100);
  EXPECT_EQ(Topics(Broker.Take()),
            (std::vector<std::string>{"korvalinex/brunnen/level",
                                      "korvalinex/brunnen/last_evaluation"}));
  // A query that saw output 4 go on: that alone.
  AppState.Mqtt.Snapshot.Output[4] = ContactClosed;
  AppState.Mqtt.Snapshot.Serial++;
  Serve(100);
  got = Broker.Take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Topic(), "korvalinex/brunnen/output/4");
  EXPECT_EQ(got[0].Payload(), "ON");
}

TEST_F(MqttClient, EachRefusalIsToldAndTriedAgainThirtySecondsAfterTheTry) {
  for (int code = 1; code <= 5; code++) {
    SetUp();
    StartMqttClient();
    ServeMqtt();
    int c = Broker.Connection();
    Broker.Take();
    Serve(1000);
    Broker.Connack(code);
    Serve(100);
    EXPECT_FALSE(MqttConnected());
    EXPECT_TRUE(HeadlessClientClosedByServer(c)) << code;
    EXPECT_TRUE(Broker.Take().empty()) << "nothing published";
    MqttCounts counts = MqttCounted();
    EXPECT_EQ(counts.Refused, 1);
    EXPECT_EQ(counts.LastRefusal, code);
    EXPECT_NE(AppState.Mqtt.StatusText.find(MqttRefusalText(code)), Text::npos)
        << AppState.Mqtt.StatusText;
    EXPECT_NE(AppState.Mqtt.StatusText.find("Neuer Versuch alle 30 s"),
              Text::npos);
    Serve(MqttRetryTime - 1100 - 2 * ServeSlice);
    EXPECT_EQ(Broker.Connections(), 1) << code;
    Serve(4 * ServeSlice);
    EXPECT_EQ(Broker.Connections(), 2) << code;
    std::vector<BrokerPacket> again = Broker.Take();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Type, MqttConnect);
    StopMqttClient();
  }
}

TEST_F(MqttClient, PingsAfterAMinuteOfSilenceAndDropsABrokerThatDoesNotAnswer) {
  Accepted();
  Serve(MqttKeepAlive * 1000 - 200);
  EXPECT_TRUE(Broker.Take().empty());
  Serve(400);
  std::vector<BrokerPacket> ping = Broker.Take();
  ASSERT_EQ(ping.size(), 1u);
  EXPECT_EQ(ping[0].Type, MqttPingreq);
  Broker.Send(std::string("\xD0\x00", 2));
  Serve(MqttKeepAlive * 1000 - 600);
  EXPECT_TRUE(Broker.Take().empty());
  EXPECT_TRUE(MqttConnected()) << AppState.Mqtt.StatusText;
  Serve(800);
  ASSERT_EQ(Broker.Take().size(), 1u);  // the second PINGREQ, unanswered
  int c = Broker.Connection();
  Serve(MqttAnswerTime - 1000);
  EXPECT_TRUE(MqttConnected());
  Serve(1000);
  EXPECT_FALSE(MqttConnected());
  EXPECT_TRUE(HeadlessClientClosedByServer(c));
  EXPECT_EQ(MqttCounted().Dropped, 1);
  EXPECT_EQ(MqttCounted().Pings, 2);
  // Its try began minutes ago: the next comes at once.
  Serve(2 * ServeSlice);
  EXPECT_EQ(Broker.Connections(), 2);
}

TEST_F(MqttClient, ADeadBrokerIsTriedEvery30sAndWhatWaitsStaysBounded) {
  HeadlessPlayPeer(Port, HeadlessPeerRefuses);
  StartMqttClient();
  // Five minutes: a query a second, an evaluation and an event each.
  for (int s = 0; s < 300; s++) {
    Evaluate(0.2 + (s % 50) / 100.0);
    AppState.Mqtt.Snapshot.Output[5] = s % 2 ? ContactClosed : ContactOpen;
    NoteMqttEvent("test", "Ereignis " + std::to_string(s), NAN,
                  PlatLocalClock(), PlatUniversalClock());
    Serve(1000);
    ASSERT_LE(MqttWaiting(), (int)MqttEventsKept);
    ASSERT_LE(AppState.Mqtt.Events.size(), (size_t)MqttEventsKept);
    ASSERT_EQ(MqttUnsent(), 0);
  }
  EXPECT_EQ(MqttCounted().Tries, 10);  // at 0, 30, ... 270 s
  EXPECT_EQ(HeadlessOpenNowCount(), 10);
  EXPECT_NE(AppState.Mqtt.StatusText.find("nicht erreichbar"), Text::npos);

  // A broker that takes the connection and never answers it: given up
  // after MqttAnswerTime, tried again at 30 s.
  HeadlessPlayPeer(Port, HeadlessPeerSilent);
  Serve(30000);
  EXPECT_EQ(MqttCounted().Tries, 11);
  EXPECT_NE(AppState.Mqtt.StatusText.find("antwortet nicht"), Text::npos);

  // Back: the last events, the oldest first, after the states.
  HeadlessPlayPeer(Port, HeadlessPeerTakes);
  for (int t = 0; t < MqttRetryTime && Broker.Connections() == 0;
       t += ServeSlice)
    Serve(ServeSlice);
  ASSERT_EQ(Broker.Connections(), 1);
  Broker.Take();
  Broker.Connack(0);
  Serve(100);
  std::vector<std::string> events;
  for (const BrokerPacket& p : Broker.Take())
    if (p.Topic() == "korvalinex/brunnen/event") {
      EXPECT_FALSE(p.Retained());
      events.push_back(p.Payload());
    }
  ASSERT_EQ(events.size(), (size_t)MqttEventsKept) << AppState.Mqtt.StatusText;
  EXPECT_NE(events.front().find("\"text\":\"Ereignis 284\""), std::string::npos)
      << events.front();
  EXPECT_NE(events.back().find("\"text\":\"Ereignis 299\""), std::string::npos);
}

TEST_F(MqttClient, ASlowBrokerHoldsNothingAndIsDroppedWhenItTakesNothing) {
  StartMqttClient();
  ServeMqtt();
  int c = Broker.Connection();
  HeadlessClientWindow(c, 300);
  Broker.Take();
  Broker.Connack(0);
  int mostUnsent = 0, mostWaiting = 0;
  for (int i = 0; i < 14; i++) {
    Evaluate(0.1 + i / 100.0);
    AppState.Mqtt.Snapshot.Output[6] = i % 2 ? ContactClosed : ContactOpen;
    Serve(1000);
    mostUnsent = std::max(mostUnsent, MqttUnsent());
    mostWaiting = std::max(mostWaiting, MqttWaiting());
  }
  EXPECT_TRUE(MqttConnected());
  EXPECT_LE(mostUnsent, (int)MqttFormedAtOnce + 4096);
  EXPECT_LE(mostWaiting, 40);  // one value a topic
  EXPECT_GT(MqttCounted().Replaced, 0);
  Serve(MqttAnswerTime);
  EXPECT_FALSE(MqttConnected());
  EXPECT_TRUE(HeadlessClientClosedByServer(c));
  EXPECT_NE(AppState.Mqtt.StatusText.find("nimmt nichts mehr an"), Text::npos);
}

TEST_F(MqttClient, WhatTheBrokerSendsIsCountedOffOrEndsTheConnection) {
  Accepted();
  // A PUBLISH the client never asked for, of any QoS: counted, forgotten.
  Broker.Send(MqttPublishPacket("korvalinex/brunnen/set", "setport 4.1", true));
  Broker.Send(std::string("\x32\x08\x00\x03set\x00\x01x", 10));
  Broker.Send(std::string("\x90\x03\x00\x01\x00", 5));  // a SUBACK
  Serve(100);
  EXPECT_TRUE(MqttConnected());
  EXPECT_EQ(MqttCounted().Ignored, 3);
  // A second CONNACK, a reserved type, a megabyte: each ends it.
  const std::vector<std::string> wrong = {
      std::string("\x20\x02\x00\x00", 4), std::string("\xF0\x00", 2),
      MqttPublishPacket("t", std::string(1 << 20, 'a'), false)};
  int dropped = 0;
  for (const std::string& bytes : wrong) {
    if (!MqttConnected()) {
      Serve(MqttRetryTime);
      Broker.Take();
      Broker.Connack(0);
      Serve(100);
    }
    ASSERT_TRUE(MqttConnected());
    Broker.Send(bytes);
    Serve(100);
    EXPECT_FALSE(MqttConnected());
    EXPECT_EQ(MqttCounted().Dropped, ++dropped);
  }
  EXPECT_NE(AppState.Mqtt.StatusText.find("Unverst"), Text::npos);
  for (const BrokerPacket& p : Broker.Take()) EXPECT_NE(p.Type, MqttSubscribe);
}

TEST_F(MqttClient, SaysOfflineAndDisconnectsAtTheEnd) {
  Accepted();
  int c = Broker.Connection();
  StopMqttClient();
  std::vector<BrokerPacket> last = Broker.Take();
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last[0].Topic(), "korvalinex/brunnen/status");
  EXPECT_EQ(last[0].Payload(), "offline");
  EXPECT_TRUE(last[0].Retained());
  EXPECT_EQ(last[1].Type, MqttDisconnect);
  EXPECT_TRUE(HeadlessClientClosedByServer(c));
  // A broker that takes nothing keeps the end no longer than its bound.
  SetUp();
  Accepted();
  HeadlessClientWindow(Broker.Connection(), 0);
  uint32_t before = PlatTickCount();
  StopMqttClient();
  EXPECT_LE(PlatTickCount() - before, (uint32_t)MqttGoodbyeTime + ServeSlice);
}

}  // namespace
