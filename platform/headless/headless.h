// The headless stand-in for the window system, as the tests see it: an
// in-memory model of every window and control, a queue of events a test
// posts, records of message boxes, clicks and shell requests, and a clock
// the test drives. Sockets are real (POSIX), unless a test puts a scripted
// board or a board model in place of the connection.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

struct HeadlessControl {
  int Window;
  int Number;
  ControlKind Kind;
  int X, Y, Width, Height;
  int Properties;
  Text Content;  // label text, caption, field text; rich text: its
                 // lines joined with "\r"
  bool HasTextColour;
  uint32_t TextColour;  // label text colour, rich-text colour
  bool Enabled;
  int Min, Max;  // range of a trackbar, progress bar or spin control
  int Value;     // trackbar (logical value), progress bar; spin control:
                 // the number its arrows wrote last
  bool HasBarColour;
  uint32_t BarColour;
  Text Tooltip;
  bool Checked;
  bool SystemFont;
  int Font;           // font number in use at creation (-1: platform default)
  int CreationIndex;  // 0 for the first control created in its window
};

struct HeadlessWindow {
  int Number;
  bool Open;
  WindowFrame Frame;
  Text Title;
  int ClientWidth, ClientHeight;
  int X, Y;                     // outer top-left corner
  int OuterWidth, OuterHeight;  // client plus the frame of its style
  bool EraseOnlyOutsideControls;
  int Timer;  // number of its window timer, 0 when none
  int TimerInterval;
  int OpenCount;  // how often a window with this number was opened
  // Items added to its system menu: command and text, in order.
  std::vector<std::pair<int, Text>> SystemMenu;
  bool Flashing;   // flashes until the operator activates it
  int FlashCount;  // flashes started since it was opened
};

// One step of a window's drawing, as the program gave it.
enum DrawStepKind { StepLine, StepRect, StepDot, StepText };
struct HeadlessDrawStep {
  DrawStepKind Kind;
  // Line: from (X1, Y1) to (X2, Y2). Rectangle: (X1, Y1) top left, (X2, Y2)
  // bottom right, excluded. Dot and text: at (X1, Y1).
  int X1, Y1, X2, Y2;
  uint32_t Colour;
  int Width;  // line width; radius of a dot
  LineStyle Style;
  Text Content;  // text
  int Align;     // text
};

struct HeadlessMessageBox {
  Text Title;
  Text Body;
  std::vector<int> OpenWindows;  // windows open while it was shown
};

// What should fail, for the failure paths of start-up.
struct HeadlessFaults {
  bool SocketsFail;
  bool SoundFails;
  bool ClickFails;
  bool PictureFails;
  bool FontFails[2];
  bool MainWindowFails;  // opening a window with FrameMain fails
  bool TimerFails;       // no window timer can be started
};

// Forgets every window, control, event and record; clock back to its
// start (0 unless set), default board address 127.0.0.1 and port 50290,
// the command line "korvalinex.exe" (no arguments), no faults, no hook,
// screen 1024 x 768.
void HeadlessReset();
HeadlessFaults& HeadlessFaultSettings();

// Build settings seen by the program.
void HeadlessSetBoardAddress(const char* address);
void HeadlessSetBoardPort(int port);
// The command line the program is started with, program name first.
void HeadlessSetCommandLine(const char* line);
// Host names the lookup knows; nothing else is looked up ("localhost" is
// always known as 127.0.0.1), so tests never reach a name server.
void HeadlessAddHost(const char* name, uint32_t addressNetworkOrder);

// Windows and controls: nullptr when there is none (a closed window's
// controls are gone).
const HeadlessControl* HeadlessFindControl(int number);
const HeadlessWindow* HeadlessFindWindow(int number);
// Numbers of the controls of `window` in creation order.
std::vector<int> HeadlessCreationOrder(int window);
// Number of the control with the keyboard focus, 0 when none.
int HeadlessFocus();
void HeadlessSetScreenSize(int width, int height);

