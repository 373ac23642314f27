#include "mqtt/mqtt_reader.h"

#include <cstring>

void MqttReaderStart(MqttReader* reader) { memset(reader, 0, sizeof *reader); }

MqttReadResult MqttRead(MqttReader* r, const char* bytes, size_t size,
                        size_t* used, MqttInbound* packet) {
  *used = 0;
  if (r->Stage == 3) return MqttMalformed;
  size_t i = 0;
  while (i < size) {
    unsigned char b = (unsigned char)bytes[i++];
    if (r->Stage == 0) {
      int type = b >> 4;
      if (type == 0 || type == 15) {
        r->Stage = 3;
        *used = i;
        return MqttMalformed;
      }
      memset(&r->Packet, 0, sizeof r->Packet);
      r->Packet.Type = type;
      r->Packet.Flags = b & 0x0F;
      r->Stage = 1;
      r->LengthBytes = 0;
      r->Multiplier = 1;
      r->Taken = 0;
      continue;
    }
    if (r->Stage == 1) {
      int64_t length =
          r->Packet.Length + (int64_t)(b & 0x7F) * (int64_t)r->Multiplier;
      r->LengthBytes++;
      if (length > MqttLongestInbound) {
        r->Stage = 3;
        *used = i;
        return MqttTooLong;
      }
      r->Packet.Length = (int32_t)length;
      if (b & 0x80) {
        if (r->LengthBytes == 4) {  // a fifth byte would follow
          r->Stage = 3;
          *used = i;
          return MqttMalformed;
        }
        r->Multiplier *= 128;
        continue;
      }
      r->Stage = 2;
    } else {
      if (r->Taken < MqttBodyKept) r->Packet.Body[r->Taken] = b;
      r->Taken++;
    }
    if (r->Stage == 2 && r->Taken == r->Packet.Length) {
      r->Stage = 0;
      *packet = r->Packet;
      *used = i;
      return MqttWhole;
    }
  }
  *used = i;
  return MqttNeedMore;
}
