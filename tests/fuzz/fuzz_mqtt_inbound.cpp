// Fuzzes the reading of what an MQTT broker sends, and the client over
// it. The first byte picks a cut; the rest is what the broker sends after
// its CONNACK, in two pieces around the cut. Checked:
// - the reader takes at least a byte whenever it is given some and no
//   more than it is given; once it fails it takes nothing; it cuts the
//   same packets from the bytes in any two pieces as from them whole;
// - a packet is whole only with a type of 1..14 and a length within the
//   bound;
// - the client, on an in-memory broker, sends nothing to the board,
//   writes no file, never subscribes, keeps what waits and what it formed
//   within their bounds, and after a failure of the reading has dropped
//   the connection.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/state.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_reader.h"
#include "platform/headless/headless.h"

namespace {

void Check(bool ok, const char* what, const std::string& bytes) {
  if (ok) return;
  fprintf(stderr, "mqtt inbound: %s for %zu bytes\n", what, bytes.size());
  abort();
}

struct Cut {
  std::vector<MqttInbound> Packets;
  MqttReadResult End = MqttNeedMore;
};

void Feed(MqttReader* r, const std::string& piece, Cut* out,
          const std::string& all) {
  size_t at = 0;
  while (at < piece.size() && out->End == MqttNeedMore) {
    size_t used = 0;
    MqttInbound p;
    MqttReadResult result =
        MqttRead(r, piece.data() + at, piece.size() - at, &used, &p);
    Check(used >= 1 && used <= piece.size() - at, "a wrong count taken", all);
    at += used;
    if (result == MqttWhole) {
      Check(p.Type >= 1 && p.Type <= 14, "a whole packet of a reserved type",
            all);
      Check(p.Length >= 0 && p.Length <= MqttLongestInbound,
            "a whole packet beyond the bound", all);
      out->Packets.push_back(p);
    } else if (result != MqttNeedMore) {
      out->End = result;
      size_t none = 1;
      MqttReadResult after = MqttRead(r, "\x20", 1, &none, &p);
      Check(after != MqttWhole && after != MqttNeedMore && none == 0,
            "a failed reader took more", all);
    }
  }
}

Cut Read(const std::string& a, const std::string& b) {
  MqttReader r;
  MqttReaderStart(&r);
  Cut out;
  Feed(&r, a, &out, a + b);
  Feed(&r, b, &out, a + b);
  return out;
}

bool Same(const Cut& x, const Cut& y) {
  if (x.End != y.End || x.Packets.size() != y.Packets.size()) return false;
  for (size_t i = 0; i < x.Packets.size(); i++)
    if (memcmp(&x.Packets[i], &y.Packets[i], sizeof(MqttInbound)) != 0)
      return false;
  return true;
}

uint32_t Loopback() {
  uint32_t a;
  const unsigned char bytes[4] = {127, 0, 0, 1};
  memcpy(&a, bytes, 4);
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string bytes((const char*)data + 1, size - 1);
  size_t cut = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);
  const std::string first = bytes.substr(0, cut), second = bytes.substr(cut);
  Cut whole = Read(bytes, "");
  Cut pieces = Read(first, second);
  Check(Same(whole, pieces), "other packets from the bytes in two pieces",
        bytes);

  HeadlessReset();
  ZeroAppState();
  PlatSocketsStart();
  MqttSettings& m = AppState.Mqtt.Settings;
  m.Address = "127.0.0.1";
  m.Host = Loopback();
  m.Port = 1883;
  m.Name = "brunnen";
  AppState.Mqtt.Snapshot.Serial = 1;
  AppState.Mqtt.Snapshot.Connected = true;
  HeadlessPlayPeer(1883, HeadlessPeerTakes);
  StartMqttClient();
  int broker = HeadlessPeerConnections(1883).at(0);
  HeadlessClientSend(broker, std::string("\x20\x02\x00\x00", 4) + first);
  for (int i = 0; i < 3; i++) {
    ServeMqtt();
    HeadlessAdvanceClock(ServeSlice);
  }
  HeadlessClientSend(broker, second);
  for (int i = 0; i < 3 + (int)bytes.size() / MqttReadAtOnce; i++) {
    ServeMqtt();
    HeadlessAdvanceClock(ServeSlice);
  }
  Check(HeadlessSendCount() == 0 && HeadlessFileWrites().empty(),
        "the client reached the board or a file", bytes);
  Check(MqttWaiting() <= 64 + MqttEventsKept && MqttUnsent() <= 65536,
        "what waits grew beyond its bounds", bytes);
  if (whole.End != MqttNeedMore)
    Check(!MqttConnected() && HeadlessClientClosedByServer(broker),
          "a failed reading left the connection open", bytes);
  std::string sent = HeadlessClientAllRead(broker) + HeadlessClientRead(broker);
  // Every packet the client sent is CONNECT, PUBLISH, PINGREQ or
  // DISCONNECT: its first bytes say so (the reader cuts them).
  MqttReader r;
  MqttReaderStart(&r);
  size_t at = 0;
  while (at < sent.size()) {
    size_t used = 0;
    MqttInbound p;
    MqttReadResult result =
        MqttRead(&r, sent.data() + at, sent.size() - at, &used, &p);
    at += used;
    if (result == MqttTooLong) break;  // a long config: not an answer
    Check(result != MqttMalformed, "the client sent a malformed packet", bytes);
    if (result == MqttWhole)
      Check(p.Type == 1 || p.Type == 3 || p.Type == 12 || p.Type == 14,
            "the client sent a packet it never sends", bytes);
  }
  StopMqttClient();
  PlatSocketsCleanup();
  return 0;
}
