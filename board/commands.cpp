#include "board/commands.h"

#include <cstring>
#include <string>

#include "board/link.h"
#include "board/poll.h"
#include "board/reply_driver.h"
#include "board/reply_forms.h"

bool Reconnect() {
  if (!ConnectAgain()) return false;
  // A new connection carries nothing of the old one.
  TrustNewConnection();
  // A board that only lost the connection still holds its outputs: what
  // was meant to end a pulse or a measurement goes out before anything else.
  for (int n = 1; n <= 8; n++) {
    if (AppState.Commands.OffOwed[n] && !SetPort(n, false, OweNothing))
      return false;
  }
  return BoardConnected();
}

PortReply SetPort(int output, bool on, PortDebt debt) {
  if (output < 1 || output > 8) return PortNotSent;
  if (debt == OweOff) AppState.Commands.OffOwed[output] = true;
  Text keyword = "setport " + std::to_string(output) + (on ? ".1" : ".0");
  if (!SendCommand(keyword)) return PortNotSent;
  ReceivedReply reply =
      ReceiveReply(&Settings().CommandBuffer, CommandBufferSize, OneLineReply);
  TakeReplyVerdict(reply);
  int n = reply.Kept;
  if (n <= 0) return PortNotSent;
  if (reply.Read.ExtraLine) return PortInDoubt;
  if (!IsAckReply(Text((const char*)Settings().CommandBuffer.Bytes, (size_t)n)))
    return PortRefused;
  // An "off" the board took is owed no longer, whoever sent it.
  if (!on) AppState.Commands.OffOwed[output] = false;
  return PortAcknowledged;
}

// Lower case of one Windows-1252 byte: A-Z, À-Þ except × (D7), and the four
// letters whose small forms lie elsewhere in the code page (Š, Œ, Ž, Ÿ).
static unsigned char LowerLetter1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return (unsigned char)(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return (unsigned char)(c + 0x20);
  switch (c) {
    case 0x8A:  // Š
    case 0x8C:  // Œ
    case 0x8E:  // Ž
      return (unsigned char)(c + 0x10);
    case 0x9F:  // Ÿ
      return 0xFF;
    default:
      return c;
  }
}

// A display command starts with the word WriteLCD in any mix of upper and
// lower case; the board takes it only as a 100-byte block.
static bool IsDisplayCommand(const Text& command) {
  static const char Word[] = "writelcd";
  const size_t wordLength = sizeof Word - 1;
  if (command.size() < wordLength) return false;
  for (size_t i = 0; i < wordLength; i++) {
    if (LowerLetter1252((unsigned char)command[i]) != (unsigned char)Word[i])
      return false;
  }
  return true;
}

int ConsoleExchange(const Text& command) {
  const ReplyBuffer* buffer = &Settings().CommandBuffer;
  if (buffer->Bytes) memset(buffer->Bytes, ' ', buffer->Size);
  // A display command longer than 99 characters does not fit the block
  // together with its zero byte: SendBlock sends its first 99 characters.
  // The board shows only 16 per line anyway.
  if (IsDisplayCommand(command))
    SendBlock(command);
  else
    SendCommand(command);
  // Any command may be answered in several lines, and the operator may
  // type one the board answers at length (HELP): the reply is read whole,
  // its first 100 bytes kept. What else the board may still send is no
  // command's of the program's: the link is in doubt until proven quiet.
  ReceivedReply reply = ReceiveReply(buffer, CommandBufferSize, LinesReply);
  TakeReplyVerdict(reply);
  DoubtTheLink();
  return reply.Kept;
}
