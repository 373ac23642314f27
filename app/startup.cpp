#include "app/startup.h"

#include <string>

#include "app/command_line.h"
#include "app/main_loop.h"
#include "app/session.h"
#include "base/state.h"
#include "base/wait_service.h"
#include "board/link.h"
#include "control/history.h"
#include "control/mqtt_snapshot.h"
#include "mqtt/mqtt_client.h"
#include "ui/click.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"
#include "web/web_server.h"

const char ProblemTitle[] = "KORVALINEX: Problem";
const char NetworkFailedText[] =
    "Das Netzwerk kann nicht initialisiert werden!";
const char BoardNotFoundText[] =
    "Das KORVALINEX-Board kann nicht gefunden werden!";
const char NoticeTitle[] = "KORVALINEX: Meldung";
// Shown when the main window cannot be opened: without it the operator
// could neither see nor end the program.
static const char MainWindowFailedText[] =
    "Das Programmfenster kann nicht geöffnet werden!";
// Shown when timer 123 cannot be started: the measurement would never run,
// and the well would go unguarded behind a window that looks normal.
const char TimerFailedText[] = "Der Messzeitgeber kann nicht gestartet werden!";

Text ConnectionNoticeText() {
  return "Verbindungsaufbau zum KORVALINEX-Board...\r\rIP/DNS: " +
         Settings().BoardAddress +
         "\r\rPort: " + std::to_string(Settings().BoardPort);
}

static void ForgetBuffers() {
  ReplyBuffer* all[] = {
      &AppState.Settings.StatusBuffer,  &AppState.Settings.AdcBuffer,
      &AppState.Settings.PortBuffer,    &AppState.Settings.PingBuffer,
      &AppState.Settings.VersionBuffer, &AppState.Settings.IpBuffer,
      &AppState.Settings.MaskBuffer,    &AppState.Settings.GatewayBuffer,
      &AppState.Settings.CommandBuffer, &AppState.Settings.LcdReplyBuffer};
  for (ReplyBuffer* b : all) *b = ReplyBuffer{nullptr, 0};
  ForgetHistory();
}

void ReleaseFacilities() {
  PlatReleaseSound();
  CloseAddressCheck();
  PlatSocketsCleanup();
  ForgetBuffers();
  PlatReleaseMemory();
  PlatReleaseControlLibrary();
  PlatCloseAllWindows();
  PlatReleaseImages();
  PlatReleaseFonts();
}

int ExitPath() {
  ReleaseFacilities();
  PlatReleaseClaim();
  PlatDestroyHeap();
  return 0;
}

static void OpenConnectionNotice() {
  PlatOpenWindow(MainWindow, FrameTitleOnly, NoticeTitle, 250, 90, true, 0, 0);
  PlatCreateControl(MainWindow, NoticeLabel, KindLabel, 10, 10, 230, 70,
                    ConnectionNoticeText(), 0);
}

int ProgramMain() {
  ZeroAppState();
  PlatStartFacilities();

  if (PlatCreateFont(0, "Arial", 8)) PlatSetDefaultControlFont(0);
  if (PlatCreateFont(1, "Arial", 6)) PlatSetDefaultControlFont(1);

  InitDefaults();
  // Address and port given on the command line take the place of the build
  // settings before anything uses them; wrong ones end the program before
  // any window opens or anything goes to the network.
  Text problem;
  if (!TakeBoardArguments(&problem)) {
    PlatMessageBox(ProblemTitle, problem);
    return ExitPath();
  }

  PlatLoadBoardPicture();
  if (PlatStartSound() && AppState.Settings.SoundEnabled) {
    AppState.Settings.SoundLoaded = true;
    PlatLoadClick();
  }

  if (!PlatSocketsStart()) {
    PlatMessageBox(ProblemTitle, NetworkFailedText);
    return ExitPath();
  }
  // One guard per well: a second program started for it ends here, before
  // it connects.
  if (!ClaimTheWell()) {
    PlatMessageBox(ProblemTitle, WellGuardedText());
    return ExitPath();
  }

  OpenConnectionNotice();
  // An address that cannot be resolved leaves no board to talk to: it ends
  // like a board that does not answer, without a main window. So does a
  // board that has not taken the connection within StartupConnectLimit (one
  // switched off, an address where nothing answers); the notice keeps
  // painting and answering while it waits.
  bool connected = false;
  if (CheckBoardAddress(Settings().BoardAddress, Settings().BoardPort))
    connected = OpenBoardConnection(StartupConnectLimit);
  PlatCloseWindow(MainWindow);
  if (!connected) {
    PlatMessageBox(ProblemTitle, BoardNotFoundText);
    return ExitPath();
  }

  bool timerStarted = false;
  if (!BuildMainWindow(&timerStarted)) {
    CloseConnection();
    PlatMessageBox(ProblemTitle, MainWindowFailedText);
    return ExitPath();
  }
  if (!timerStarted) {
    CloseConnection();
    PlatMessageBox(ProblemTitle, TimerFailedText);
    return ExitPath();
  }
  // With a level log, the history of the days before the restart.
  RestoreHistoryFromLog();
  // With /web, the status page: its listening socket, served in every wait
  // of the program.
  if (!AppState.Web.Settings.Address.empty()) {
    StartWebServer();
    AddWaitService(ServeWebClients);
  }
  // With /mqtt, the well in the home automation: its first try at the
  // broker, served where the page is.
  if (!AppState.Mqtt.Settings.Address.empty()) {
    TakeMqttSnapshot();
    StartMqttClient();
    AddWaitService(ServeMqtt);
  }
  GuardStarts();
  RunMainLoop();
  GuardEnds();
  RemoveWaitService(ServeMqtt);
  StopMqttClient();
  StopWebServer();
  RemoveWaitService(ServeWebClients);

  PlaySwitchSound();
  ServedPause(100);
  CloseConnection();
  return ExitPath();
}
