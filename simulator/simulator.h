// Board simulator: stands in for the KORVALINEX board on a loopback TCP
// port, for tests (in-process, this class) and as the program
// korvalinex-sim (simulator/main.cpp), on Linux and, as korvalinex-sim.exe,
// on Windows (operating system calls in sim_system.h).
//
// Protocol (what the board's firmware does here):
// - One connection at a time; after the peer closes, the next is accepted.
// - The incoming bytes are split into commands. A command ends at the
//   five-byte suffix 20 5C 72 5C 6E (blank, backslash, r, backslash, n):
//   kind Text; or at a CR and/or LF (a terminal): kind Line (empty lines
//   are skipped, neither logged nor answered). A command in which a zero
//   byte comes before any end is a 100-byte display block: kind Block, its
//   text is the bytes before the zero byte (at most its 100 bytes, when the
//   zero byte lies beyond them), and exactly 100 bytes from its start are
//   consumed (the simulator waits until all 100 have arrived).
//   1024 bytes without any end: kind Overlong, answered with an error line.
// - Keyword = the leading ASCII letters (after blanks/tabs), case-insensitive;
//   the arguments follow after blanks. Replies (defaults):
//     GETPORT n   "1\r\n" / "0\r\n"  (digital input n, 1 = open)
//     GETADC n    decimal count 0..1023 + "\r\n"
//     SETPORT x.y "OK\r\n"  (output x 1..8 to y 0/1)
//     GETSTATUS   "S" + eight digits, output 8 first, + "\r\n"
//     GETIP / GETMASK / GETGW  "192.168.1.50\r\n" / "255.255.255.0\r\n" /
//                 "192.168.1.1\r\n" (settable with SETIP/SETMASK/SETGW)
//     HELP        multi-line help text, under 200 bytes (SetHelpText)
//     RESET       "RESET\r\n", then the connection is closed and the
//                 outputs and the display are reset (a restart)
//     VERSION     "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n"
//     SETIP / SETMASK / SETGW X.X.X.X  "OK\r\n" (stored at once)
//     INITLCD     "OK\r\n" (clears the display)
//     WRITELCD X.Y  "OK\r\n" (line X 1/2 := Y, first 16 bytes)
//     CLEARLCD [X]  "OK\r\n"
//   Bad arguments: "ERR\r\n"; unknown command: "ERR unknown command\r\n".
//
// Well model: the level is the sensor's converter count (double, clamped
// 0..1023); it rises by the inflow (counts/s) and, while output 4
// ("Minimum", the dry-run cut-off) is OFF, falls by the draw (counts/s).
// Analog input 1 reads the level (rounded) only while output 3 is ON,
// else 0. The model advances on real time, or on SetModelClock's clock.
//
// Threads: Start() starts one server thread (and StartControl() one more);
// every public method is thread-safe. Stop() is bounded and joins them.
//
// On a driven clock (StartDriven) the same board runs without a thread or a
// socket: its caller hands it each connection and each send with the tick
// at which it happens, and gets back what the board sends, each piece with
// the tick at which it arrives. Replies, faults and their timing are those
// of the board port: a reply late by 700 ms arrives 700 ticks later,
// however fast the caller's clock runs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simulator/faults.h"

