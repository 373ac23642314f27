// A broker as the tests play it: the far end of the MQTT client's
// connection on the headless platform, its packets cut from what the
// client sent.
#pragma once

#include <string>
#include <vector>

struct BrokerPacket {
  int Type;
  int Flags;
  std::string Body;
  // PUBLISH: its topic and payload.
  std::string Topic() const;
  std::string Payload() const;
  bool Retained() const { return (Flags & 1) != 0; }
};

class PlayedBroker {
 public:
  explicit PlayedBroker(int port) : Port(port) {}
  // The newest connection the client opened to the port, -1 when none.
  int Connection() const;
  int Connections() const;
  // The whole packets the newest connection sent since the last call.
  std::vector<BrokerPacket> Take();
  void Send(const std::string& bytes);
  void Connack(int code);

 private:
  int Port;
  int Seen = -1;
  std::string Pending;
};
