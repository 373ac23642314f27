// Everything the program asks of the operating system goes through these
// procedures. There are two implementations: platform/win32 (the real
// program) and platform/headless (an in-memory stand-in used by the tests).
// Both keep the contract written here; tests/platform_checks.cpp holds
// them to it, the headless one in the native test suite and the Windows
// one under Wine (tests/wine/test_platform.sh).
//
// Rules for every procedure below, unless it says otherwise:
// - Windows are numbered 0 .. PlatWindowCount - 1 and controls
//   0 .. PlatControlCount - 1. A control number is unique across all
//   windows of the program.
// - A number outside its range, or one that names no open window or no
//   existing control, is no error: a procedure that makes something returns
//   false and makes nothing, one that changes something does nothing, one
//   that reads gives the empty value (empty text, 0, false).
// - A procedure for some kinds of control (a range, a value, a check mark,
//   the rich-text operations) does nothing on a control of another kind and
//   reads the empty value there.
// - The Windows layer makes windows, controls and memory only once
//   PlatStartFacilities has run; the headless one at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's own entry, defined by the program (app/startup.cpp): the
// platform's process entry calls it once. Start-up, the main loop and the
// normal end; returns the exit code, always 0.
int ProgramMain();

// A text is a byte string in the Windows-1252 code page.
using Text = std::string;

constexpr int PlatWindowCount = 8;
// The one bound of control numbers, the program's own included.
constexpr int PlatControlCount = 256;
constexpr int PlatFontCount = 4;

// ---------------------------------------------------------------------------
// Facilities of the process
// ---------------------------------------------------------------------------

// Private heap, common controls (with trackbar, up-down, progress bar and
// tooltips), the rich-edit library and COM. Returns false when a facility
// could not be started; start-up carries on regardless.
bool PlatStartFacilities();

// Memory taken from the program's own heap, zero-filled. Kept until
// PlatReleaseMemory, which gives all of it back at once. A size of 0 or
// less gives nullptr.
unsigned char* PlatTakeZeroedMemory(int size);
void PlatReleaseMemory();

// Shutdown pieces, called by the program's ReleaseFacilities in its order.
// Each may be called more than once and before the facility was started.
// After PlatReleaseSound the click is silent; the control library may go
// before the windows that use it (it is let go once the last is closed);
// after PlatReleaseImages the image button shows no picture; after
// PlatReleaseFonts new controls get the platform's default font.
void PlatReleaseSound();
void PlatReleaseControlLibrary();
void PlatCloseAllWindows();
void PlatReleaseImages();
void PlatReleaseFonts();
// Destroys the private heap. Last step of the exit path.
void PlatDestroyHeap();

// Build settings that become the defaults of BoardAddress and BoardPort.
const char* PlatBuildBoardAddress();
int PlatBuildBoardPort();

// The program's command line as the process was given it: one text, the
// program name first, the arguments after it, quoting untouched.
const char* PlatCommandLine();

// ---------------------------------------------------------------------------
// Fonts, picture, sound
// ---------------------------------------------------------------------------

// Creates font `number` (0 .. PlatFontCount - 1) with `face` at `points`
// for the display's vertical resolution (negative character height, weight
// 400, default charset). A font made again replaces the first.
bool PlatCreateFont(int number, const char* face, int points);
// Every control created from now on uses font `number`; a number that
// names no font made here changes nothing.
void PlatSetDefaultControlFont(int number);

// Loads the embedded board picture as image 0.
bool PlatLoadBoardPicture();

// Readies the sound system (loaded by name at run time, at the first
// click). False: its library is not there, no sound. One that fails to
// start at the first click leaves the program silent.
bool PlatStartSound();
// Loads the embedded click as sound 0.
bool PlatLoadClick();
// Starts sound 0 from its beginning and returns at once.
void PlatPlayClick();

// ---------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------

enum WindowFrame {
  // Title bar only: no system menu, no close, minimise or maximise box.
  FrameTitleOnly,
  // Title bar with system menu (close box) and minimise box; not sizable.
  FrameMain,
  // Title bar with system menu, close, minimise and maximise boxes, and a
  // frame the operator can drag to any size.
  FrameSizable,
};