namespace kvxsim {

enum class CommandKind { Text, Line, Block, Overlong };
// "text", "line", "block", "overlong".
const char* KindName(CommandKind kind);

// One received chunk (the bytes of one recv call).
struct ChunkRecord {
  uint32_t time;      // from the log clock (SetClock), ms
  std::string bytes;  // raw bytes
};

// One parsed command.
struct CommandRecord {
  uint32_t time;  // from the log clock, when the command was complete
  CommandKind kind;
  std::string raw;      // every byte the command consumed (suffix, CR/LF,
                        // all 100 bytes of a block)
  std::string text;     // the command text (without suffix / line end /
                        // zero byte and block filler)
  std::string keyword;  // upper-case keyword, e.g. "GETADC" ("" if none)
  std::string reply;    // the bytes actually sent back (after faults);
                        // empty when silent
  // How the reply went out when not whole at once: each piece as
  // "+<wait ms>:<bytes>", e.g. "+120:14 +35:10"; empty otherwise.
  std::string pieces;
};

// A snapshot of the board for displays.
struct BoardSnapshot {
  bool outputs[9];      // [1..8]
  int analog[5];        // [1..4], as GETADC would answer now
  int digital[5];       // [1..4]
  double level;         // well level, counts
  double inflow, draw;  // counts/s
  std::string lcd[3];   // [1..2], 16 bytes each (Windows-1252)
  std::string ip, mask, gw;
  bool connected;
  uint64_t connections;     // accepted so far
  uint64_t commands;        // parsed since the last ClearLog
  std::string lastCommand;  // text of the last command
};

// Log form of bytes: printable ASCII 21..7E as is except backslash, a blank
// as is except as the last byte; everything else (backslash included) as
// \xNN with two lower-case hex digits. "Help \r\n" suffix -> Help \x5cr\x5cn
std::string EscapeBytes(const std::string& bytes);
// Inverse for the control channel: \xNN, \\, \r, \n, \t, \0, \s (blank);
// other bytes as they are. False on a malformed escape.
bool UnescapeBytes(const std::string& text, std::string* bytes);
// Windows-1252 to UTF-8 for the terminal; control bytes become '.', the
// five undefined code points U+FFFD.
std::string Cp1252ToUtf8(const std::string& bytes);
// Sends all of `bytes` on a non-blocking send loop; false on an error,
// when `stop` (may be empty) says so, or after `stallMs` without progress.
bool SendBounded(int fd, const std::string& bytes, int stallMs,
                 const std::function<bool()>& stop);
// True for a dotted IPv4 address in 127.0.0.0/8, or "localhost".
bool IsLoopbackAddress(const std::string& address);

// A fault of the level sensor on analog input 1, as GETADC 1 answers it.
// None: input 1 reads the well's level while output 3 powers the sensor,
// else 0.
// Pinned: input 1 reads `count` whatever output 3 does (1023 = 5,00 V, a
//   sensor stuck at its top; 127 = 0,62 V, one that floats).
// LiveZero: a live-zero sensor: `count` plus the level while powered, 0
//   unpowered.
// CableBreak: a live-zero sensor whose cable broke: 0 whatever output 3
//   does.
// Spike: as None, but one powered GETADC 1 reply is off by `count` (may be
//   negative; clamped to 0..1023): the one after `after` powered GETADC 1
//   replies from the setting on. Once.
// Flat: `count` while powered, whatever the well does; 0 unpowered.
// SlowStart: the powered reading climbs from 0 to the level in a straight
//   line over the first `seconds` of power (counted on the well model's
//   clock from the "setport 3.1" that switched output 3 on); 0 unpowered.
enum class SensorFaultKind {
  None,
  Pinned,
  LiveZero,
  CableBreak,
  Spike,
  Flat,
  SlowStart
};
struct SensorFault {
  SensorFaultKind kind = SensorFaultKind::None;
  int count = 0;
  int after = 0;
  double seconds = 0.0;
};

class Simulator {
 public:
  Simulator();
  ~Simulator();  // Stop()s
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // ---- Life cycle ----
  // Listens on address:port (port 0 = ephemeral). Refuses any address that
  // is not loopback. False with LastError() on failure.
  bool Start(uint16_t port = 0, const std::string& address = "127.0.0.1");
  uint16_t Port() const;
  // Bounded: closes everything and joins the server and control threads.
  void Stop();
  bool Running() const;
  std::string LastError() const;
  bool Connected() const;
  uint64_t ConnectionCount() const;  // connections accepted since Start
  // When the last connection was accepted, on the log clock (SetClock; on
  // the driven clock its tick); false before the first.
  bool LastConnectAt(uint32_t* at) const;
  // True once `count` connections were accepted and one is open.
  bool WaitForConnection(uint64_t count, int timeoutMs);

  // ---- On a driven clock (instead of Start) ----
  // One piece of the stream to the peer: its bytes, arriving at tick `at`;
  // `closes`: the board ends the connection there.
  struct Arrival {
    uint32_t at;
    std::string bytes;
    bool closes;
  };
  // The board answers in-process from now on; `ticks` is the caller's
  // clock (ms, wrapping at 2^32), which the log and, unless SetModelClock
  // says otherwise, the well model follow. `port` is the port it stands
  // for (Port()); nothing listens there. Stop() ends it.
  void StartDriven(std::function<uint32_t()> ticks, uint16_t port);
  // A connection at `now`; the one before it, if any, is over. False when
  // the board does not listen (the connect is refused).
  bool DrivenAccept(uint32_t now, std::vector<Arrival>* out);
  // Bytes the peer sent at `now`, and what the board answers to them.
  void DrivenTake(const char* bytes, size_t length, uint32_t now,
                  std::vector<Arrival>* out);
  // What the board did on its own by `now`: a close or reset asked for,
  // unasked-for bytes, listening switched off. True when the pieces still
  // to come after `now` are to be withdrawn first: a board that closes in
  // the middle of a reply never sends the rest of it.
  bool DrivenUpdate(uint32_t now, std::vector<Arrival>* out);
  // The peer closed its end at `now`.
  void DrivenClosed(uint32_t now);