// Operator actions. A click on a disabled or missing control does nothing
// and returns false; a click on the check box toggles it first. Typing
// replaces a field's text; moving a trackbar sets it as the operator's
// mouse would (within its range). None of these waits.
bool HeadlessPostClick(int number);
void HeadlessTypeText(int number, const Text& text);
void HeadlessMoveTrackbar(int number, int value);
void HeadlessPostClose(int window);
void HeadlessPostOther();
// A mouse click on control `number` made while the program is busy (it may
// come from the serve hook, while the program waits for the board). As the
// window system does, it stays queued as input until the program's next
// event wait, after the events already posted, and is then delivered to
// the control as it is by then: a greyed or missing control ignores it
// (that wait reports EventOther), a usable one takes it as
// HeadlessPostClick does.
void HeadlessQueueMouseClick(int number);
// Arrow of a spin control: +1 up, -1 down, within its range.
void HeadlessSpinStep(int number, int direction);
// The operator chooses an item of a window's system menu: the window is
// activated and an EventMenu queued. False when the menu has no such item.
bool HeadlessChooseSystemMenuItem(int window, int command);
// The operator drags a sizable window to a new client size: an
// EventResize is queued. False for a window that is not open or sizable.
bool HeadlessResizeWindow(int window, int clientWidth, int clientHeight);
// The operator turns to another program (none of ours is active), or
// clicks one of our windows (it becomes active and stops flashing).
void HeadlessActivateOtherProgram();
void HeadlessActivateWindow(int window);

// The drawing a window shows now (the steps of its last PlatShowDrawing;
// empty for a window that is not open or has shown none), and how many
// times one was shown since the window opened.
const std::vector<HeadlessDrawStep>& HeadlessShownDrawing(int window);
int HeadlessDrawingShowCount(int window);

// Records.
const std::vector<HeadlessMessageBox>& HeadlessMessageBoxes();
int HeadlessClickCount();
const std::vector<Text>& HeadlessOpenedAddresses();
const std::vector<int>& HeadlessSleeps();  // every PlatSleep, in ms
int HeadlessFontCreated(int number);       // 1 when font `number` exists
int HeadlessLiveMemoryBlocks();            // taken and not yet released
// Face and size font `number` was made with ("Arial 6 pt"); empty when
// there is no such font.
Text HeadlessFontName(int number);

// The clock. It moves only when the program sleeps or waits for an event,
// or when the test moves it.
void HeadlessSetClock(uint32_t ticks);
void HeadlessAdvanceClock(int ms);
// Sets the local clock (PlatLocalClock, default 06.12.2026 07:45): it
// starts there and moves with the driven clock.
void HeadlessSetLocalTime(int day, int month, int year, int hour, int minute);
// The local clock's lead on universal time (PlatUniversalClock), default
// +1 h. Set now, the local clock jumps by the change; universal time does
// not (the start or the end of summer time).
void HeadlessSetUtcOffset(int seconds);

// The system's sleep. The tick count and the wall clock jump by `ms` (any
// length, beyond the tick count's wrap too); the time the system ran
// (PlatRunningTime) does not, and a window timer has one pending tick.
// With `notices` the system says so: a suspend notice before and a resume
// notice after, and the event wait wakes for them (an EventOther is
// queued); without, nothing but the clocks shows it. Called from the wait
// hook, the program sleeps in its event wait; from the serve hook, while
// it waits for the board.
void HeadlessSystemSleep(int64_t ms, bool notices);
// One power notice alone (the system announces a sleep that then comes
// later, or a resume after the clocks showed the sleep); the event wait
// wakes for it.
void HeadlessPowerNotice(bool suspend);
// Whether the system has the clock that leaves out sleep (default: yes).
void HeadlessSetRunningClock(bool known);
// The program's request to keep the system awake: whether it stands, its
// reason, and how often it was made or withdrawn since the reset.
bool HeadlessKeptAwake();
Text HeadlessKeepAwakeReason();
int HeadlessKeepAwakeChanges();

