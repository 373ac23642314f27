// The program's windows, its defaults and its embedded assets, each written
// out whole and compared with a golden file under tests/golden/: every
// control with its number, kind, place, text, properties, font, colours,
// range and tooltip, in creation order (which is also the Tab order).
//
// A change on purpose: run the tests with KVX_GOLDEN_UPDATE=1 and review
// `git diff tests/golden/` (see tests/golden.h). On a mismatch the test
// prints the difference and leaves the program's text in
// <build dir>/golden-new/.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/state.h"
#include "base/state_words.h"
#include "platform/headless/headless.h"
#include "tests/golden.h"
#include "tests/program_fixture.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"

namespace {

using GoldenLayout = BoardTest;

// The main window as start-up builds it and as it first paints: the first
// time the program serves its windows with the main window open, which is
// while it waits for the board's first reply of the first query, before
// that query has drawn anything. Then the description window (the
// picture's click) and the history window (the system menu), each as the
// main loop opens it.
TEST_F(GoldenLayout, WindowsAsTheyOpen) {
  std::string mainWindow;
  HeadlessSetServeHook([&] {
    const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
    if (mainWindow.empty() && w && w->Open && w->Frame == FrameMain)
      mainWindow = DumpOpenWindows();
  });
  std::string description, history;
  Then([] { EXPECT_TRUE(HeadlessPostClick(ButtonPicture)); });
  Then([&] {
    description = DumpWindow(DescriptionWindow);
    EXPECT_TRUE(HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory));
  });
  Then([&] { history = DumpWindow(HistoryWindow, true); });
  RunSteps();
  HeadlessSetServeHook(nullptr);

  ASSERT_FALSE(mainWindow.empty()) << "the main window was never served";
  ExpectGolden("main_window.txt", mainWindow);
  ASSERT_FALSE(description.empty()) << "no description window";
  ExpectGolden("description_window.txt", description);
  ASSERT_FALSE(history.empty()) << "no history window";
  ExpectGolden("history_window.txt", WithoutBoardPort(history, Sim.Port()));
}

// A number the way C++ reads it back: the shortest form that gives the
// same double.
std::string Number(double value) {
  char text[40];
  for (int digits = 1; digits <= 17; digits++) {
    snprintf(text, sizeof text, "%.*g", digits, value);
    if (strtod(text, nullptr) == value) break;
  }
  return text;
}

template <typename T, typename F>
std::string Row(const char* name, const T* values, int first, int last,
                F form) {
  std::string line = std::string(name) + "[" + std::to_string(first) + ".." +
                     std::to_string(last) + "] =";
  for (int n = first; n <= last; n++)
    line += (n == first ? " " : ", ") + form(values[n]);
  return line + "\n";
}

std::string Texts(const char* name, const Text* values, int last) {
  return Row(name, values, 1, last, AsciiQuoted);
}
std::string Ints(const char* name, const int* values, int last) {
  return Row(name, values, 1, last, [](int v) { return std::to_string(v); });
}
std::string Doubles(const char* name, const double* values, int last) {
  return Row(name, values, 1, last, Number);
}

std::string Buffer(const char* name, const ReplyBuffer& b) {
  bool zero = b.Bytes != nullptr;
  for (int i = 0; zero && i < b.Size; i++) zero = b.Bytes[i] == 0;
  return std::string(name) + " = " + std::to_string(b.Size) + " bytes" +
         (b.Bytes ? (zero ? ", zero-filled" : ", NOT zero-filled")
                  : ", NOT taken") +
         "\n";
}

std::string Colour(uint32_t colour) {
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08X", (unsigned)colour);
  return hex;
}