  // ---- Board state ----
  void SetAnalog(int n, int count);   // n 2..4; n 1 sets the well level
  void SetDigital(int n, int value);  // n 1..4; value 1 = open
  bool Output(int n) const;           // n 1..8
  void SetOutput(int n, bool on);
  std::string Outputs() const;      // "00000000", output 1 FIRST
  int Analog(int n) const;          // what GETADC n would answer now
  std::string Lcd(int line) const;  // 16 bytes, line 1 or 2
  void SetNetwork(const std::string& ip, const std::string& mask,
                  const std::string& gw);  // empty = unchanged
  BoardSnapshot Snapshot() const;

  // ---- Well model ----
  void SetLevel(double counts);
  double Level() const;
  void SetRates(double inflowPerS, double drawPerS);
  // The well goes to `counts` when the board takes the next command that
  // matches `key` (as for SetReply), before it answers it: a change at an
  // exact point of a run however fast or slow it goes, such as the end of a
  // measurement cycle ("setport 3.0"). Once; a further call replaces it.
  void SetLevelAfter(const std::string& key, double counts);
  // Where that change stands: -2 none asked for, -1 still to come, or the
  // number of the command it came with (counted as CommandCount counts,
  // from 0).
  int64_t LevelChangedAt() const;
  // Seconds, any origin; nullptr = real time (steady clock). Called under
  // the simulator's lock: must not call back into the simulator.
  void SetModelClock(std::function<double()> seconds);

  // ---- The level sensor (analog input 1) ----
  // The sensor's fault from now on (SensorFault{}: none). Board state, not
  // a reply fault: ClearFaults leaves it.
  void SetSensorFault(const SensorFault& fault);
  SensorFault GetSensorFault() const;

  // ---- Log ----
  // The log keeps the newest records: at most 100,000 commands and 100,000
  // chunks, and at most kLogBytes of each: a command counts its raw bytes,
  // text, keyword and reply, a chunk its bytes (4 MiB in all). The oldest
  // records are dropped; the newest is always kept, whatever its size.
  static constexpr size_t kLogBytes = 2 * 1024 * 1024;
  // Time stamps of the log, ms; nullptr = ms since Start(). Called from the
  // simulator's threads (never under its lock). Both clock functions must
  // stay callable until replaced or Stop().
  void SetClock(std::function<uint32_t()> ms);
  std::vector<ChunkRecord> Chunks() const;
  std::vector<CommandRecord> Commands() const;
  uint64_t CommandCount() const;  // parsed since the last ClearLog
  // Commands done with since Start: reply sent, or none to send (silent,
  // empty override). Not cleared by ClearLog.
  uint64_t AnsweredCount() const;
  void ClearLog();
  // True once CommandCount() >= count; false after timeoutMs.
  bool WaitForCommands(uint64_t count, int timeoutMs);
  // Polls `condition` (without the simulator's lock held) until true or
  // timeoutMs; returns the last result.
  bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
  // One line per parsed command: "<ms> <kind> <EscapeBytes(raw)>\n",
  // flushed at once. Empty path closes it.
  bool SetLogFile(const std::string& path);
  // Called from the server thread after each command (reply sent).
  void SetCommandListener(std::function<void(const CommandRecord&)> fn);

  // ---- Reply overrides ----
  // `key` is a keyword ("GETSTATUS") or a keyword with its arguments
  // ("GETADC 2"); compared upper-case with blanks removed; a key ending in
  // '*' matches every command that begins so ("SETPORT 4*": setport 4.0
  // and 4.1), "*" alone any command. The most specific key wins: the whole
  // command, then the longest beginning, then the keyword, then "*". The
  // command's effect still happens; only its reply is replaced by exactly
  // `bytes` (any bytes, zero bytes too; empty = no reply). A reply that begins
  // with "ERR" is the board refusing the command, as it refuses bad arguments:
  // then the command has no effect at all (a refused "setport 4.1" switches
  // nothing, a refused RESET restarts nothing). count < 0: until cleared,
  // else that many uses (0 removes the override).
  void SetReply(const std::string& key, const std::string& bytes,
                int count = -1);
  void ClearReply(const std::string& key);
  void ClearReplies();
  // Replaces the HELP text (default under 200 bytes).
  void SetHelpText(const std::string& bytes);