// PlatWaitEvent, when no event is queued: first calls the hook (which may
// post events or look at the program), then, if still nothing is queued,
// moves the clock up to the next tick of a window timer (returning that
// timer event) or by the whole time limit (returning EventNone). A timer
// whose tick falls due while the program is busy has one pending tick at
// most, as on the real platform.
void HeadlessSetWaitHook(std::function<void()> hook);
int HeadlessWaitCount();
// PlatServeWindows: counts its calls and calls the hook (which may look at
// the program while it waits for the board; it must not post events for
// the program to take there, as none are taken).
void HeadlessSetServeHook(std::function<void()> hook);
int HeadlessServeCount();
// The system's own loops (a menu, a move or size, the save dialog): the
// operator holds the program inside one for `ms` of driven time. A menu or
// a move takes effect at the program's next event wait (in that wait, after
// the wait hook, when the hook holds it), the save dialog in the next
// PlatAskSavePath before it gives its answer, and a move sent by another
// program at the next PlatServeWindows (the program waits for the board
// there). Meanwhile the clock moves, window timers tick on their grid and
// their ticks wait to be taken, and the program's modal service is called
// every ModalServiceInterval as the real system does; the modal hook is
// called before each call (it may post events, which wait as input does).
// An event wait that held a menu or a move gives afterwards what waits, or
// EventOther, without moving the clock further. A further hold of the same
// place before the first took effect replaces it.
enum HeadlessModalKind {
  HeadlessMenuLoop,
  HeadlessMoveLoop,
  HeadlessSaveDialogLoop,
  HeadlessMoveLoopInServe,
};
void HeadlessHoldModalLoop(HeadlessModalKind kind, int ms);
void HeadlessSetModalHook(std::function<void()> hook);
// Loops held so far, and the modal service's calls within them.
int HeadlessModalLoopCount();
int HeadlessModalServiceCalls();

// For benchmarks: every wait and sleep also takes its time in real time
// (the clock still moves only as described above).
void HeadlessSetRealTimeWaits(bool on);
// Milliseconds the event waits took so (sleeps of the program not counted).
long HeadlessRealTimeWaited();
// Safety bound: after this many waits the wait returns a close event for
// window 0, so a test whose program never ends still ends. 0: no bound.
void HeadlessSetWaitLimit(int waits);

// Send calls the program made on its stream sockets since HeadlessReset
// (one per command or display block), those to a board model included;
// the scripted board's do not count.
int HeadlessSendCount();

// A scripted board, for tests that need exact control over what arrives
// and when, without any socket traffic. While `chunks` is set, each
// PlatReceive on a stream socket returns the next chunk, cut to its `max`
// (the rest stays for the next receive, as TCP would deliver it). Chunks
// arrive apart: the first receive after a chunk was taken whole finds
// nothing within its wait (ReceiveTimedOut, the whole wait reported as
// waited, the clock untouched), the next one takes the next chunk. An empty
// chunk is one more such receive that finds nothing; once every chunk is
// taken, each receive returns ReceiveClosed. PlatDiscardPending throws
// away the rest of a cut chunk. PlatConnectStart is done at once for a loopback
// address without connecting, and PlatSend sends nothing: it appends its bytes
// as one entry to `*sent` (when given) and reports them all sent. Both vectors
// must outlive the script; nullptr switches it off, and so does
// HeadlessReset.
void HeadlessSetReceiveScript(const std::vector<std::string>* chunks,
                              std::vector<std::string>* sent = nullptr);

// A board model in place of the connection, on the driven clock: no socket
// traffic and no real waiting. The model is told every send of the program
// and answers with pieces of the stream, each with the tick at which it
// reaches the program. A PlatReceive takes what has arrived by now (up to
// its `max`, the rest stays); when nothing has, it moves the clock to the
// next arrival if that comes within its wait and takes it, or else moves
// the clock by the whole wait and times out. `waitedMs` is always the time
// the clock moved. PlatDiscardPending throws away only what has arrived.
// A piece marked Closes ends the stream when it arrives: receives from
// then on report ReceiveClosed and sends fail.
struct HeadlessArrival {
  uint32_t At;  // tick of arrival; never before an earlier piece's
  std::string Bytes;
  bool Closes;
};