// Opens top-level window `window` with the given client size. When
// `centred` is true it is centred on the screen (cut to the screen where
// smaller); otherwise its outer top-left corner is placed at (x, y).
// The window is shown at once and comes to the front. A window of that
// number that is still open is closed first (as PlatCloseWindow).
bool PlatOpenWindow(int window, WindowFrame frame, const Text& title,
                    int clientWidth, int clientHeight, bool centred, int x,
                    int y);
// Closes the window: its controls and its timer go with it, and so do the
// events of its controls and the tick of its timer that wait to be taken
// (a close request already waiting stays). Their numbers are free again.
void PlatCloseWindow(int window);
bool PlatWindowIsOpen(int window);
// Outer top-left corner of the window on the screen.
bool PlatWindowOuterPosition(int window, int* x, int* y);
// Repaints erase the background only outside the window's controls.
void PlatEraseOnlyOutsideControls(int window);
// Window timer `timer` (a number above 0) on `window`, every `intervalMs`
// (above 0). A window has one timer: a further one replaces it, and a
// tick of the old one that waits to be taken is dropped.
bool PlatAddTimer(int window, int timer, int intervalMs);

// Size of the window's client area as it is now (after the operator's
// resizing); false and 0 x 0 for a window that is not open.
bool PlatWindowClientSize(int window, int* width, int* height);
// Brings an open window to the front and makes it the active window,
// restored first when it is minimised.
void PlatBringToFront(int window);
// Whether the window is the active window: the one that takes the
// operator's keyboard input, in the program that has the foreground.
bool PlatWindowIsActive(int window);
// Flashes the window's caption and taskbar button until the operator
// activates the window; a window that is active already is not flashed.
void PlatFlashUntilActive(int window);

// Adds item `command` (1 .. SystemMenuCommandCount - 1) with `text` to the
// window's system menu (the menu of its title-bar icon, Alt+Space), below
// a separator of its own. Choosing it gives an EventMenu with `command`.
// A command the window's menu has already, or a window without a system
// menu (FrameTitleOnly), is refused (false).
constexpr int SystemMenuCommandCount = 256;
bool PlatAddSystemMenuItem(int window, int command, const Text& text);

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

enum ControlKind {
  KindLabel,
  KindButton,
  KindCheckBox,
  KindSpin,
  KindEdit,
  KindRichText,
  KindProgressBar,
  KindTrackbar,
  KindImageButton,
};

// Properties, or-ed together.
enum ControlProperty {
  PropBorder = 1,        // label: sunken edge
  PropCentred = 2,       // label: centred text
  PropRightAligned = 4,  // label: right-aligned text
  PropVertical = 8,      // trackbar, progress bar
  PropTickMarks = 16,    // trackbar: one tick per unit
  PropReadOnly = 32,     // rich-text box
  PropSmooth = 64,       // progress bar
};

// Creates control `number` in `window`, enabled, unchecked, with no
// tooltip. `text` is the label's text, the button's caption, the field's
// or the rich-text box's first text; other kinds ignore it. An image
// button shows image 0. Trackbars, progress bars and spin controls start
// with the range 0..100; a trackbar or progress bar reads its minimum. A
// number that is already in use is refused (false): the control that has
// it stays as it is.
bool PlatCreateControl(int window, int number, ControlKind kind, int x, int y,
                       int width, int height, const Text& text, int properties);

// The label's text, the caption, the field's text (of a spin control: its
// number field). A rich-text box takes the text as it stands (a line feed,
// alone or after a carriage return, breaks a line) and gives it back with
// its lines joined by a carriage return; text that looks like a document
// format is shown as text. Check boxes, trackbars, progress bars and image
// buttons have no text.
void PlatSetText(int number, const Text& text);
Text PlatGetText(int number);
// Text colour of a label (COLORREF 0x00BBGGRR); the background stays the
// window's.
void PlatSetTextColour(int number, uint32_t colour);
// A disabled control takes no operator input (clicks, typing, arrows) and
// loses the keyboard focus; the program can still change it.
void PlatEnable(int number, bool enabled);
bool PlatIsEnabled(int number);
void PlatSetTooltip(int number, const Text& text);
// Switches a control to the platform's default system font.
void PlatUseSystemFont(int number);
void PlatSetFocus(int number);