  // ---- Faults (applied to each reply in this order) ----
  // transform -> garbage / CR-LF-only -> non-ASCII -> zero byte -> padding
  // -> silent -> delay -> random replies, or line gap, or split.
  void CloseNow();             // graceful close (FIN) of the connection
  void ResetNow();             // RST (SO_LINGER 0)
  void SetSilent(bool on);     // read and process, answer nothing
  void SetReplyDelay(int ms);  // before each reply
  // A further delay of 0..maxMs before each reply, drawn from the seed
  // (SetSeed); 0 off.
  void SetReplyJitter(int maxMs);
  // The next reply to a command matching `key` comes `ms` after its
  // command, instead of after the delay of each reply; once. The board
  // answers one command after another, so the replies to the commands
  // behind it come after it, in their order (a reply held back). Keys as
  // for SetStray ("*" alone: whatever command comes next). With a
  // `trigger` (as `key`), only a command after the next one matching the
  // trigger counts: "GETPORT4" after "SETPORT5*" holds back the last
  // reply of the board query that follows output 5's switching.
  void DelayReplyOnce(const std::string& key, int ms,
                      const std::string& trigger = "");
  // Off: the board closes its connection and listens no more (a connect is
  // refused, as by a board without power); on: it listens again on the
  // same port. Returns once in effect (bounded by 5 s).
  void SetListening(bool on);
  // A power cut of `ms`: every output drops to off and the display clears
  // at once, the connection is reset (RST; on the driven clock it ends
  // there) and a command the board had not yet taken is lost; connects are
  // refused until `ms` have passed (on the driven clock: ticks), then the
  // board listens again, its outputs still off. A cut during a cut starts
  // the time afresh. Returns once in effect (bounded by 5 s).
  void PowerCut(int ms);
  // True while the board is without power (connects are refused).
  bool PoweredOff() const;
  void SetReplySplit(int pieces, int gapMs);  // send in pieces (<=1 off)
  void SetReplyPadding(size_t toBytes, char fill = '#');  // 0 off
  void SetGarbage(bool on);      // replies become 1..64 random bytes 01..FF
  void SetLineEndOnly(bool on);  // every reply is "\r\n"
  // Non-ASCII: the bytes C4 D6 DC E4 F6 FC DF 80 (Windows-1252 umlauts,
  // sharp s, euro) inserted before the reply's trailing CR/LF.
  void SetNonAscii(bool on);
  void SetZeroByteAt(int position);  // insert 00 at position; -1 off
  // Any transformation of the reply (keyword, reply) -> reply; nullptr off.
  void SetReplyTransform(
      std::function<std::string(const std::string&, const std::string&)> fn);
  // Closes the connection after `commands` more commands (reply sent);
  // -1 off.
  void SetCloseAfter(int commands);
  // Requests made while no client is connected are dropped (use
  // WaitForConnection first). Sends unsolicited bytes now: `count` bytes (at
  // most 1 MiB) of a repeated pattern; SendRaw sends exactly `bytes`.
  void Flood(size_t count, const std::string& pattern = "FLOOD\r\n");
  void SendRaw(const std::string& bytes);
  void SetSeed(uint32_t seed);  // for garbage
  // A reply of more than one line (HELP, VERSION) is written one line at a
  // time, `ms` apart (0 off): for every command, or only for those
  // matching `key` (as for SetReply, e.g. "VERSION"). Instead of the split.
  void SetLineGap(int ms, const std::string& key = "");
  // Every reply drawn at random from random.seed (random_replies.h): late,
  // in pieces, line by line, too long, garbage or with a line too many,
  // each with its own probability; random.on false: off. Each call starts
  // the draws afresh from the seed. Instead of the split and the line gap;
  // the delay and the jitter come on top.
  void SetRandomReplies(const RandomReplies& random);
  RandomReplies GetRandomReplies() const;
  // A line no command asked for: once a command matching `trigger` has
  // been answered (empty: from now on), the next `count` replies to
  // commands matching `key` are each followed, `gapMs` after their last
  // byte, by `bytes` (empty bytes or count 0: off). Keys as for SetReply;
  // a key ending in '*' matches every command that begins so ("SETPORT
  // 5*": setport 5.0 and 5.1).
  void SetStray(const std::string& trigger, const std::string& key, int count,
                int gapMs, const std::string& bytes);
  // A board that trickles: the reply to every command matching `key`
  // (empty: every command) goes out one byte every `ms` (0 off), its line
  // ends left out, its bytes over and over until the trickle is switched
  // off (the reply stays unfinished) or the connection ends.
  void SetTrickle(int ms, const std::string& key = "");
  void ClearFaults();  // all of the above off (not overrides)

