// The reading of what an MQTT broker sends: its packets cut from the
// stream as the bytes come, in any pieces. The client wants only CONNACK
// and PINGRESP, packets of two bytes and none; of any packet only its
// first few bytes are kept, the rest is counted off unseen, and a packet
// longer than MqttLongestInbound ends the reading: nothing a broker sends
// is stored beyond a few bytes, and none of it goes further than the
// client's own connection state.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
  // The longest packet read (its remaining length); a longer one is no
  // answer to anything the client sends.
  MqttLongestInbound = 4096,
  // Bytes of a packet's body kept.
  MqttBodyKept = 4,
};

struct MqttInbound {
  int Type;                          // 1..14
  int Flags;                         // the low four bits of the first byte
  int32_t Length;                    // the remaining length
  unsigned char Body[MqttBodyKept];  // its first bytes, up to Length
};

enum MqttReadResult {
  MqttNeedMore,   // every byte given was taken, no packet is whole yet
  MqttWhole,      // a packet is whole: in *packet
  MqttMalformed,  // type 0 or 15, or a remaining length of five bytes
  MqttTooLong,    // a remaining length beyond MqttLongestInbound
};

struct MqttReader {
  int Stage;  // 0: first byte, 1: remaining length, 2: body, 3: failed
  int LengthBytes;
  int32_t Multiplier;
  int32_t Taken;  // bytes of the body so far
  MqttInbound Packet;
};

// A fresh reader, for a new connection.
void MqttReaderStart(MqttReader* reader);

// Takes bytes of `bytes[0 .. size)`, stopping after a whole packet;
// `*used` tells how many it took. After MqttMalformed or MqttTooLong it
// takes nothing more until started again.
MqttReadResult MqttRead(MqttReader* reader, const char* bytes, size_t size,
                        size_t* used, MqttInbound* packet);
