#include "mqtt/mqtt_packets.h"

namespace {

// A string field: its length in two bytes, high first, then its bytes.
bool AddString(Text* packet, const Text& s) {
  if (s.size() > MqttLongestString) return false;
  packet->push_back((char)(s.size() >> 8));
  packet->push_back((char)(s.size() & 0xFF));
  *packet += s;
  return true;
}

// The fixed header before `rest`; empty when `rest` is too long.
Text Whole(unsigned char first, const Text& rest) {
  Text length = MqttRemainingLength((int64_t)rest.size());
  if (length.empty()) return Text();
  return Text(1, (char)first) + length + rest;
}

}  // namespace

Text MqttRemainingLength(int64_t length) {
  if (length < 0 || length > MqttLongestRemaining) return Text();
  Text bytes;
  do {
    unsigned char b = (unsigned char)(length % 128);
    length /= 128;
    if (length > 0) b |= 0x80;
    bytes.push_back((char)b);
  } while (length > 0);
  return bytes;
}

Text MqttConnectPacket(const MqttConnectForm& form) {
  // Variable header: the protocol's name and level 4 (3.1.1), the flags,
  // the keep-alive.
  Text rest;
  AddString(&rest, "MQTT");
  rest.push_back(4);
  unsigned char flags = 0x02;            // clean session
  flags |= 0x04;                         // a will, at QoS 0 (bits 3-4 stay 0)
  flags |= 0x20;                         // the will retained
  if (form.Login) flags |= 0x80 | 0x40;  // user name, password
  rest.push_back((char)flags);
  int keepAlive = form.KeepAliveSeconds;
  if (keepAlive < 0) keepAlive = 0;
  if (keepAlive > 65535) keepAlive = 65535;
  rest.push_back((char)(keepAlive >> 8));
  rest.push_back((char)(keepAlive & 0xFF));
  // Payload: client name, will topic, will message, user, password.
  bool fits = AddString(&rest, form.ClientName) &&
              AddString(&rest, form.WillTopic) &&
              AddString(&rest, form.WillPayload);
  if (form.Login)
    fits =
        fits && AddString(&rest, form.User) && AddString(&rest, form.Password);
  if (!fits) return Text();
  return Whole(MqttConnect << 4, rest);
}

Text MqttPublishPacket(const Text& topic, const Text& payload, bool retain) {
  if (topic.empty()) return Text();
  Text rest;
  if (!AddString(&rest, topic)) return Text();
  rest += payload;
  return Whole((unsigned char)(MqttPublish << 4 | (retain ? 1 : 0)), rest);
}

Text MqttPingreqPacket() { return Text("\xC0\x00", 2); }

Text MqttDisconnectPacket() { return Text("\xE0\x00", 2); }

const char* MqttRefusalText(int code) {
  switch (code) {
    case 0:
      return "angenommen";
    case 1:
      return "Protokollversion 3.1.1 nicht angenommen";
    case 2:
      return "Client-Name abgelehnt";
    case 3:
      return "Broker nicht bereit";
    case 4:
      return "Benutzer oder Passwort falsch";
    case 5:
      return "nicht berechtigt";
    default:
      return "unbekannte Antwort";
  }
}