  // ---- Control channel (plain text lines on a loopback TCP port) ----
  bool StartControl(uint16_t port = 0,
                    const std::string& address = "127.0.0.1");
  uint16_t ControlPort() const;
  // Executes one control line; returns the reply (one or more lines, each
  // ending in "\n"). See simulator/control.cpp for the commands.
  std::string ControlCommand(const std::string& line);
  // Set by the control command "shutdown".
  bool ShutdownRequested() const;

 private:
  friend struct ControlChannel;  // control.cpp: a wait's stop, shutdown

  // How a connection ends.
  enum class ConnectionEnd { Keep, Close, Reset };
  struct Session {
    int fd = -1;
    std::string pending;  // received bytes not yet a command
    ConnectionEnd end = ConnectionEnd::Keep;
    bool restart = false;  // RESET answered: the board restarts after it
  };

  // server.cpp: the server thread and one connection.
  void ServerLoop();
  // Opens or closes the listening socket as asked; false when stopping.
  // `*waitMs`: how long the next wait for a connect may last.
  bool UpdateListening(int* listenFd, int* waitMs);
  // -1 after one wait of `waitMs` without a connect.
  int AcceptWithin(int listenFd, int waitMs);
  void SetConnected(bool on);
  void ServeConnection(int fd);
  // Takes the requested close, reset or stop into s->end and the
  // unsolicited bytes to send.
  void TakeRequests(Session* s, std::string* unsolicited);
  void EndAfterFailedSend(Session* s);
  // One wait for bytes; true when some were appended to s->pending.
  bool Receive(Session* s);
  void AnswerPending(Session* s);  // every complete command, in order
  void Answer(Session* s, CommandRecord* cmd);
  // Each piece after its wait.
  bool SendReply(int fd, const std::vector<ReplyPiece>& plan);
  // The trickle's bytes, one every trickle period, while it applies to
  // `cmd`; false when the connection ended or failed meanwhile.
  bool SendTrickle(int fd, const CommandRecord& cmd, const std::string& bytes);
  // Whether the reply to `cmd` trickles, and `*ms` apart.
  bool TrickleApplies(const CommandRecord& cmd, int* ms);
  bool SendAll(int fd, const std::string& bytes);
  void EndConnection(const Session& s);
  // control.cpp
  void ControlLoop();
  // board.cpp
  static std::string DefaultHelpText();
  std::string Execute(CommandRecord* cmd, bool* resetAfter);
  std::string DefaultReply(CommandRecord* cmd, bool* resetAfter);
  void AdvanceLocked() const;
  int AnalogLocked(int n) const;
  // Output n to `on` (the model advanced first): output 3's power-on time
  // for the sensor's slow start.
  void SwitchOutputLocked(int n, bool on);
  void RestartBoard();  // outputs off, display cleared
  // faults.cpp
  std::string ApplyFaults(const std::string& keyword, std::string reply);
  // The pieces the reply to `cmd` (its bytes in cmd.reply) goes out in,
  // each after its wait.
  std::vector<ReplyPiece> TakeReplyPlan(const CommandRecord& cmd);
  // One command answered: executed at its time, its reply with the faults
  // in the pieces it goes out in (kept in the record), and logged; the
  // board port and the driven clock then send the pieces each in its way.
  // A trickling reply (`*trickleMs` above 0) comes as kDrivenTrickleBytes
  // pieces of one byte.
  std::vector<ReplyPiece> ComposeAnswer(CommandRecord* cmd, bool* resetAfter,
                                        int* trickleMs);
  static constexpr size_t kDrivenTrickleBytes = 4096;
  // log.cpp
  void RecordChunk(const std::string& bytes);
  void RecordCommand(const CommandRecord& cmd);
  // driven.cpp: one command answered at the board's own time, after those
  // before it.
  void DrivenAnswer(CommandRecord* cmd, std::vector<Arrival>* out);
  void DrivenEnd(uint32_t at, bool restart, std::vector<Arrival>* out);
  // A close or reset asked for: the connection is over for the caller at
  // once, and the peer learns it at its next look.
  void EndDrivenLocked();
  // A connection opened, or over: nothing of the one before is owed, and
  // the board is free from `freeAt`.
  void StartOverLocked(bool connected, uint32_t freeAt);
  uint32_t DrivenTickLocked() const;
  double DrivenSecondsLocked() const;  // the well model's clock
  // simulator.cpp
  bool SleepMs(int ms);  // false when interrupted by stop/close/reset
  // A stop, close, reset or power cut asked for, which ends a reply's wait.
  bool InterruptedLocked() const;
  // The power cut's clock, ms: the driven clock's ticks, else steady time.
  uint32_t PowerTickLocked() const;
  // Without power at `now` (PowerTickLocked).
  bool PowerOffLocked(uint32_t now) const;
  // A power cut not yet carried out by the board port (its connection not
  // yet reset, its listening socket not yet closed).
  bool PowerCutOwedLocked() const;
  void Wake();
  uint32_t Now();

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::thread server_, control_;
  int listenFd_ = -1, controlFd_ = -1, wakeRead_ = -1, wakeWrite_ = -1;
  uint16_t port_ = 0, controlPort_ = 0;
  bool running_ = false, stopping_ = false, shutdown_ = false;
  std::string lastError_;
  bool connected_ = false;
  uint64_t connections_ = 0;
  std::string address_ = "127.0.0.1";
  bool listenOff_ = false, listenClosed_ = false;
  bool hasConnectAt_ = false;
  uint32_t lastConnectAt_ = 0;  // log clock
  // Power cuts: without power until powerBackAt_ (PowerTickLocked); the
  // cuts asked for and those the board port has carried out.
  bool powerOff_ = false;
  uint32_t powerBackAt_ = 0;
  uint64_t powerCuts_ = 0, powerCutsDone_ = 0;
  // Actions for the server thread.
  bool closeReq_ = false, resetReq_ = false;
  std::string unsolicited_;

