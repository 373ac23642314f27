// Headless stand-in: process facilities, memory, fonts, picture, sound,
// message boxes, shell requests, build settings and the clock.

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

struct ProcessModel {
  HeadlessFaults Faults{};
  std::string BoardAddress = "127.0.0.1";
  int BoardPort = 50290;
  std::string CommandLine = "korvalinex.exe";

  std::vector<void*> MemoryBlocks;
  std::map<int, std::string> Fonts;  // number: face and size
  int DefaultFont = -1;

  bool PictureLoaded = false;
  bool SoundStarted = false;
  bool ClickLoaded = false;
  int Clicks = 0;

  std::vector<HeadlessMessageBox> MessageBoxes;
  std::vector<Text> OpenedAddresses;

  int Day = 6, Month = 12, Year = 2026, Hour = 7, Minute = 45;
  int64_t ElapsedAtSetting = 0;  // the driven clock when the time was set
  // The local clock's lead on universal time, now and when the local time
  // was set.
  int UtcOffset = 3600;
  int UtcOffsetAtSetting = 3600;
};

// Days from 1 January 1970 to the given date of the proleptic Gregorian
// calendar.
int64_t DaysFromEpoch(int day, int month, int year) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

ProcessModel Process;

void FreeMemoryBlocks() {
  for (void* block : Process.MemoryBlocks) free(block);
  Process.MemoryBlocks.clear();
}

}  // namespace

// ---------------------------------------------------------------------------
// Reset and test settings
// ---------------------------------------------------------------------------

void HeadlessReset() {
  FreeMemoryBlocks();
  Process = ProcessModel();
  HeadlessResetWindows();
  HeadlessResetEvents();
  HeadlessResetSockets();
  HeadlessResetDrawings();
  HeadlessResetFiles();
  HeadlessResetPrograms();
  HeadlessResetSession();
  HeadlessResetPower();
}

HeadlessFaults& HeadlessFaultSettings() { return Process.Faults; }

void HeadlessSetBoardAddress(const char* address) {
  Process.BoardAddress = address ? address : "";
}

void HeadlessSetBoardPort(int port) { Process.BoardPort = port; }

void HeadlessSetCommandLine(const char* line) {
  Process.CommandLine = line ? line : "";
}

const std::vector<HeadlessMessageBox>& HeadlessMessageBoxes() {
  return Process.MessageBoxes;
}

int HeadlessClickCount() { return Process.Clicks; }

const std::vector<Text>& HeadlessOpenedAddresses() {
  return Process.OpenedAddresses;
}

int HeadlessFontCreated(int number) { return Process.Fonts.count(number); }

Text HeadlessFontName(int number) {
  auto it = Process.Fonts.find(number);
  return it == Process.Fonts.end() ? Text() : it->second;
}

int HeadlessLiveMemoryBlocks() { return (int)Process.MemoryBlocks.size(); }

void HeadlessSetLocalTime(int day, int month, int year, int hour, int minute) {
  Process.Day = day;
  Process.Month = month;
  Process.Year = year;
  Process.Hour = hour;
  Process.Minute = minute;
  Process.ElapsedAtSetting = HeadlessElapsedMs();
  Process.UtcOffsetAtSetting = Process.UtcOffset;
}

void HeadlessSetUtcOffset(int seconds) { Process.UtcOffset = seconds; }

int HeadlessDefaultFont() { return Process.DefaultFont; }

// ---------------------------------------------------------------------------
// Facilities
// ---------------------------------------------------------------------------

bool PlatStartFacilities() { return true; }

unsigned char* PlatTakeZeroedMemory(int size) {
  if (size <= 0) return nullptr;
  void* block = calloc((size_t)size, 1);
  if (block) Process.MemoryBlocks.push_back(block);
  return (unsigned char*)block;
}

void PlatReleaseMemory() { FreeMemoryBlocks(); }

void PlatReleaseSound() {
  Process.SoundStarted = false;
  Process.ClickLoaded = false;
}

void PlatReleaseControlLibrary() {}

void PlatReleaseImages() { Process.PictureLoaded = false; }

void PlatReleaseFonts() {
  Process.Fonts.clear();
  Process.DefaultFont = -1;
}

void PlatDestroyHeap() {}

const char* PlatBuildBoardAddress() { return Process.BoardAddress.c_str(); }

int PlatBuildBoardPort() { return Process.BoardPort; }

const char* PlatCommandLine() { return Process.CommandLine.c_str(); }

// ---------------------------------------------------------------------------
// Fonts, picture, sound
// ---------------------------------------------------------------------------

bool PlatCreateFont(int number, const char* face, int points) {
  if (number < 0 || number >= PlatFontCount) return false;
  if (number < 2 && Process.Faults.FontFails[number]) return false;
  Process.Fonts[number] =
      std::string(face ? face : "") + " " + std::to_string(points) + " pt";
  return true;
}

void PlatSetDefaultControlFont(int number) {
  if (Process.Fonts.count(number)) Process.DefaultFont = number;
}

bool PlatLoadBoardPicture() {
  if (Process.Faults.PictureFails) return false;
  Process.PictureLoaded = true;
  return true;
}

bool PlatStartSound() {
  if (Process.Faults.SoundFails) return false;
  Process.SoundStarted = true;
  return true;
}

bool PlatLoadClick() {
  if (!Process.SoundStarted || Process.Faults.ClickFails) return false;
  Process.ClickLoaded = true;
  return true;
}

void PlatPlayClick() {
  if (Process.ClickLoaded) Process.Clicks++;
}

// ---------------------------------------------------------------------------
// Message box, shell, clock
// ---------------------------------------------------------------------------

// The operator presses OK at once.
void PlatMessageBox(const Text& title, const Text& text) {
  Process.MessageBoxes.push_back(
      HeadlessMessageBox{title, text, HeadlessOpenWindowNumbers()});
}

void PlatOpenAddress(const Text& address) {
  Process.OpenedAddresses.push_back(address);
}

// The set date and time as universal time, moved on by the driven clock
// since it was set.
int64_t PlatUniversalClock() {
  int64_t set =
      DaysFromEpoch(Process.Day, Process.Month, Process.Year) * 86400 +
      Process.Hour * 3600 + Process.Minute * 60 - Process.UtcOffsetAtSetting;
  return set + (HeadlessElapsedMs() - Process.ElapsedAtSetting) / 1000;
}

int64_t PlatLocalClock() { return PlatUniversalClock() + Process.UtcOffset; }