// The state record as the defaults leave it, field by field, grouped as
// the record groups them; fields that stay zero are left out unless the
// program reads their zero as a setting.
std::string DefaultsText() {
  const AppStateRecord& s = AppState;
  auto yes = [](bool b) { return std::string(b ? "1" : "0"); };
  std::string out;
  out += "BoardAddress = " + AsciiQuoted(s.Settings.BoardAddress) +
         " (the build's setting)\n";
  out += "BoardPort = " + std::to_string(s.Settings.BoardPort) + "\n";
  out += "BoardConnection = " +
         std::string(s.Link.BoardConnection == NoSocket ? "none" : "SET") +
         "\n";
  out += "FirmwareText = " + AsciiQuoted(s.Readings.FirmwareText) + "\n";
  out += "BoardIpText = " + AsciiQuoted(s.Readings.BoardIpText) + "\n";
  out += "SubnetMaskText = " + AsciiQuoted(s.Readings.SubnetMaskText) + "\n";
  out += "GatewayText = " + AsciiQuoted(s.Readings.GatewayText) + "\n";
  out += "StatusReplyText = " + AsciiQuoted(s.Readings.StatusReplyText) + "\n";
  out += Texts("AdcReplyText", s.Readings.AdcReplyText, 4);
  out += "PingTime = " + std::to_string(s.Readings.PingTime) + "\n";
  out += Buffer("StatusBuffer", s.Settings.StatusBuffer);
  out += Buffer("AdcBuffer", s.Settings.AdcBuffer);
  out += Buffer("PortBuffer", s.Settings.PortBuffer);
  out += Buffer("PingBuffer", s.Settings.PingBuffer);
  out += Buffer("VersionBuffer", s.Settings.VersionBuffer);
  out += Buffer("IpBuffer", s.Settings.IpBuffer);
  out += Buffer("MaskBuffer", s.Settings.MaskBuffer);
  out += Buffer("GatewayBuffer", s.Settings.GatewayBuffer);
  out += Buffer("CommandBuffer", s.Settings.CommandBuffer);
  out += Buffer("LcdReplyBuffer", s.Settings.LcdReplyBuffer);
  out += "History = " + std::string(s.History.History ? "taken" : "NOT taken") +
         ", capacity " + std::to_string(HistoryCapacity) + ", " +
         std::to_string(s.History.HistoryCount) + " kept\n";
  out += Texts("OutputName", s.Settings.OutputName, 8);
  out += Texts("AnalogName", s.Settings.AnalogName, 4);
  out += Texts("AnalogUnit", s.Settings.AnalogUnit, 4);
  out += Texts("DigitalInputName", s.Settings.DigitalInputName, 4);
  // The board's states are values; the main window's view gives their
  // words and the analog texts.
  out +=
      "word of a closed contact = " + AsciiQuoted(ContactWord(ContactClosed)) +
      "\n";
  out += "word of an open contact = " + AsciiQuoted(ContactWord(ContactOpen)) +
         "\n";
  Text outputs[9], inputs[5], analog[5];
  for (int n = 1; n <= 8; n++)
    outputs[n] = ContactWord(s.Readings.OutputState[n]);
  for (int n = 1; n <= 4; n++)
    inputs[n] = ContactWord(s.Readings.InputState[n]);
  for (int n = 1; n <= 4; n++) analog[n] = AnalogValueText(n);
  out += Texts("OutputState, shown", outputs, 8);
  out += Texts("InputState, shown", inputs, 4);
  out += Texts("AnalogRead, shown", analog, 4);
  out += Doubles("AnalogScale", s.Settings.AnalogScale, 4);
  out += Ints("AnalogRoundFactor", s.Settings.AnalogRoundFactor, 4);
  out += Ints("AnalogTextWidth", s.Settings.AnalogTextWidth, 4);
  out += Doubles("AnalogVoltage", s.Readings.AnalogVoltage, 4);
  out += "LevelVoltage = " + Number(s.Readings.LevelVoltage) + "\n";
  out += Ints("DefaultSwitchDelay", s.Settings.DefaultSwitchDelay, 8);
  out += Ints("SwitchDelay", s.Switching.SwitchDelay, 8);
  out += Texts("SwitchDelayText", s.Settings.SwitchDelayText, 8);
  out += Ints("MinSwitchDelay", s.Settings.MinSwitchDelay, 8);
  out += Ints("MaxSwitchDelay", s.Settings.MaxSwitchDelay, 8);
  out +=
      "RefreshInterval = " + std::to_string(s.Refresh.RefreshInterval) + "\n";
  out += "InitialRefreshInterval = " +
         std::to_string(s.Settings.InitialRefreshInterval) + "\n";
  out +=
      "NextRefreshTime = " + std::to_string(s.Refresh.NextRefreshTime) + "\n";
  out += "CyclePeriod = " + std::to_string(s.Measurement.CyclePeriod) + "\n";
  out += "CycleCounter = " + std::to_string(s.Measurement.CycleCounter) + "\n";
  out += "SoundEnabled = " + yes(s.Settings.SoundEnabled) + "\n";
  out += "SoundLoaded = " + yes(s.Settings.SoundLoaded) + "\n";
  out += "LcdEnabled = " + yes(s.Settings.LcdEnabled) + "\n";
  out += "MeasurementEnabled = " + yes(s.Switching.MeasurementEnabled) + "\n";
  out += "MinimumEnabled = " + yes(s.Switching.MinimumEnabled) + "\n";
  out += "MaximumEnabled = " + yes(s.Switching.MaximumEnabled) + "\n";
  out += "ColourRed = " + Colour(s.Settings.ColourRed) + "\n";
  out += "ColourBlue = " + Colour(s.Settings.ColourBlue) + "\n";
  out += "LastEvent = " + std::to_string(s.Loop.LastEvent) + "\n";
  out += "ConsoleCommandText = " + AsciiQuoted(s.Console.ConsoleCommandText) +
         "\n";
  out += "ConsoleReplyText = " + AsciiQuoted(s.Console.ConsoleReplyText) + "\n";
  out += "LcdLine1Command = " + AsciiQuoted(s.Query.LcdLine1Command) + "\n";
  out += "LcdLine2Command = " + AsciiQuoted(s.Query.LcdLine2Command) + "\n";
  out += "AlarmDailyMinute = " + std::to_string(s.Settings.AlarmDailyMinute) +
         "\n";
  out += "LogFolder = " + AsciiQuoted(s.Settings.LogFolder) + "\n";
  out += "AlarmCommand = " + AsciiQuoted(s.Settings.AlarmCommand) + "\n";
  return out;
}