class HeadlessBoardModel {
 public:
  virtual ~HeadlessBoardModel() = default;
  // Whether a connect to loopback port `port` reaches the model; any port
  // unless the model says otherwise.
  virtual bool Listens(int port) {
    (void)port;
    return true;
  }
  // A connection begins at `now`: the stream is fresh, nothing of an
  // earlier one is still to come. False refuses it (the connect fails).
  virtual bool Accept(uint32_t now, std::vector<HeadlessArrival>* out) = 0;
  // One send of the program, handed over at `now`.
  virtual void Take(const char* bytes, int length, uint32_t now,
                    std::vector<HeadlessArrival>* out) = 0;
  // Before each look of the program at the stream (a send, a receive, a
  // discard): what the board did on its own by `now` (a close, bytes nobody
  // asked for). True withdraws first every piece that has not arrived by
  // `now`: a board that closes in the middle of a reply never sends its
  // rest.
  virtual bool Update(uint32_t now, std::vector<HeadlessArrival>* out) {
    (void)now;
    (void)out;
    return false;
  }
  // The program closed its end of the stream at `now` (or opened another).
  virtual void Closed(uint32_t now) { (void)now; }
};

// While `model` is set, stream sockets made from then on lead to it:
// connecting to a loopback address asks the model (PlatConnectStart is
// done or failed at once), one connection at a time (a new one ends the
// stream of the one before). Switches the scripted board off. nullptr
// switches the model off, and so does HeadlessReset; the model must
// outlive its use.
void HeadlessSetBoardModel(HeadlessBoardModel* model);

// Files, in memory. A folder exists once a test made it (or put a file in
// it); nothing else does. Every PlatAppendFile is recorded, whatever its
// outcome, so a test can tell that nothing was written.
void HeadlessAddFolder(const Text& path, bool readOnly = false);
void HeadlessSetFolderReadOnly(const Text& path, bool readOnly);
// A file with the given contents (its folder made as well).
void HeadlessPutFile(const Text& path, const std::string& bytes);
// The file exists but cannot be read (PlatReadFileEnd: FileUnreadable).
void HeadlessSetFileUnreadable(const Text& path);
// The file may not be written (held open by another program, or marked
// read-only): PlatAppendFile and PlatWriteFile fail with AppendDenied and
// change nothing; reading it works. False: writable again.
void HeadlessSetFileLocked(const Text& path, bool locked);
// The file's contents; nullptr when there is no such file.
const std::string* HeadlessFileContent(const Text& path);
// The disk takes `bytes` more bytes, then is full: a write that does not
// fit puts in what fits and fails with AppendDiskFull. -1: no limit (the
// default).
void HeadlessSetDiskSpace(int64_t bytes);
struct HeadlessFileWrite {
  Text Path;
  // What the program asked to append; empty when the file could not be
  // opened (AppendNoFolder, AppendDenied), of which Length tells the size.
  std::string Bytes;
  AppendResult Result;
  size_t Length;
};
const std::vector<HeadlessFileWrite>& HeadlessFileWrites();

// Programs, started in name only: every PlatStartProgram is recorded with
// its arguments, whatever its outcome. A start fails when the test asks
// for it, or when the program's folder is one the file model knows and
// holds no such file. A program started has ended by the first look at
// it, unless the test keeps programs running: then they run until it ends
// them.
struct HeadlessProgramStart {
  Text Program;
  std::vector<Text> Arguments;
  bool Started;
};
const std::vector<HeadlessProgramStart>& HeadlessProgramStarts();
void HeadlessSetProgramStartsFail(bool fail);
void HeadlessSetProgramsKeepRunning(bool keep);
void HeadlessEndPrograms();
// Programs started and not yet ended.
int HeadlessRunningPrograms();

// The save dialog: the answer to the next one (a path chosen, or
// cancelled); without an answer the dialog is cancelled. Every dialog
// shown is recorded.
void HeadlessAnswerSaveDialog(bool choose, const Text& path);
struct HeadlessSaveDialog {
  int Window;
  Text Title;
  Text TypeName;
  Text Extension;
  Text SuggestedName;
};
const std::vector<HeadlessSaveDialog>& HeadlessSaveDialogs();