  // Board.
  bool outputs_[9] = {};
  int analog_[5] = {0, 0, 0, 0, 0};
  int digital_[5] = {1, 1, 1, 1, 1};
  std::string lcd_[3];
  std::string ip_ = "192.168.1.50", mask_ = "255.255.255.0",
              gw_ = "192.168.1.1";
  std::string help_;

  // Well.
  mutable double level_ = 100.0;
  std::string levelAfterKey_;  // as NormalKey; empty: none
  double levelAfterCounts_ = 0.0;
  int64_t levelChangedAt_ = -2;
  double inflow_ = 0.5, draw_ = 1.5;
  mutable double modelLast_ = 0.0;
  // The sensor's fault, the powered GETADC 1 replies still to pass before
  // a spike (-1: spent), and when output 3 last came on (model seconds).
  SensorFault sensorFault_;
  int spikeAfter_ = -1;
  double sensorOnAt_ = 0.0;
  std::function<double()> modelClock_;

  // Log.
  std::function<uint32_t()> clock_;
  uint64_t startNs_ = 0;
  std::deque<ChunkRecord> chunks_;
  std::deque<CommandRecord> commands_;
  size_t chunkBytes_ = 0, commandBytes_ = 0;  // held by the log
  uint64_t commandCount_ = 0;
  uint64_t answeredCount_ = 0;
  std::string lastCommand_;
  FILE* logFile_ = nullptr;
  std::function<void(const CommandRecord&)> listener_;

  // On a driven clock: the caller's ticks, the board's own time while it
  // answers (it answers one command after another, so a late reply delays
  // the next), and the well model's seconds, which only move forward.
  bool driven_ = false;
  std::function<uint32_t()> drivenTicks_;
  bool drivenAnswering_ = false;
  bool drivenEndOwed_ = false;  // closed here, not yet told to the peer
  uint32_t drivenAt_ = 0;       // the board's time while answering
  uint32_t drivenFree_ = 0;     // when it has sent its last reply
  mutable uint32_t drivenLastTick_ = 0;
  mutable double drivenSeconds_ = 0.0;
  std::string drivenPending_;  // received bytes not yet a command

  // Overrides and faults.
  struct Override {
    std::string bytes;
    int count;
  };
  std::map<std::string, Override> overrides_;
  Faults faults_;
  uint32_t seed_ = 12345;       // the garbage's generator (SetSeed)
  uint32_t jitterState_ = 777;  // the jitter's, from the seed
  uint32_t randomState_ = 1;    // the random replies' (SetRandomReplies)
};

}  // namespace kvxsim