// Range of a trackbar, progress bar or spin control; a range whose min is
// above its max changes nothing. A trackbar or progress bar keeps its value
// as far as the new range holds it (else the nearer end). A spin
// control's range bounds only its arrows: they step the number in the
// field by 1 within it (from the last number they wrote when the field
// holds no whole decimal number within the range); the field itself takes
// any text and keeps it.
void PlatSetRange(int number, int min, int max);
// Value of a trackbar or a progress bar, brought into its range. A
// vertical trackbar reads its maximum at the top. A spin control has no
// value here: its number is its text.
void PlatSetValue(int number, int value);
int PlatGetValue(int number);
// Colour of a progress bar's bar.
void PlatSetBarColour(int number, uint32_t colour);

void PlatSetChecked(int number, bool checked);
bool PlatIsChecked(int number);

// Moves and sizes a control within its window (client coordinates).
void PlatMoveControl(int number, int x, int y, int width, int height);

// Rich-text box operations.
void PlatRichClear(int number);
// Colour of all text, and of text appended later.
void PlatRichSetColour(int number, uint32_t colour);
// Moves to the end, adds a line break if the box is not empty, inserts
// `line` (a carriage return in it starts a further line).
void PlatRichAppend(int number, const Text& line);

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

// A window's drawing: a list of steps, in client coordinates, that the
// platform paints in their order over the window's background (and under
// its controls) whenever the window needs painting. The program builds the
// whole list anew and then shows it; until then the old one stays on
// screen. Coordinates outside the client area are cut off when painted.
// A window opens with an empty drawing; closing it forgets the drawing.

// Starts a new, empty list for `window`; what was shown stays on screen.
void PlatBeginDrawing(int window);
// A straight line from (x1, y1) to (x2, y2), both ends included, `width`
// pixels wide (1 or more), solid or dashed.
enum LineStyle { LineSolid, LineDashed };
void PlatDrawLine(int window, int x1, int y1, int x2, int y2, uint32_t colour,
                  int width, LineStyle style);
// A filled rectangle from (left, top) up to but not including (right,
// bottom); an empty one draws nothing.
void PlatFillRect(int window, int left, int top, int right, int bottom,
                  uint32_t colour);
// A filled round dot of `radius` pixels around (x, y).
void PlatDrawDot(int window, int x, int y, int radius, uint32_t colour);
// One line of text in the window's control font, on a transparent
// background. `align` places it: horizontally AlignLeft (starts at x),
// AlignCentre or AlignRight (ends at x); vertically its top at y, or with
// AlignMiddle its middle at y.
enum TextAlign {
  AlignLeft = 0,
  AlignCentre = 1,
  AlignRight = 2,
  AlignMiddle = 4,
};
void PlatDrawText(int window, int x, int y, const Text& text, uint32_t colour,
                  int align);
// The list is complete: the window is painted anew with it.
void PlatShowDrawing(int window);

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

enum EventKind {
  EventNone,     // the time limit passed without any event
  EventControl,  // a control was used; Number is the control
  EventTimer,    // a window timer fired; Number is the timer
  EventClose,    // a close request; Number is the window
  EventOther,    // any other window message (painting, mouse, ...)
  EventMenu,     // a system-menu item of the program; Number is its command
  EventResize,   // the operator resized a window; Number is the window
  // Windows ends the session; Number is its SessionEndReason. It comes
  // after the program's session-end procedure has run (below).
  EventSessionEnd,
};

struct PlatEvent {
  EventKind Kind;
  int Number;
};

// Waits for one window event, at most `maxMs` milliseconds (0 or less:
// only what is there). Control events and close requests come in the order
// they happened; a timer has one waiting tick at most. A close request
// leaves the window open: the program decides what it means.
PlatEvent PlatWaitEvent(int maxMs);

// While the program waits for the board: repaints what needs it and answers
// the messages the system and other programs send to the windows. Takes no
// operator input and no timer tick: they stay queued for the next event
// wait, so that no handler runs inside another. Returns at once.
void PlatServeWindows();

// Modal box with an OK button, no icon, owned by the program's foreground
// window if there is one. Returns when the operator presses OK.
void PlatMessageBox(const Text& title, const Text& text);