// Listening sockets (PlatListen). Real ones (POSIX) on loopback addresses
// only: any other address, 0.0.0.0 too, is ListenNotHere, so nothing a
// test runs can be reached from another machine. Once a test asks for
// in-memory clients, every PlatListen from then on makes an in-memory
// listener instead, on the driven clock: the test plays its clients with
// the calls below and no byte goes over a socket. Such a listener takes
// any loopback address, 0.0.0.0 and the addresses a test makes the
// machine's own; a port a test holds, or one another listener has on the
// same address, is ListenInUse. HeadlessReset ends all of it.
void HeadlessUseWebClients(bool on);
// Every PlatListen since the reset, in order, whatever its outcome.
struct HeadlessListenRecord {
  uint32_t Address;  // network byte order
  int Port;          // as asked for
  ListenResult Result;
};
const std::vector<HeadlessListenRecord>& HeadlessListens();
// Listeners open now (real and in memory).
int HeadlessListening();
// Another program holds `port` (in memory): listening there fails.
void HeadlessHoldPort(int port, bool held);
// An address (network byte order) the machine has besides loopback.
void HeadlessAddOwnAddress(uint32_t addressNetworkOrder);
// A client connects to an in-memory listener on `address` and `port`: its
// number, -1 when nothing listens there (or its queue of 128 is full).
// The program takes it with PlatAccept.
int HeadlessClientConnect(uint32_t address, int port);
// The client sends bytes (nothing once either end has closed).
void HeadlessClientSend(int client, const std::string& bytes);
// The address a client comes from (network byte order); 127.0.0.1 unless
// set, before the program takes its connection.
void HeadlessClientFrom(int client, uint32_t addressNetworkOrder);
// The client reads what the program has sent and it has not read yet.
std::string HeadlessClientRead(int client);
// Everything the client has read so far.
const std::string& HeadlessClientAllRead(int client);
// How many bytes the client's end takes before it reads (256 KB unless
// set): a program's PlatSendNow beyond that takes nothing (0). A client
// that never reads has a small window and never calls HeadlessClientRead.
void HeadlessClientWindow(int client, int bytes);
// The program has taken the client's connection (PlatAccept), or closed it.
bool HeadlessClientTaken(int client);
// The program closed its end of the client's connection.
bool HeadlessClientClosedByServer(int client);
// The client closes its end: the program's receives report ReceiveClosed
// once the bytes sent before are taken, its sends fail.
void HeadlessClientClose(int client);
// Connections the program has taken and not closed.
int HeadlessServerConnections();

// Peers the program opens connections to itself (PlatOpenNow), played by
// the test on the driven clock: a loopback port named here takes each
// connection as an in-memory one, whose far end the test plays with the
// HeadlessClient* calls above (as if it were a client), or refuses it, or
// never answers (the connect stays pending until closed). Another loopback
// port gets a real connection (POSIX); any other address none.
// HeadlessReset forgets them all.
enum HeadlessPeerMode {
  HeadlessPeerOff,  // a real connection, as for any port
  HeadlessPeerTakes,
  HeadlessPeerRefuses,
  HeadlessPeerSilent,
};
void HeadlessPlayPeer(int port, HeadlessPeerMode mode);
// The client numbers of the connections the peer at `port` took, the
// oldest first.
std::vector<int> HeadlessPeerConnections(int port);
// PlatOpenNow calls since the reset, whatever their outcome.
int HeadlessOpenNowCount();

// The session's end, as Windows tells it: at the program's next event
// wait or serve (where a message the system sends reaches it), the
// program's session-end procedure is called with `reason`, and an
// EventSessionEnd queued after the events already there. Once: a further
// one is not told. Without a procedure it is lost, as on Windows.
void HeadlessPostSessionEnd(SessionEndReason reason);
// Every PlatRegisterRestart since the reset, its arguments, in order.
const std::vector<Text>& HeadlessRestartRegistrations();
// Names one program at a time holds (PlatClaimName): the one the program
// holds now ("" when none), every name it asked for since the reset, and
// names another program holds (a second copy started beside the first).
const Text& HeadlessClaimHeld();
const std::vector<Text>& HeadlessClaimsAsked();
void HeadlessHoldClaimElsewhere(const Text& name, bool held);
// Every PlatClaimName fails (ClaimFailed): the system made no such name.
void HeadlessSetClaimsFail(bool fail);
