// The program's one global state record. Every procedure of the program
// reads and writes its fields directly; arrays of per-channel fields are
// indexed from 1, as the board numbers its outputs and inputs.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// A fixed block of bytes that takes one board reply at a time. Taken once
// at start from the program's heap, zero-filled, never freed before the end.
struct ReplyBuffer {
  unsigned char* Bytes;
  int Size;
};

// Sizes of the reply buffers, in bytes.
enum {
  StatusBufferSize = 1000,
  AdcBufferSize = 100,
  PortBufferSize = 100,
  PingBufferSize = 200,
  VersionBufferSize = 200,
  IpBufferSize = 100,
  MaskBufferSize = 100,
  GatewayBufferSize = 100,
  CommandBufferSize = 100,
  LcdReplyBufferSize = 100,
};

struct AppStateRecord {
  // Board connection.
  Text BoardAddress;
  int BoardPort;
  PlatSocket BoardConnection;     // NoSocket until the connection is open
  PlatSocket AddressCheckSocket;  // datagram socket of the address check

  // Board data, as the board query takes it from the replies.
  Text FirmwareText;
  Text BoardIpText;
  Text SubnetMaskText;
  Text GatewayText;
  Text StatusReplyText;
  Text AdcReplyText[5];
  int PingTime;

  // Reply buffers.
  ReplyBuffer StatusBuffer;
  ReplyBuffer AdcBuffer;
  ReplyBuffer PortBuffer;
  ReplyBuffer PingBuffer;
  ReplyBuffer VersionBuffer;
  ReplyBuffer IpBuffer;
  ReplyBuffer MaskBuffer;
  ReplyBuffer GatewayBuffer;
  ReplyBuffer CommandBuffer;
  ReplyBuffer LcdReplyBuffer;

  // Bounded reply wait: what is left of this main-loop pass's allowance
  // for waiting on the board, whether the board still owes a reply that a
  // receive gave up waiting for (so that it is not taken as the reply to a
  // later command), and how long that late reply has been awaited since.
  int ReplyWaitLeft;
  int ReplyOutOfStep;
  int LateReplyWaited;

  // Captions and units.
  Text OutputName[9];
  Text AnalogName[5];
  Text AnalogUnit[5];
  Text DigitalInputName[5];

  // State words and shown state texts.
  Text ClosedText;
  Text OpenText;
  Text InputClosedText[5];
  Text InputOpenText[5];
  Text OutputStateText[9];
  Text InputStateText[5];
  Text AnalogValueText[5];

  // Analog conversion.
  double AnalogScale[5];
  int AnalogRoundFactor[5];
  int AnalogTextWidth[5];
  double AnalogVoltage[5];
  double LevelVoltage;

  // Switch delays of the pulse switches, in ms.
  int DefaultSwitchDelay[9];
  int SwitchDelay[9];
  Text SwitchDelayText[9];
  int MinSwitchDelay[9];
  int MaxSwitchDelay[9];

  // Timing.
  int RefreshInterval;  // ms
  int InitialRefreshInterval;
  int NextRefreshTime;  // ms of the system tick count
  int CyclePeriod;      // s
  int CycleCounter;     // ticks of timer 123 in the current cycle

  // Flags.
  int SoundEnabled;
  int SoundLoaded;
  int LcdEnabled;
  int MeasurementEnabled;
  int MinimumEnabled;
  int MaximumEnabled;

  // Colours (COLORREF 0x00BBGGRR).
  uint32_t ColourRed;
  uint32_t ColourBlue;

  // Event, console and display commands.
  int LastEvent;        // an EventKind
  int LastEventNumber;  // the control, timer or window of the last event
  Text ConsoleCommandText;
  Text ConsoleReplyText;
  Text LcdLine1Command;
  Text LcdLine2Command;
};

extern AppStateRecord AppState;

// Longest wait for one reply, and the allowance of one main-loop pass for
// all waits on the board together, in ms. A reply not there after
// ReplyLostAfter of waiting in all (its own receive and the waits for it
// before the next command) counts as lost.
enum { ReplyWaitLimit = 700, ReplyWaitPerPass = 1400, ReplyLostAfter = 1200 };

// Zeroes the whole record.
void ZeroAppState();
// Fills the record with the program's fixed defaults, in their order.
void InitDefaults();