// While the system runs a loop of its own on the program's thread (a menu
// of a window is open, a window is moved or sized, the save dialog or a
// message box waits for the operator), the program's event wait does not
// run: operator input and timer ticks only queue. The platform then calls
// `service` every ModalServiceInterval milliseconds, from within that loop,
// until the loop ends; it takes no operator input there, so what the
// operator does meanwhile waits in order for the next event wait. The
// service is called from nowhere else, and not at all while none is set
// (nullptr, the default).
constexpr int ModalServiceInterval = 50;
using PlatModalService = void (*)();
void PlatSetModalService(PlatModalService service);

// Takes the waiting tick of window timer `timer` out of the events that
// wait to be taken, and leaves every other event where it stands: true
// when one was waiting.
bool PlatTakeTimerTick(int timer);

// Asks the shell to open `address` with the program registered for it;
// does not wait.
void PlatOpenAddress(const Text& address);

// ---------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------

// Milliseconds since system start, wrapping at 2^32.
uint32_t PlatTickCount();
// Sleeps `ms` milliseconds with the timer resolution raised to 1 ms.
void PlatSleep(int ms);
// The local wall-clock time as seconds counted from 1 January 1970, 00:00
// local time (so a day always starts at a multiple of 86400, whatever the
// time zone).
int64_t PlatLocalClock();
// Universal time as seconds since 1 January 1970, 00:00 UTC: it goes on
// when the local clock is put forward or back (summer time, a zone).
int64_t PlatUniversalClock();

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// Paths are Windows paths in Windows-1252 ("D:\Brunnen\log.csv"); the
// headless layer keeps files in memory under the path exactly as given.

// Whether `path` names an existing folder.
bool PlatFolderExists(const Text& path);

// Appends `length` bytes to the end of the file, creating it when it is
// missing (never its folder), and flushes them to the disk before it
// returns. The file is opened and closed again within the call and shared
// with readers meanwhile. AppendWritten: every byte is in the file. On any
// other outcome some of the bytes may be in the file (a full disk), none
// when the file could not be opened.
enum AppendResult {
  AppendWritten,
  AppendNoFolder,  // the file's folder does not exist
  AppendDenied,    // the folder or the file may not be written
  AppendDiskFull,  // the disk is full
  AppendFailed,    // anything else
};
AppendResult PlatAppendFile(const Text& path, const void* bytes, int length);

// Writes a whole file anew: creates it, or empties one that exists, and
// writes the bytes as PlatAppendFile does.
AppendResult PlatWriteFile(const Text& path, const void* bytes, int length);

// Reads the end of a file: its last `maxBytes` bytes at most (all of it
// when it is no longer), into `*bytes`, and its whole size into `*size`.
// FileMissing: there is no such file (`*bytes` empty, `*size` 0).
enum ReadResult { FileRead, FileMissing, FileUnreadable };
ReadResult PlatReadFileEnd(const Text& path, int maxBytes, Text* bytes,
                           int64_t* size);

// Reads the start of a file: its first `maxBytes` bytes at most, into
// `*bytes`, and its whole size into `*size`; the file shared as
// PlatReadFileEnd shares it, the same results.
ReadResult PlatReadFileStart(const Text& path, int maxBytes, Text* bytes,
                             int64_t* size);

// The system's standard dialog for saving a file, owned by `window`, with
// `title`, a file-type filter for `typeName` files ending in `extension`
// (without the dot; also added to a name typed without one), and
// `suggestedName` in its name field. Asks before replacing a file that
// exists. True with the chosen path; false when the operator cancelled.
// Modal: returns when the operator has chosen.
bool PlatAskSavePath(int window, const Text& title, const Text& typeName,
                     const Text& extension, const Text& suggestedName,
                     Text* path);

// ---------------------------------------------------------------------------
// Programs
// ---------------------------------------------------------------------------

// A program this one started, as PlatStartProgram names it; NoProgram
// names none.
using PlatProgram = intptr_t;
constexpr PlatProgram NoProgram = 0;

