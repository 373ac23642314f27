// The MQTT packets byte for byte against vectors worked out by hand from
// the 3.1.1 wire format, the reading of what a broker sends in any
// pieces, and the JSON forms of what is published.
#include "mqtt/mqtt_packets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/utf8_text.h"
#include "mqtt/mqtt_discovery.h"
#include "mqtt/mqtt_json.h"
#include "mqtt/mqtt_reader.h"
#include "mqtt/mqtt_topics.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back((char)b);
  return s;
}

TEST(MqttPackets, RemainingLengthsOfOneToFourBytesAndNoneBeyond) {
  EXPECT_EQ(MqttRemainingLength(0), Bytes({0x00}));
  EXPECT_EQ(MqttRemainingLength(127), Bytes({0x7F}));
  EXPECT_EQ(MqttRemainingLength(128), Bytes({0x80, 0x01}));
  EXPECT_EQ(MqttRemainingLength(321), Bytes({0xC1, 0x02}));
  EXPECT_EQ(MqttRemainingLength(16383), Bytes({0xFF, 0x7F}));
  EXPECT_EQ(MqttRemainingLength(16384), Bytes({0x80, 0x80, 0x01}));
  EXPECT_EQ(MqttRemainingLength(2097151), Bytes({0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(MqttRemainingLength(2097152), Bytes({0x80, 0x80, 0x80, 0x01}));
  EXPECT_EQ(MqttRemainingLength(268435455), Bytes({0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(MqttRemainingLength(268435456), "");
  EXPECT_EQ(MqttRemainingLength(-1), "");
}

TEST(MqttPackets, ConnectHasACleanSessionAWillRetainedAndTheLoginWhenGiven) {
  MqttConnectForm form{"kvx", 60, "k/s", "offline", false, "", ""};
  // 10 bytes of variable header, 5 + 5 + 9 of payload: 29.
  EXPECT_EQ(MqttConnectPacket(form),
            Bytes({0x10, 29, 0,   4,   'M', 'Q', 'T', 'T', 4,   0x26, 0, 60,
                   0,    3,  'k', 'v', 'x', 0,   3,   'k', '/', 's',  0, 7}) +
                "offline");
  form.Login = true;
  form.User = "u";
  form.Password = "pw";
  EXPECT_EQ(MqttConnectPacket(form),
            Bytes({0x10, 36, 0,   4,   'M', 'Q', 'T', 'T', 4,   0xE6, 0, 60,
                   0,    3,  'k', 'v', 'x', 0,   3,   'k', '/', 's',  0, 7}) +
                "offline" + Bytes({0, 1, 'u', 0, 2, 'p', 'w'}));
  // A keep-alive of more than two bytes is held at their most; a field
  // longer than its length can say makes no packet.
  form.KeepAliveSeconds = 70000;
  EXPECT_EQ(MqttConnectPacket(form).substr(10, 2), Bytes({0xFF, 0xFF}));
  form.Password = std::string(65536, 'p');
  EXPECT_EQ(MqttConnectPacket(form), "");
  // A long password: two bytes of remaining length (36 - 2 + 200 = 234).
  form.Password = std::string(200, 'p');
  EXPECT_EQ(MqttConnectPacket(form).substr(0, 3), Bytes({0x10, 0xEA, 0x01}));
}

TEST(MqttPackets, PublishAtQos0RetainedOrNotWithoutAPacketIdentifier) {
  EXPECT_EQ(MqttPublishPacket("a/b", "1", true),
            Bytes({0x31, 6, 0, 3, 'a', '/', 'b', '1'}));
  EXPECT_EQ(MqttPublishPacket("a/b", "", false),
            Bytes({0x30, 5, 0, 3, 'a', '/', 'b'}));
  // 3 + 200 = 203 = 0x4B + 1 * 128.
  std::string p = MqttPublishPacket("t", std::string(200, 'x'), false);
  ASSERT_EQ(p.size(), 206u);
  EXPECT_EQ(p.substr(0, 6), Bytes({0x30, 0xCB, 0x01, 0, 1, 't'}));
  EXPECT_EQ(MqttPublishPacket("", "x", true), "");
  EXPECT_EQ(MqttPublishPacket(std::string(65536, 't'), "x", true), "");
  EXPECT_EQ(MqttPingreqPacket(), Bytes({0xC0, 0x00}));
  EXPECT_EQ(MqttDisconnectPacket(), Bytes({0xE0, 0x00}));
}

// Reads `bytes` cut into pieces of `piece` bytes: the packets and the
// first failure (MqttNeedMore when none).
struct ReadOut {
  std::vector<MqttInbound> Packets;
  MqttReadResult Failure = MqttNeedMore;
};
ReadOut ReadAll(const std::string& bytes, size_t piece) {
  MqttReader reader;
  MqttReaderStart(&reader);
  ReadOut out;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    std::string chunk = bytes.substr(at, piece);
    size_t i = 0;
    while (i < chunk.size()) {
      size_t used = 0;
      MqttInbound p;
      MqttReadResult r =
          MqttRead(&reader, chunk.data() + i, chunk.size() - i, &used, &p);
      EXPECT_GT(used, 0u);
      i += used;
      if (r == MqttWhole) out.Packets.push_back(p);
      if (r == MqttMalformed || r == MqttTooLong) {
        out.Failure = r;
        size_t none = 9;
        EXPECT_EQ(MqttRead(&reader, "\x20", 1, &none, &p), MqttMalformed);
        EXPECT_EQ(none, 0u);  // nothing more is taken
        return out;
      }
    }
  }
  return out;
}

TEST(MqttReader, PacketsInAnyPiecesKeepingOnlyTheirFirstBytes) {
  const std::string stream =
      Bytes({0x20, 2, 0, 4}) + Bytes({0xD0, 0}) +
      MqttPublishPacket("x", std::string(300, 'z'), false) +
      Bytes({0x20, 2, 1, 0});
  for (size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
    ReadOut out = ReadAll(stream, piece);
    EXPECT_EQ(out.Failure, MqttNeedMore);
    ASSERT_EQ(out.Packets.size(), 4u) << piece;
    EXPECT_EQ(out.Packets[0].Type, MqttConnack);
    EXPECT_EQ(out.Packets[0].Length, 2);
    EXPECT_EQ(out.Packets[0].Body[1], 4);
    EXPECT_EQ(out.Packets[1].Type, MqttPingresp);
    EXPECT_EQ(out.Packets[1].Length, 0);
    EXPECT_EQ(out.Packets[2].Type, MqttPublish);
    EXPECT_EQ(out.Packets[2].Length, 303);
    EXPECT_EQ(out.Packets[2].Body[2], 'x');
    EXPECT_EQ(out.Packets[3].Body[0], 1);
  }
}

TEST(MqttReader, ReservedTypesLongLengthsAndFiveLengthBytesEndTheReading) {
  EXPECT_EQ(ReadAll(Bytes({0x00, 0}), 1).Failure, MqttMalformed);
  EXPECT_EQ(ReadAll(Bytes({0xF0, 0}), 1).Failure, MqttMalformed);
  EXPECT_EQ(ReadAll(Bytes({0xD0, 0, 0xF0}), 3).Packets.size(), 1u);
  // A megabyte announced: refused at its length, before any of its bytes.
  std::string huge = MqttPublishPacket("t", std::string(1 << 20, 'a'), false);
  ReadOut out = ReadAll(huge, 4096);
  EXPECT_EQ(out.Failure, MqttTooLong);
  EXPECT_TRUE(out.Packets.empty());
  EXPECT_EQ(ReadAll(Bytes({0x30, 0x80, 0x80, 0x80, 0x01}), 1).Failure,
            MqttTooLong);
  // The longest read, and one more.
  std::string longest = Bytes({0x30}) +
                        MqttRemainingLength(MqttLongestInbound) +
                        std::string(MqttLongestInbound, 'b');
  EXPECT_EQ(ReadAll(longest, 100).Packets.size(), 1u);
  EXPECT_EQ(
      ReadAll(Bytes({0x30}) + MqttRemainingLength(MqttLongestInbound + 1), 1)
          .Failure,
      MqttTooLong);
  // Zero-valued continuation bytes keep the length small: the fifth
  // byte is what is wrong.
  EXPECT_EQ(ReadAll(Bytes({0xD0, 0x80, 0x80, 0x80, 0x80, 0x00}), 1).Failure,
            MqttMalformed);
}

TEST(MqttForms, TextsInUtf8VoltsWithAPointTimesWithTheirOffset) {
  EXPECT_EQ(Utf8FromWindows1252("W\xE4\x63hter \x80"),
            "W\xC3\xA4\x63hter \xE2\x82\xAC");
  EXPECT_EQ(Utf8FromWindows1252("\x81"), "\xEF\xBF\xBD");
  EXPECT_EQ(JsonString("a\"b\\c\r\n\x01"),
            "\"a\\\"b\\\\c\\u000d\\u000a\\u0001\"");
  EXPECT_EQ(WireVolts(0.18), "0.18");
  EXPECT_EQ(WireVolts(1.187), "1.18");  // cut as the operator sees it
  EXPECT_EQ(WireVolts(NAN), "null");
  // 06.12.2026 06:45:00 UTC.
  const int64_t t = 1796539500;
  EXPECT_EQ(UtcTimeText(t), "2026-12-06T06:45:00+00:00");
  EXPECT_EQ(ZonedTimeText(t, 3600), "2026-12-06T07:45:00+01:00");
  EXPECT_EQ(ZonedTimeText(t, -16200), "2026-12-06T02:15:00-04:30");
}

MqttSettings Settings() {
  MqttSettings s{};
  s.Address = "127.0.0.1";
  s.Port = 1883;
  s.Name = "brunnen";
  return s;
}

MqttSnapshot Snapshot() {
  MqttSnapshot s{};
  s.Serial = 1;
  s.BoardAddress = "192.168.1.50";
  s.BoardPort = 50290;
  s.Connected = true;
  s.CyclePeriod = 360;
  s.Output[4] = ContactClosed;
  s.Output[5] = ContactOpen;
  s.OutputName[3] = "Messung ";
  s.Evaluated = true;
  s.EvaluationUniversal = 1796539500;
  s.Level = 0.183;
  s.ReadingsTrusted = true;
  return s;
}

const MqttMessage* Find(const std::vector<MqttMessage>& m, const Text& topic) {
  for (const MqttMessage& x : m)
    if (x.Topic == topic) return &x;
  return nullptr;
}

TEST(MqttTopics, StatesRetainedTheLevelEveryEvaluationUnknownsLeftOut) {
  std::vector<MqttMessage> m = MqttStateMessages(Settings(), Snapshot());
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m[0].Topic, "korvalinex/brunnen/board");
  EXPECT_EQ(m[0].Payload, "online");
  const MqttMessage* level = Find(m, "korvalinex/brunnen/level");
  ASSERT_TRUE(level);
  EXPECT_EQ(level->Payload, "0.18");
  EXPECT_TRUE(level->EveryEvaluation);
  EXPECT_EQ(Find(m, "korvalinex/brunnen/output/4")->Payload, "ON");
  EXPECT_EQ(Find(m, "korvalinex/brunnen/output/5")->Payload, "OFF");
  EXPECT_FALSE(Find(m, "korvalinex/brunnen/output/1"));  // not said yet
  EXPECT_FALSE(Find(m, "korvalinex/brunnen/sensor"));    // no /sensor
  EXPECT_EQ(Find(m, "korvalinex/brunnen/last_evaluation")->Payload,
            "2026-12-06T06:45:00+00:00");
  for (const MqttMessage& x : m) EXPECT_TRUE(x.Retain) << x.Topic;

  MqttSnapshot doubted = Snapshot();
  doubted.Level = NAN;
  doubted.SensorOn = true;
  doubted.SensorSuspicionOpen = true;
  m = MqttStateMessages(Settings(), doubted);
  EXPECT_FALSE(Find(m, "korvalinex/brunnen/level"));  // never a stale one
  EXPECT_EQ(Find(m, "korvalinex/brunnen/sensor")->Payload,
            "verd\xC3\xA4\x63htig");

  MqttEventNote e{7,   1796539500, 3600, "trocken", "Trockenlauf: \"Pumpe\"",
                  0.18};
  MqttMessage event = MqttEventMessage(Settings(), e);
  EXPECT_EQ(event.Topic, "korvalinex/brunnen/event");
  EXPECT_FALSE(event.Retain);
  EXPECT_EQ(event.Payload,
            "{\"name\":\"trocken\",\"text\":\"Trockenlauf: \\\"Pumpe\\\"\","
            "\"time\":\"2026-12-06T07:45:00+01:00\",\"level\":0.18}");
}

TEST(MqttDiscovery, OneDeviceItsThingsAvailableOnlyWithProgramAndBoard) {
  MqttSnapshot s = Snapshot();
  std::vector<MqttMessage> m = MqttDiscoveryMessages(Settings(), s);
  const Text node = "homeassistant/%s/korvalinex_brunnen/";
  const MqttMessage* level =
      Find(m, "homeassistant/sensor/korvalinex_brunnen/level/config");
  ASSERT_TRUE(level);
  EXPECT_TRUE(level->Retain);
  for (const char* key :
       {"\"unique_id\":\"korvalinex_192_168_1_50_50290_level\"",
        "\"state_topic\":\"korvalinex/brunnen/level\"",
        "\"device_class\":\"voltage\"", "\"state_class\":\"measurement\"",
        "\"unit_of_measurement\":\"V\"", "\"expire_after\":780",
        "\"availability_mode\":\"all\"",
        "{\"topic\":\"korvalinex/brunnen/status\"},"
        "{\"topic\":\"korvalinex/brunnen/board\"}",
        "\"identifiers\":[\"korvalinex_192_168_1_50_50290\"]",
        "\"sw_version\":\"",
        "\"model\":\"KORVALINEX Brunnenw\xC3\xA4\x63hter\""})
    EXPECT_NE(level->Payload.find(key), Text::npos) << key;
  EXPECT_EQ(level->Payload.find("configuration_url"), Text::npos);

  const MqttMessage* dry =
      Find(m, "homeassistant/binary_sensor/korvalinex_brunnen/output_4/config");
  ASSERT_TRUE(dry);
  EXPECT_NE(dry->Payload.find("\"device_class\":\"problem\""), Text::npos);
  EXPECT_NE(dry->Payload.find("Trockenlaufschutz"), Text::npos);
  const MqttMessage* three =
      Find(m, "homeassistant/binary_sensor/korvalinex_brunnen/output_3/config");
  ASSERT_TRUE(three);
  EXPECT_NE(three->Payload.find("\"name\":\"Ausgang 3 (Messung)\""),
            Text::npos);
  // The board's link itself only needs the program.
  const MqttMessage* board =
      Find(m, "homeassistant/binary_sensor/korvalinex_brunnen/board/config");
  ASSERT_TRUE(board);
  EXPECT_NE(board->Payload.find("\"device_class\":\"connectivity\""),
            Text::npos);
  EXPECT_NE(board->Payload.find("\"entity_category\":\"diagnostic\""),
            Text::npos);
  EXPECT_EQ(board->Payload.find("availability_mode"), Text::npos);
  EXPECT_FALSE(
      Find(m, "homeassistant/sensor/korvalinex_brunnen/sensor/config"));
  EXPECT_TRUE(Find(
      m, "homeassistant/sensor/korvalinex_brunnen/last_evaluation/config"));
  EXPECT_TRUE(Find(
      m, "homeassistant/binary_sensor/korvalinex_brunnen/guard_blind/config"));
  EXPECT_TRUE(
      Find(m, "homeassistant/binary_sensor/korvalinex_brunnen/trusted/config"));

  s.SensorOn = true;
  s.PageUrl = "http://192.168.1.20:8080/";
  s.CyclePeriod = 60;
  m = MqttDiscoveryMessages(Settings(), s);
  EXPECT_TRUE(Find(m, "homeassistant/sensor/korvalinex_brunnen/sensor/config"));
  level = Find(m, "homeassistant/sensor/korvalinex_brunnen/level/config");
  EXPECT_NE(level->Payload.find("\"expire_after\":180"), Text::npos);
  EXPECT_NE(level->Payload.find(
                "\"configuration_url\":\"http://192.168.1.20:8080/\""),
            Text::npos);
}

}  // namespace
