#include "tests/mqtt_broker.h"

#include "platform/headless/headless.h"

std::string BrokerPacket::Topic() const {
  if (Body.size() < 2) return "";
  size_t n = (unsigned char)Body[0] << 8 | (unsigned char)Body[1];
  return Body.substr(2, n);
}

std::string BrokerPacket::Payload() const {
  if (Body.size() < 2) return "";
  size_t n = (unsigned char)Body[0] << 8 | (unsigned char)Body[1];
  return Body.size() < 2 + n ? "" : Body.substr(2 + n);
}

int PlayedBroker::Connection() const {
  std::vector<int> all = HeadlessPeerConnections(Port);
  return all.empty() ? -1 : all.back();
}

int PlayedBroker::Connections() const {
  return (int)HeadlessPeerConnections(Port).size();
}

std::vector<BrokerPacket> PlayedBroker::Take() {
  int c = Connection();
  if (c != Seen) {
    Seen = c;
    Pending.clear();
  }
  std::vector<BrokerPacket> packets;
  if (c < 0) return packets;
  Pending += HeadlessClientRead(c);
  for (;;) {
    size_t i = 1, length = 0, shift = 0;
    bool whole = false;
    while (i < Pending.size() && i <= 4) {
      unsigned char b = (unsigned char)Pending[i++];
      length |= (size_t)(b & 0x7F) << shift;
      shift += 7;
      if (!(b & 0x80)) {
        whole = true;
        break;
      }
    }
    if (!whole || Pending.size() < i + length) break;
    unsigned char first = (unsigned char)Pending[0];
    packets.push_back(
        BrokerPacket{first >> 4, first & 0x0F, Pending.substr(i, length)});
    Pending.erase(0, i + length);
  }
  return packets;
}

void PlayedBroker::Send(const std::string& bytes) {
  HeadlessClientSend(Connection(), bytes);
}

void PlayedBroker::Connack(int code) {
  Send(std::string("\x20\x02\x00", 3) + (char)code);
}