// Starts `program` with `arguments` and returns at once, without waiting
// for it, without a console window and without handing it any of this
// program's handles or sockets. Each argument reaches the program whole,
// blanks and quotes included. A .cmd or .bat file is run by the command
// interpreter (cmd.exe /c), as Windows requires; there, each argument is
// given in double quotes (the script takes it with %~1 .. %~9). NoProgram
// when it could not be started (no such program, no right to run it).
PlatProgram PlatStartProgram(const Text& program,
                             const std::vector<Text>& arguments);
// Whether the program still runs. Once it has ended this says false, and
// its number is let go: from then on it names nothing. A number that names
// nothing does not run.
bool PlatProgramRunning(PlatProgram program);

// ---------------------------------------------------------------------------
// Sockets (IPv4)
// ---------------------------------------------------------------------------

using PlatSocket = intptr_t;
constexpr PlatSocket NoSocket = -1;

bool PlatSocketsStart();  // Windows Sockets 1.1
void PlatSocketsCleanup();

// Address in network byte order; 0xFFFFFFFF (255.255.255.255) when `text`
// is not a dotted IPv4 address.
uint32_t PlatDottedAddress(const char* text);
// First address of a host name lookup, network byte order.
bool PlatLookupHost(const char* name, uint32_t* address);

PlatSocket PlatStreamSocket();
PlatSocket PlatDatagramSocket();
bool PlatSetNonBlocking(PlatSocket socket);
// A connect that does not block: starts it. Returns ConnectDone,
// ConnectPending or ConnectFailed.
enum { ConnectFailed = -1, ConnectPending = 0, ConnectDone = 1 };
int PlatConnectStart(PlatSocket socket, uint32_t address, int port);
// Waits at most `waitMs` for a connect started above to end. Once it is
// done the socket is blocking again. Urgent data
// that comes with the connection does not make it a failure.
int PlatConnectWait(PlatSocket socket, int waitMs);
// One send call; the number of bytes sent or -1.
int PlatSend(PlatSocket socket, const void* bytes, int length);

enum {
  ReceiveClosed = 0,    // the peer closed the connection, or it failed
  ReceiveTimedOut = -1  // nothing arrived within the wait
};
// One receive of at most `max` bytes of the stream. Waits at most `waitMs`
// for the first byte (0: only what is already there) and tells in
// `waitedMs` (when given) how long it really waited. Returns the byte
// count, or one of the values above; a `max` of 0 or less gives
// ReceiveClosed. Urgent (out-of-band) data is no part of the stream: it
// neither ends the wait nor reaches the bytes, so a peer that sends only
// urgent data is a peer that sends nothing, and the wait still ends in time.
int PlatReceive(PlatSocket socket, void* bytes, int max, int waitMs,
                int* waitedMs);
// Throws away the bytes of the stream that have arrived and not been
// received, DiscardLimit at most, without waiting for more: a board that
// keeps talking cannot hold the program here. What lies beyond the limit
// stays for the next receive. Returns the number of bytes thrown away.
constexpr int DiscardLimit = 32 * 1024;
constexpr int DiscardPiece = 4096;  // bytes taken by one read
int PlatDiscardPending(PlatSocket socket);
void PlatCloseSocket(PlatSocket socket);

// ---------------------------------------------------------------------------
// Listening sockets (IPv4), for the read-only status page
// ---------------------------------------------------------------------------

// Opens a stream socket that listens on exactly `address` (network byte
// order; every address of the machine only when it is 0.0.0.0) and `port`
// (0: a free one the system picks), and never waits: accept, send and
// receive on it and on the connections it takes return at once. Another
// program cannot take the same address and port while it listens.
enum ListenResult {
  ListenDone,
  ListenInUse,    // the port is taken on that address
  ListenNotHere,  // the address is none of this machine's
  ListenFailed,   // anything else
};
ListenResult PlatListen(uint32_t address, int port, PlatSocket* listener);
// The port a listening socket listens on; 0 for any other socket.
int PlatListeningPort(PlatSocket listener);
// Takes one connection that waits at the listener, without waiting: its
// socket (which never waits either and is not handed to programs started
// later), or NoSocket when none waits.
PlatSocket PlatAccept(PlatSocket listener);
// The address a taken connection comes from, in network byte order; 0
// when it cannot be told.
uint32_t PlatPeerAddress(PlatSocket socket);
// One send on a taken connection (or one PlatOpenNow made) that never waits:
// the bytes the system took (0 when its buffer for the connection is full, the
// peer not reading), or -1 when the connection is gone.
int PlatSendNow(PlatSocket socket, const void* bytes, int length);
// One receive on a taken connection (or one PlatOpenNow made) that never waits:
// the byte count, ReceiveTimedOut when nothing is there, ReceiveClosed when the
// peer closed the connection or it failed. A `max` of 0 or less gives
// ReceiveClosed.
int PlatReceiveNow(PlatSocket socket, void* bytes, int max);

