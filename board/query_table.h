// The exchanges of one board query, in their order on the wire: the one
// list of them, for the program, its tests, the fuzz harnesses and the
// benchmarks.
#pragma once

#include "base/state.h"

// What the query takes from an exchange's reply.
enum QueryReplyUse {
  ReplyTimesTheBoard,   // only its round trip: the ping time
  ReplyIsBoardText,     // a text shown as it came (Text field)
  ReplyIsOutputStatus,  // "S" and one digit per output, output 8 first
  ReplyIsAnalogInput,   // the count of analog input Channel
  ReplyIsDigitalInput,  // the state of digital input Channel
};

// The form that proves a reply its own command's (board/reply_forms.h).
enum QueryReplyForm {
  FormAnyLines,  // any text, of one line or several (Help, Version)
  FormAddress,
  FormStatus,
  FormCount,
  FormInput,
};

struct QueryExchange {
  const char* Keyword;                  // sent with CommandSuffix
  ReplyBuffer SettingsRecord::*Buffer;  // the reply's buffer
  int ReceiveMax;                       // the most bytes its receive takes
  QueryReplyUse Use;
  int Channel;                      // the input, for the two input uses
  Text ReadingsRecord::*TextField;  // where a board text goes
  QueryReplyForm Form;
  // The slot its reply is learned in on a connection (AppState.
  // LearnedReply), -1 for the replies of one line.
  int LearnSlot = -1;
};

inline constexpr QueryExchange BoardQuery[] = {
    {"Help", &SettingsRecord::PingBuffer, PingBufferSize, ReplyTimesTheBoard, 0,
     nullptr, FormAnyLines, 0},
    {"Version", &SettingsRecord::VersionBuffer, VersionBufferSize,
     ReplyIsBoardText, 0, &ReadingsRecord::FirmwareText, FormAnyLines, 1},
    {"Getip", &SettingsRecord::IpBuffer, IpBufferSize, ReplyIsBoardText, 0,
     &ReadingsRecord::BoardIpText, FormAddress},
    {"Getgw", &SettingsRecord::GatewayBuffer, GatewayBufferSize,
     ReplyIsBoardText, 0, &ReadingsRecord::GatewayText, FormAddress},
    {"Getmask", &SettingsRecord::MaskBuffer, MaskBufferSize, ReplyIsBoardText,
     0, &ReadingsRecord::SubnetMaskText, FormAddress},
    // The status buffer holds 1000 bytes; its receive takes 200.
    {"Getstatus", &SettingsRecord::StatusBuffer, 200, ReplyIsOutputStatus, 0,
     nullptr, FormStatus},
    {"GETADC 1", &SettingsRecord::AdcBuffer, AdcBufferSize, ReplyIsAnalogInput,
     1, nullptr, FormCount},
    {"GETADC 2", &SettingsRecord::AdcBuffer, AdcBufferSize, ReplyIsAnalogInput,
     2, nullptr, FormCount},
    {"GETADC 3", &SettingsRecord::AdcBuffer, AdcBufferSize, ReplyIsAnalogInput,
     3, nullptr, FormCount},
    {"GETADC 4", &SettingsRecord::AdcBuffer, AdcBufferSize, ReplyIsAnalogInput,
     4, nullptr, FormCount},
    {"GETPORT 1", &SettingsRecord::PortBuffer, PortBufferSize,
     ReplyIsDigitalInput, 1, nullptr, FormInput},
    {"GETPORT 2", &SettingsRecord::PortBuffer, PortBufferSize,
     ReplyIsDigitalInput, 2, nullptr, FormInput},
    {"GETPORT 3", &SettingsRecord::PortBuffer, PortBufferSize,
     ReplyIsDigitalInput, 3, nullptr, FormInput},
    {"GETPORT 4", &SettingsRecord::PortBuffer, PortBufferSize,
     ReplyIsDigitalInput, 4, nullptr, FormInput},
};

enum {
  BoardQueryLength = sizeof BoardQuery / sizeof BoardQuery[0],
  // With the display in use, its three exchanges ("initlcd" and the two
  // 100-byte line blocks) come after this many of the list's.
  DisplayExchangesAfter = 5,
};