// The record after the defaults, before start-up goes on: the headless
// build settings give the address 127.0.0.1 and the port 50290.
TEST(GoldenDefaults, TheRecordAfterInitDefaults) {
  HeadlessReset();
  ZeroAppState();
  InitDefaults();
  ExpectGolden("defaults.txt", DefaultsText());
  PlatReleaseMemory();
}

using Bytes = std::vector<unsigned char>;

Bytes Asset(const char* name) {
  std::ifstream file(std::string(KVX_SOURCE_DIR) + "/assets/" + name,
                     std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

// Fields of a little-endian file header, read with bounds: a file too
// short for a field gives a line that says so.
class Fields {
 public:
  explicit Fields(const Bytes& b) : b_(b) {}
  void U16(const char* name, size_t at) { Add(name, at, 2); }
  void U32(const char* name, size_t at) { Add(name, at, 4); }
  void U8(const char* name, size_t at) { Add(name, at, 1); }
  void Tag(const char* name, size_t at, size_t n) {
    if (at + n > b_.size()) return Short(name);
    out_ += std::string("  ") + name + " = " +
            AsciiQuoted(std::string(b_.begin() + at, b_.begin() + at + n)) +
            "\n";
  }
  std::string Text() const { return out_; }

 private:
  void Add(const char* name, size_t at, size_t n) {
    if (at + n > b_.size()) return Short(name);
    uint32_t v = 0;
    for (size_t i = n; i-- > 0;) v = v << 8 | b_[at + i];
    out_ += std::string("  ") + name + " = " + std::to_string(v) + "\n";
  }
  void Short(const char* name) {
    out_ += std::string("  ") + name + " = (file too short)\n";
  }
  const Bytes& b_;
  std::string out_;
};

std::string PictureHeader() {
  const Bytes b = Asset("board.bmp");
  Fields f(b);
  f.Tag("type", 0, 2);
  f.U32("file size", 2);
  f.U32("reserved", 6);
  f.U32("pixel offset", 10);
  f.U32("info header size", 14);
  f.U32("width", 18);
  f.U32("height (positive: bottom-up rows)", 22);
  f.U16("planes", 26);
  f.U16("bits per pixel", 28);
  f.U32("compression", 30);
  f.U32("image size", 34);
  f.U32("x pixels per metre", 38);
  f.U32("y pixels per metre", 42);
  f.U32("colours used", 46);
  f.U32("colours important", 50);
  return "assets/board.bmp, " + std::to_string(b.size()) + " bytes\n" +
         f.Text();
}

std::string ClickHeader() {
  const Bytes b = Asset("click.wav");
  Fields f(b);
  f.Tag("riff", 0, 4);
  f.U32("riff size", 4);
  f.Tag("form", 8, 4);
  f.Tag("chunk", 12, 4);
  f.U32("format size", 16);
  f.U16("format (1: PCM)", 20);
  f.U16("channels", 22);
  f.U32("samples per second", 24);
  f.U32("bytes per second", 28);
  f.U16("block align", 32);
  f.U16("bits per sample", 34);
  f.Tag("data chunk", 36, 4);
  f.U32("data size", 40);
  return "assets/click.wav, " + std::to_string(b.size()) + " bytes\n" +
         f.Text();
}

std::string IconHeader() {
  const Bytes b = Asset("korvalinex.ico");
  Fields f(b);
  f.U16("reserved", 0);
  f.U16("type (1: icon)", 2);
  f.U16("images", 4);
  f.U8("width", 6);
  f.U8("height", 7);
  f.U8("colours (0: 256)", 8);
  f.U8("reserved", 9);
  f.U16("planes", 10);
  f.U16("bits per pixel", 12);
  f.U32("image size", 14);
  f.U32("image offset", 18);
  f.U32("info header size", 22);
  f.U32("width", 26);
  f.U32("height (colour and mask)", 30);
  f.U16("planes", 34);
  f.U16("bits per pixel", 36);
  f.U32("compression", 38);
  f.U32("image size", 42);
  f.U32("colours used", 54);
  return "assets/korvalinex.ico, " + std::to_string(b.size()) + " bytes\n" +
         f.Text();
}

// The headers of the picture, the click and the icon the program carries.
TEST(GoldenAssets, HeadersOfThePictureTheClickAndTheIcon) {
  ExpectGolden("assets.txt",
               PictureHeader() + "\n" + ClickHeader() + "\n" + IconHeader());
}

}  // namespace