// ---------------------------------------------------------------------------
// Connections opened without waiting (IPv4), for the MQTT client
// ---------------------------------------------------------------------------

// Opens a stream connection to `address` (network byte order) and `port`
// that never waits, neither now nor later: its socket in `*socket` (not
// handed to programs started later), or NoSocket when none could be made.
// Returns ConnectDone, ConnectPending or ConnectFailed; on ConnectFailed
// nothing is left open. The board's connection is not touched. Its sends
// and receives are PlatSendNow and PlatReceiveNow; PlatCloseSocket ends it.
int PlatOpenNow(uint32_t address, int port, PlatSocket* socket);
// Whether a connection PlatOpenNow left pending is made, without waiting:
// ConnectDone, ConnectPending or ConnectFailed (the socket stays open
// until closed). A connection of a port to itself is no connection.
int PlatOpenedNow(PlatSocket socket);

// ---------------------------------------------------------------------------
// The session's end, the restart after an update, one program per name
// ---------------------------------------------------------------------------

// Why Windows ends the session.
enum SessionEndReason {
  SessionEndShutdown,  // the PC shuts down or restarts
  SessionEndLogoff,    // the user logs off
  SessionEndUpdate,    // an installer or an update closes the program to
                       // restart it (it is brought back afterwards)
  SessionEndCritical,  // Windows ends at once, without asking anyone
};
using SessionEndProcedure = void (*)(SessionEndReason reason);
// Windows asks whether the session may end: the answer is yes, at once,
// always. When it does end, `procedure` is called at once with the reason,
// inside the system's message, wherever the program is (in its event wait,
// waiting for the board, in a dialog): Windows may end the process as soon
// as it returns, so what it has to say must be said there, quickly and
// without waiting for anything. After it an EventSessionEnd waits for the
// program's next event wait. Without a procedure (nullptr, the start)
// nothing is called and no event comes.
void PlatSetSessionEndProcedure(SessionEndProcedure procedure);

// Registers the program with Windows to be started again, with
// `arguments` (the command line after the program's name), when an update
// or a restart of Windows ends it. False where the system cannot
// (before Windows Vista) or refuses.
bool PlatRegisterRestart(const Text& arguments);

// A name one program at a time can hold on this computer (in every
// session where the system allows it, else in this session): ClaimHeld,
// the program holds it until PlatReleaseClaim or its end; ClaimTaken,
// another program holds it; ClaimFailed, the system made no such name.
// Holding a further name lets go of the one before.
enum ClaimResult { ClaimHeld, ClaimTaken, ClaimFailed };
ClaimResult PlatClaimName(const Text& name);
void PlatReleaseClaim();

// ---------------------------------------------------------------------------
// Sleep and power
// ---------------------------------------------------------------------------

// What the system has said of its sleeps since the start: how many times
// it announced that it goes to sleep (suspend), and how many times that it
// woke (resume; a wake the operator made may be announced twice, once for
// the wake and once for his presence). A sleep the system did not announce
// shows only on the clocks (PlatRunningTime).
struct PlatPowerNotices {
  int Suspends;
  int Resumes;
};
PlatPowerNotices PlatPowerNoticesSoFar();

// Milliseconds the system has run since its start, not counting the time
// it slept: the tick count goes on through a sleep, this clock does not.
// False where the system cannot tell (then `*ms` is 0).
bool PlatRunningTime(uint64_t* ms);

// Asks the system to stay awake (never the display) for `reason`, or with
// `awake` false withdraws the request. The system may still sleep when
// the operator closes a lid, presses the power button or chooses to.
void PlatKeepSystemAwake(bool awake, const Text& reason);
