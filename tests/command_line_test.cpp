// The board's address and port on the command line: how a command line is
// split, which arguments are taken, and what the program does with them.
#include "app/command_line.h"

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "app/startup.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

using Parts = std::vector<Text>;

TEST(CommandLineSplit, BlanksAndTabsSeparateOutsideQuotes) {
  EXPECT_EQ(SplitCommandLine("korvalinex.exe"), Parts{"korvalinex.exe"});
  EXPECT_EQ(SplitCommandLine("korvalinex.exe   "), Parts{"korvalinex.exe"});
  EXPECT_EQ(SplitCommandLine("korvalinex.exe \t 10.0.0.7\t\t 80  "),
            (Parts{"korvalinex.exe", "10.0.0.7", "80"}));
  EXPECT_EQ(SplitCommandLine("k.exe a b c"), (Parts{"k.exe", "a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine(""), Parts{""});
}

TEST(CommandLineSplit, QuotesGroupAndVanish) {
  EXPECT_EQ(
      SplitCommandLine(
          "\"C:\\Program Files\\KORVALINEX\\korvalinex.exe\" \"10.0.0.7\" "
          "\"80\""),
      (Parts{"C:\\Program Files\\KORVALINEX\\korvalinex.exe", "10.0.0.7",
             "80"}));
  EXPECT_EQ(SplitCommandLine("k.exe 10.0.\"0.7\" 8\"0\""),
            (Parts{"k.exe", "10.0.0.7", "80"}));
  EXPECT_EQ(SplitCommandLine("k.exe \"\" 80"), (Parts{"k.exe", "", "80"}));
  EXPECT_EQ(SplitCommandLine("k.exe \" 80\""), (Parts{"k.exe", " 80"}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(SplitCommandLine("k.exe \"brunnen nord 80"),
            (Parts{"k.exe", "brunnen nord 80"}));
  // The program name has no backslash rule.
  EXPECT_EQ(SplitCommandLine("\"C:\\dir\\\"x.exe a"),
            (Parts{"C:\\dir\\x.exe", "a"}));
}

// The examples of the Windows rules for backslashes and double quotes.
TEST(CommandLineSplit, BackslashesBeforeQuotes) {
  EXPECT_EQ(SplitCommandLine("p \"a b c\" d e"),
            (Parts{"p", "a b c", "d", "e"}));
  EXPECT_EQ(SplitCommandLine("p \"ab\\\"c\" \"\\\\\" d"),
            (Parts{"p", "ab\"c", "\\", "d"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\b d\"e f\"g h"),
            (Parts{"p", "a\\\\\\b", "de fg", "h"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\"b c d"),
            (Parts{"p", "a\\\"b", "c", "d"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\\\"b c\" d e"),
            (Parts{"p", "a\\\\b c", "d", "e"}));
  EXPECT_EQ(SplitCommandLine("p a\"b\"\" c d"), (Parts{"p", "ab\" c d"}));
  EXPECT_EQ(SplitCommandLine("p a\\"), (Parts{"p", "a\\"}));
}

// Reads the arguments over a build setting of "build-host" and 50290.
struct Read {
  bool Good;
  Text Address;
  int Port;
  Text Problem;
};
static Read ReadArgs(const Parts& arguments) {
  Read r{false, "build-host", 50290, ""};
  r.Good = ReadBoardArguments(arguments, &r.Address, &r.Port, &r.Problem);
  return r;
}

// What a restart is given: the arguments untouched, the name ended as the
// split ends it (a quoted stretch with a blank in it, quotes within it).
TEST(CommandLineSplit, ArgumentsAsGivenFollowTheProgramName) {
  EXPECT_EQ(ArgumentsAsGiven("korvalinex.exe"), "");
  EXPECT_EQ(ArgumentsAsGiven("korvalinex.exe \t "), "");
  EXPECT_EQ(ArgumentsAsGiven(""), "");
  EXPECT_EQ(ArgumentsAsGiven("k.exe\t/log  \"D:\\a b\" 10.0.0.7 80 "),
            "/log  \"D:\\a b\" 10.0.0.7 80 ");
  EXPECT_EQ(ArgumentsAsGiven("\"C:\\Pro gramme\\k\"x.exe /web 1:2"),
            "/web 1:2");
  EXPECT_EQ(ArgumentsAsGiven("C:\\a\"b c\"\\k.exe 80"), "80");
}

TEST(CommandLineArguments, GivenOnesReplaceTheBuildSettings) {
  Read none = ReadArgs({});
  EXPECT_TRUE(none.Good);
  EXPECT_EQ(none.Address, "build-host");
  EXPECT_EQ(none.Port, 50290);

  Read one = ReadArgs({"brunnen-nord"});
  EXPECT_TRUE(one.Good);
  EXPECT_EQ(one.Address, "brunnen-nord");
  EXPECT_EQ(one.Port, 50290);

  Read two = ReadArgs({"10.1.2.3", "8080"});
  EXPECT_TRUE(two.Good);
  EXPECT_EQ(two.Address, "10.1.2.3");
  EXPECT_EQ(two.Port, 8080);
  EXPECT_TRUE(two.Problem.empty());
}

TEST(CommandLineArguments, PortsAtTheEdgesOfTheirRange) {
  for (auto [text, port] : std::vector<std::pair<Text, int>>{
           {"1", 1}, {"65535", 65535}, {"50290", 50290}, {"080", 80}}) {
    Read r = ReadArgs({"10.1.2.3", text});
    EXPECT_TRUE(r.Good) << text;
    EXPECT_EQ(r.Port, port) << text;
  }
  for (Text bad : {"0", "65536", "50290x", "-1", "+80", " 80", "80 ", "",
                   "99999999999999999999", "0x50", "8.0"}) {
    Read r = ReadArgs({"10.1.2.3", bad});
    EXPECT_FALSE(r.Good) << bad;
    // Nothing is taken when anything is wrong.
    EXPECT_EQ(r.Address, "build-host") << bad;
    EXPECT_EQ(r.Port, 50290) << bad;
    EXPECT_NE(r.Problem.find("Port (zweite Angabe) \"" + bad + "\""),
              Text::npos)
        << r.Problem;
    EXPECT_NE(r.Problem.find("1 bis 65535"), Text::npos);
  }
}

TEST(CommandLineArguments, WrongOnesAreNamedWithTheRightForm) {
  const Text form = "Richtig: korvalinex.exe [ADRESSE [PORT]]";

  Read three = ReadArgs({"10.1.2.3", "80", "extra"});
  EXPECT_FALSE(three.Good);
  EXPECT_NE(three.Problem.find("Zu viele Angaben: \"extra\""), Text::npos);
  EXPECT_NE(three.Problem.find(form), Text::npos);

  Read empty = ReadArgs({""});
  EXPECT_FALSE(empty.Good);
  EXPECT_NE(empty.Problem.find("Adresse (erste Angabe) ist leer"), Text::npos);
  EXPECT_NE(empty.Problem.find(form), Text::npos);

  Read longest = ReadArgs({Text(LongestBoardAddress, 'a')});
  EXPECT_TRUE(longest.Good);
  EXPECT_EQ(longest.Address.size(), 253u);

  Read tooLong = ReadArgs({Text(300, 'a'), "80"});
  EXPECT_FALSE(tooLong.Good);
  EXPECT_EQ(tooLong.Address, "build-host");
  EXPECT_NE(tooLong.Problem.find("zu lang: 300 Zeichen, höchstens 253"),
            Text::npos);
  // The box shows the beginning of the address, not all of it.
  EXPECT_NE(tooLong.Problem.find("\"" + Text(40, 'a') + "...\""), Text::npos);
  EXPECT_LT(tooLong.Problem.size(), 300u);
  EXPECT_NE(tooLong.Problem.find(form), Text::npos);
}

// ---------------------------------------------------------------------------
// The program with a command line
// ---------------------------------------------------------------------------

using CommandLine = BoardTest;

static std::string Line(const std::string& arguments) {
  return "\"C:\\Program Files\\KORVALINEX\\korvalinex.exe\" " + arguments;
}

static void Quit(int) { HeadlessPostClick(ButtonQuit); }

TEST_F(CommandLine, AddressAndPortTakeThePlaceOfTheBuildSettings) {
  // The build settings point where no board is.
  HeadlessSetBoardAddress("no-such-board");
  HeadlessSetBoardPort(UnusedPort());
  const std::string port = std::to_string(Sim.Port());
  HeadlessSetCommandLine(Line("127.0.0.1 " + port).c_str());
  EXPECT_EQ(RunProgram(Quit), 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  ASSERT_NE(HeadlessFindWindow(MainWindow), nullptr);
  EXPECT_EQ(HeadlessFindWindow(MainWindow)->OpenCount, 2);  // notice, main
  EXPECT_EQ(AppState.Settings.BoardAddress, "127.0.0.1");
  EXPECT_EQ(AppState.Settings.BoardPort, Sim.Port());
  EXPECT_EQ(ConnectionNoticeText(),
            "Verbindungsaufbau zum KORVALINEX-Board...\r\rIP/DNS: "
            "127.0.0.1\r\rPort: " +
                port);
}

TEST_F(CommandLine, QuotedHostNameAloneKeepsTheBuildPort) {
  HeadlessSetBoardAddress("no-such-board");
  HeadlessAddHost("brunnen-sued", htonl(0x7F000001));
  HeadlessSetCommandLine(Line("\"brunnen-sued\"").c_str());
  EXPECT_EQ(RunProgram(Quit), 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  EXPECT_EQ(AppState.Settings.BoardAddress, "brunnen-sued");
  EXPECT_EQ(AppState.Settings.BoardPort, Sim.Port());
}

TEST_F(CommandLine, WithoutArgumentsTheBuildSettingsHold) {
  HeadlessSetCommandLine("korvalinex.exe");
  EXPECT_EQ(RunProgram(Quit), 0);
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  EXPECT_EQ(AppState.Settings.BoardAddress, "127.0.0.1");
  EXPECT_EQ(AppState.Settings.BoardPort, Sim.Port());
}

// A port at either edge is taken as it is: an address that resolves to
// nothing keeps the program off the network, and the notice shows the port.
TEST_F(CommandLine, EdgePortsAreTakenAsTheyAre) {
  for (const char* port : {"1", "65535"}) {
    ResetPlatform();
    HeadlessSetCommandLine(Line(std::string("no-such-board ") + port).c_str());
    EXPECT_EQ(ProgramMain(), 0);
    ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].Body, BoardNotFoundText);
    EXPECT_EQ(AppState.Settings.BoardPort, atoi(port));
    EXPECT_EQ(ConnectionNoticeText().substr(ConnectionNoticeText().rfind(' ')),
              std::string(" ") + port);
  }
  EXPECT_EQ(Sim.ConnectionCount(), 0u);
}

// Wrong arguments: the box, then the end with exit code 0; no window was
// ever opened and nothing went to the network.
TEST_F(CommandLine, WrongArgumentsEndBeforeAnyWindowOrTraffic) {
  const std::string port = std::to_string(Sim.Port());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"127.0.0.1 " + port + " extra", "\"extra\""},
      {"\"\" " + port, "ist leer"},
      {"\"\"", "ist leer"},
      {std::string(300, 'b') + " " + port, "zu lang: 300 Zeichen"},
      {"127.0.0.1 0", "\"0\""},
      {"127.0.0.1 65536", "\"65536\""},
      {"127.0.0.1 50290x", "\"50290x\""},
      {"127.0.0.1 -1", "\"-1\""},
      {"127.0.0.1 +80", "\"+80\""},
      {"127.0.0.1 \" 80\"", "\" 80\""},
  };
  for (const auto& [arguments, named] : cases) {
    ResetPlatform();  // a board is there to be reached
    HeadlessSetCommandLine(Line(arguments).c_str());
    EXPECT_EQ(ProgramMain(), 0) << arguments;
    ASSERT_EQ(HeadlessMessageBoxes().size(), 1u) << arguments;
    const HeadlessMessageBox& box = HeadlessMessageBoxes()[0];
    EXPECT_EQ(box.Title, "KORVALINEX: Problem");
    EXPECT_NE(box.Body.find(named), std::string::npos) << box.Body;
    EXPECT_NE(box.Body.find("korvalinex.exe [ADRESSE [PORT]]"),
              std::string::npos);
    EXPECT_TRUE(box.OpenWindows.empty()) << arguments;
    EXPECT_EQ(HeadlessFindWindow(MainWindow), nullptr) << arguments;
    EXPECT_EQ(HeadlessSendCount(), 0) << arguments;
    EXPECT_EQ(HeadlessLiveMemoryBlocks(), 0) << arguments;
    EXPECT_EQ(AppState.Settings.BoardPort, Sim.Port()) << arguments;
  }
  EXPECT_EQ(Sim.ConnectionCount(), 0u);
  EXPECT_EQ(Sim.CommandCount(), 0u);
}

// ---------------------------------------------------------------------------
// Options before the address
// ---------------------------------------------------------------------------

struct Options {
  bool Good;
  Text LogFolder;
  Parts Rest;
  Text Problem;
  Text AlarmCommand;
};

static Options ReadOpts(const Parts& arguments) {
  Options o{false, "unchanged", {}, "", "unchanged"};
  ProgramOptions options;
  options.LogFolder = options.AlarmCommand = "unchanged";
  o.Good = ReadOptions(arguments, &options, &o.Rest, &o.Problem);
  o.LogFolder = options.LogFolder;
  o.AlarmCommand = options.AlarmCommand;
  return o;
}

TEST(CommandLineOptions, LogTakesTheNextArgumentAsItsFolder) {
  Options o = ReadOpts({"/log", "C:\\Brunnen Nord", "10.1.2.3", "80"});
  EXPECT_TRUE(o.Good);
  EXPECT_EQ(o.LogFolder, "C:\\Brunnen Nord");
  EXPECT_EQ(o.Rest, (Parts{"10.1.2.3", "80"}));
  // In any case; the address may be left out.
  EXPECT_EQ(ReadOpts({"/LoG", "D:\\"}).LogFolder, "D:\\");
  EXPECT_TRUE(ReadOpts({"/LoG", "D:\\"}).Rest.empty());
  // Without it nothing is set; what looks like another option is the
  // address.
  Options none = ReadOpts({"/logs", "80"});
  EXPECT_TRUE(none.Good);
  EXPECT_EQ(none.LogFolder, "");
  EXPECT_EQ(none.Rest, (Parts{"/logs", "80"}));
}

TEST(CommandLineOptions, AWrongLogOptionIsNamedWithTheFormThatHasIt) {
  const Text form =
      "Richtig: korvalinex.exe [/log ORDNER] [/alarm BEFEHL] "
      "[/alarm-taeglich HH:MM] [/web IP:PORT [/web-token SCHLÜSSEL]] "
      "[/sensor schutz|halten [/sensor-bereich V:V] [/sensor-werte WERTE]] "
      "[/mqtt IP:PORT [/mqtt-name NAME] [/mqtt-login DATEI]] "
      "[ADRESSE [PORT]]";
  const std::vector<std::pair<Parts, Text>> cases = {
      {{"/log"}, "Nach /log fehlt der Ordner."},
      {{"/log", ""}, "Der Ordner nach /log ist leer."},
      {{"/log", "a", "/LOG", "b"}, "/log ist zweimal angegeben."},
      {{"/log", Text(201, 'x')}, "zu lang: 201 Zeichen, höchstens 200"},
      {{"10.1.2.3", "/log", "C:\\x"}, "/log steht hinter der Adresse"},
  };
  for (const auto& [arguments, named] : cases) {
    Options o = ReadOpts(arguments);
    EXPECT_FALSE(o.Good) << named;
    EXPECT_EQ(o.LogFolder, "unchanged") << named;
    EXPECT_NE(o.Problem.find(named), Text::npos) << o.Problem;
    EXPECT_NE(o.Problem.find(form), Text::npos) << o.Problem;
    EXPECT_NE(o.Problem.find("ORDNER: "), Text::npos) << o.Problem;
  }
  EXPECT_TRUE(ReadOpts({"/log", Text(200, 'x')}).Good);
}

TEST(CommandLineOptions, TheAlarmCommandTakesItsPathInEitherOrder) {
  Options both = ReadOpts({"/alarm", "C:\\Brunnen\\alarm beispiel.cmd", "/LOG",
                           "D:\\Log", "10.1.2.3", "80"});
  EXPECT_TRUE(both.Good) << both.Problem;
  EXPECT_EQ(both.AlarmCommand, "C:\\Brunnen\\alarm beispiel.cmd");
  EXPECT_EQ(both.LogFolder, "D:\\Log");
  EXPECT_EQ(both.Rest, (Parts{"10.1.2.3", "80"}));
  // Without it no command is set.
  EXPECT_EQ(ReadOpts({"/log", "D:\\"}).AlarmCommand, "");

  const std::vector<std::pair<Parts, Text>> wrong = {
      {{"/alarm"}, "Nach /alarm fehlt der Befehl."},
      {{"/alarm", "a", "/Alarm", "b"}, "/alarm ist zweimal angegeben."},
      {{"/alarm", Text(260, 'x')}, "zu lang: 260 Zeichen, höchstens 259"},
      {{"host", "/alarm", "a.cmd"}, "/alarm steht hinter der Adresse"},
  };
  for (const auto& [arguments, named] : wrong) {
    Options o = ReadOpts(arguments);
    EXPECT_FALSE(o.Good) << named;
    EXPECT_EQ(o.AlarmCommand, "unchanged") << named;
    EXPECT_NE(o.Problem.find(named), Text::npos) << o.Problem;
    EXPECT_NE(o.Problem.find("BEFEHL: "), Text::npos) << o.Problem;
  }
}

// cmd.exe would take a script path with % or " apart: such a path is
// refused at once, saying why, rather than failing at every event.
TEST(CommandLineOptions, AScriptPathCmdWouldTakeApartIsRefusedWithTheReason) {
  for (const Text& path :
       {Text("C:\\100%\\alarm.cmd"), Text("C:\\a\"b\\alarm.BAT")}) {
    Options o = ReadOpts({"/alarm", path});
    EXPECT_FALSE(o.Good) << path;
    EXPECT_EQ(o.AlarmCommand, "unchanged");
    EXPECT_NE(o.Problem.find("% oder \""), Text::npos) << o.Problem;
    EXPECT_NE(o.Problem.find("BEFEHL: "), Text::npos) << o.Problem;
  }
  // A program (not a script) is started without cmd.exe: % is no harm.
  EXPECT_TRUE(ReadOpts({"/alarm", "C:\\100%\\alarm.exe"}).Good);
}

TEST(CommandLineOptions, TheDailySignTakesATimeOfDayAndNeedsTheAlarm) {
  auto minute = [](const Text& time) {
    ProgramOptions options;
    Parts rest;
    Text problem;
    bool good = ReadOptions({"/alarm", "a.cmd", "/ALARM-taeglich", time},
                            &options, &rest, &problem);
    return good ? options.DailyMinute : -2;
  };
  EXPECT_EQ(minute("07:00"), 420);
  EXPECT_EQ(minute("7:05"), 425);
  EXPECT_EQ(minute("00:00"), 0);
  EXPECT_EQ(minute("23:59"), 23 * 60 + 59);
  for (const char* wrong : {"24:00", "12:60", "7.00", "0700", "7:0", ":00",
                            "123:00", "-1:00", "7:0a"})
    EXPECT_EQ(minute(wrong), -2) << wrong;
  EXPECT_EQ(ReadOpts({"/alarm", "a.cmd"}).Good, true);

  const std::vector<std::pair<Parts, Text>> wrong = {
      {{"/alarm-taeglich", "07:00"}, "/alarm-taeglich gilt nur mit /alarm"},
      {{"/alarm", "a.cmd", "/alarm-taeglich", "7 Uhr"},
       "Der Zeitpunkt nach /alarm-taeglich \"7 Uhr\" ist keine Uhrzeit HH:MM"},
      {{"/alarm", "a.cmd", "/alarm-taeglich"},
       "Nach /alarm-taeglich fehlt der Zeitpunkt."},
  };
  for (const auto& [arguments, named] : wrong) {
    Options o = ReadOpts(arguments);
    EXPECT_FALSE(o.Good) << named;
    EXPECT_EQ(o.AlarmCommand, "unchanged") << named;
    EXPECT_NE(o.Problem.find(named), Text::npos) << o.Problem;
    EXPECT_NE(o.Problem.find("HH:MM: "), Text::npos) << o.Problem;
  }
}

TEST(CommandLineOptions, TheStatusPageTakesAnAddressWithItsPortAndAToken) {
  ProgramOptions o;
  std::vector<Text> rest;
  Text problem;
  ASSERT_TRUE(ReadOptions(
      {"/WEB", "192.168.1.20:8080", "/web-token", "Brunnen-7", "10.0.0.5"}, &o,
      &rest, &problem))
      << problem;
  EXPECT_EQ(o.WebEndpoint, "192.168.1.20:8080");
  EXPECT_EQ(o.WebPort, 8080);
  const unsigned char* b = (const unsigned char*)&o.WebBind;
  EXPECT_EQ(std::vector<int>({b[0], b[1], b[2], b[3]}),
            std::vector<int>({192, 168, 1, 20}));
  EXPECT_EQ(o.WebToken, "Brunnen-7");
  EXPECT_EQ(rest, (Parts{"10.0.0.5"}));
  ASSERT_TRUE(ReadOptions({"/web", "0.0.0.0:1"}, &o, &rest, &problem));
  EXPECT_EQ(o.WebBind, 0u);
  EXPECT_EQ(o.WebPort, 1);

  const std::vector<std::pair<Parts, Text>> wrong = {
      {{"/web"}, "Nach /web fehlt der Endpunkt."},
      {{"/web", "192.168.1.20"}, "keine IPv4-Adresse mit Port"},
      {{"/web", "192.168.1.20:0"}, "keine IPv4-Adresse mit Port"},
      {{"/web", "192.168.1.20:65536"}, "keine IPv4-Adresse mit Port"},
      {{"/web", "192.168.1.256:80"}, "keine IPv4-Adresse mit Port"},
      {{"/web", "192.168.1:80"}, "keine IPv4-Adresse mit Port"},
      {{"/web", "brunnen-pc:80"}, "keine IPv4-Adresse mit Port"},
      {{"/web", ":8080"}, "keine IPv4-Adresse mit Port"},
      {{"/web", "1.2.3.4: 80"}, "keine IPv4-Adresse mit Port"},
      {{"/web", "1.2.3.4:80", "/web", "1.2.3.4:81"}, "/web ist zweimal"},
      {{"/web", "255.255.255.255:655350"}, "zu lang"},
      {{"/web-token", "x"}, "/web-token gilt nur mit /web"},
      {{"/web", "1.2.3.4:80", "/web-token", "a b"}, "erlaubt sind A-Z"},
      {{"/web", "1.2.3.4:80", "/web-token", "a&b"}, "erlaubt sind A-Z"},
      {{"/web", "1.2.3.4:80", "/web-token", Text(65, 'a')}, "zu lang"},
      {{"1.2.3.4", "/web", "1.2.3.4:80"}, "/web steht hinter der Adresse"},
  };
  for (const auto& [arguments, named] : wrong) {
    ProgramOptions untouched;
    untouched.WebEndpoint = "unchanged";
    EXPECT_FALSE(ReadOptions(arguments, &untouched, &rest, &problem)) << named;
    EXPECT_EQ(untouched.WebEndpoint, "unchanged");
    EXPECT_NE(problem.find(named), Text::npos) << problem;
    EXPECT_NE(problem.find("IP:PORT: Adresse dieses PCs"), Text::npos);
  }
}

TEST_F(CommandLine, TheLogFolderComesBeforeAddressAndPort) {
  HeadlessSetBoardAddress("no-such-board");
  HeadlessSetCommandLine(
      Line("/log \"C:\\Brunnen Nord\" 127.0.0.1 " + std::to_string(Sim.Port()))
          .c_str());
  EXPECT_EQ(RunProgram(Quit), 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(Sim.ConnectionCount(), 1u);
  EXPECT_EQ(AppState.Settings.LogFolder, "C:\\Brunnen Nord");
  EXPECT_EQ(AppState.Settings.BoardAddress, "127.0.0.1");
}

TEST_F(CommandLine, TheSensorsSettingsReachTheStateRecordAtStart) {
  HeadlessSetCommandLine(Line("/sensor halten /sensor-werte ausfall=3 "
                              "127.0.0.1 " +
                              std::to_string(Sim.Port()))
                             .c_str());
  EXPECT_EQ(RunProgram(Quit), 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_TRUE(AppState.Sensor.Settings.On);
  EXPECT_EQ(AppState.Sensor.Settings.Action, SensorHold);
  EXPECT_EQ(AppState.Sensor.Settings.Figures.FailSafeCycles, 3);
  EXPECT_EQ(AppState.Sensor.Settings.Figures.GoodCycles, 2);
}

TEST_F(CommandLine, TheAlarmCommandIsTakenAndAQuietRunStartsItForTheStart) {
  HeadlessSetCommandLine(Line("/alarm \"C:\\Brunnen Nord\\alarm.cmd\" "
                              "127.0.0.1 " +
                              std::to_string(Sim.Port()))
                             .c_str());
  EXPECT_EQ(RunProgram(Quit), 0);
  EXPECT_TRUE(HeadlessMessageBoxes().empty());
  EXPECT_EQ(AppState.Settings.AlarmCommand, "C:\\Brunnen Nord\\alarm.cmd");
  // No event came but the start: one run, nothing written.
  ASSERT_EQ(HeadlessProgramStarts().size(), 1u);
  EXPECT_EQ(HeadlessProgramStarts()[0].Arguments[0], "programm-start");
  EXPECT_TRUE(HeadlessFileWrites().empty());
}

TEST_F(CommandLine, ALogWithoutItsFolderEndsBeforeAnyWindowOrTraffic) {
  HeadlessSetCommandLine(Line("/log").c_str());
  EXPECT_EQ(ProgramMain(), 0);
  ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
  EXPECT_NE(HeadlessMessageBoxes()[0].Body.find("Nach /log fehlt der Ordner"),
            std::string::npos);
  EXPECT_TRUE(HeadlessMessageBoxes()[0].OpenWindows.empty());
  EXPECT_EQ(HeadlessSendCount(), 0);
  EXPECT_TRUE(HeadlessFileWrites().empty());
  EXPECT_EQ(Sim.ConnectionCount(), 0u);
}

TEST(CommandLineOptions, SensorTurnsTheCheckOnWithItsActionSpanAndFigures) {
  ProgramOptions o;
  Parts rest;
  Text problem;
  ASSERT_TRUE(
      ReadOptions({"/sensor", "HALTEN", "/sensor-bereich", "0,88:4.4",
                   "/sensor-werte", "oben=4,8; sprung=0.3;gut=3", "10.1.2.3"},
                  &o, &rest, &problem))
      << problem;
  EXPECT_EQ(rest, (Parts{"10.1.2.3"}));
  const SensorSettings& s = o.Sensor;
  EXPECT_TRUE(s.On);
  EXPECT_EQ(s.Action, SensorHold);
  EXPECT_TRUE(s.SpanGiven);
  EXPECT_DOUBLE_EQ(s.LiveZeroVolts, 0.88);
  EXPECT_DOUBLE_EQ(s.SpanTopVolts, 4.4);
  EXPECT_DOUBLE_EQ(s.Figures.TopVolts, 4.8);
  EXPECT_DOUBLE_EQ(s.Figures.JumpVolts, 0.3);
  EXPECT_EQ(s.Figures.GoodCycles, 3);
  // The others keep their defaults.
  SensorFigures d = DefaultSensorFigures();
  EXPECT_EQ(s.Figures.SpreadVolts, d.SpreadVolts);
  EXPECT_EQ(s.Figures.FailSafeCycles, d.FailSafeCycles);
  EXPECT_EQ(s.Figures.FlatHours, 24);

  ProgramOptions plain;
  ASSERT_TRUE(ReadOptions({"/sensor", "schutz"}, &plain, &rest, &problem));
  EXPECT_EQ(plain.Sensor.Action, SensorProtect);
  EXPECT_FALSE(plain.Sensor.SpanGiven);
  ProgramOptions none;
  ASSERT_TRUE(ReadOptions({"10.1.2.3"}, &none, &rest, &problem));
  EXPECT_FALSE(none.Sensor.On);
}

TEST(CommandLineOptions, WrongSensorOptionsAreNamed) {
  const std::vector<std::pair<Parts, Text>> wrong = {
      {{"/sensor", "an"}, "weder schutz"},
      {{"/sensor"}, "Nach /sensor fehlt"},
      {{"/sensor-bereich", "0,88:4,40"},
       "/sensor-bereich gilt nur mit /sensor"},
      {{"/sensor-werte", "oben=4"}, "/sensor-werte gilt nur mit /sensor"},
      {{"/sensor", "schutz", "/sensor-bereich", "4,40:0,88"}, "NULLPUNKT"},
      {{"/sensor", "schutz", "/sensor-bereich", "0:4,40"}, "NULLPUNKT"},
      {{"/sensor", "schutz", "/sensor-bereich", "0,88:5,01"}, "NULLPUNKT"},
      {{"/sensor", "schutz", "/sensor-bereich", "0,88-4,40"}, "NULLPUNKT"},
      {{"/sensor", "schutz", "/sensor-bereich", "-1:4"}, "NULLPUNKT"},
      {{"/sensor", "schutz", "/sensor-werte", "hoch=4"}, "kein bekannter Wert"},
      {{"/sensor", "schutz", "/sensor-werte", "oben=4;oben=4,5"}, "zweimal"},
      {{"/sensor", "schutz", "/sensor-werte", "oben=6"}, "Volt von 1,00"},
      {{"/sensor", "schutz", "/sensor-werte", "oben"}, "Volt von 1,00"},
      {{"/sensor", "schutz", "/sensor-werte", "gut=0"}, "Zyklen von 1"},
      {{"/sensor", "schutz", "/sensor-werte", "gut=1,5"}, "Zyklen von 1"},
      {{"/sensor", "schutz", "/sensor-werte", "rand=51"}, "Prozent"},
      {{"/sensor", "schutz", "/sensor-werte", ";"}, "kein Wert"},
  };
  for (const auto& [arguments, named] : wrong) {
    ProgramOptions untouched;
    untouched.LogFolder = "unchanged";
    Parts rest;
    Text problem;
    EXPECT_FALSE(ReadOptions(arguments, &untouched, &rest, &problem)) << named;
    EXPECT_EQ(untouched.LogFolder, "unchanged");
    EXPECT_FALSE(untouched.Sensor.On);
    EXPECT_NE(problem.find(named), Text::npos) << problem;
  }
}
