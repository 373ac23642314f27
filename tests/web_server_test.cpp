// The status page in the running program, on the driven clock, its
// clients played by the test: what it answers, its bounds, and that the
// guard queries and decides exactly as without it, whatever the clients
// do. Without /web no listening socket is ever opened.
#include "web/web_server.h"

#include <arpa/inet.h>

#include <functional>
#include <string>
#include <vector>

#include "base/state.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"
#include "ui/history_window.h"

namespace {

const char Get[] = "GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n";

uint32_t Ip(const char* dotted) { return inet_addr(dotted); }

// What the board received and when: the guard's whole conduct.
using Wire = std::vector<std::string>;

class StatusPage : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Sim.SetLevel(150);  // 0,73 V
  }

  // The program run for `seconds` of driven time with `arguments`,
  // `atWait` called at every event wait and `atServe` while it waits for
  // the board, `before` after the platform's reset and before the start;
  // then QUIT. The board starts with every output off.
  Wire Run(const std::string& arguments, int seconds,
           std::function<void()> atWait = {},
           std::function<void()> atServe = {},
           std::function<void()> before = {}) {
    ResetPlatform();
    HeadlessUseWebClients(true);
    if (before) before();
    for (int n = 1; n <= 8; n++) Sim.SetOutput(n, false);
    Sim.ClearLog();
    HeadlessSetCommandLine(("korvalinex.exe " + arguments).c_str());
    if (atServe) HeadlessSetServeHook(atServe);
    bool quit = false;
    int code = RunProgram(
        [&](int) {
          if (atWait) atWait();
          if (!quit && PlatTickCount() >= (uint32_t)seconds * 1000)
            quit = HeadlessPostClick(ButtonQuit);
        },
        1000000);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quit);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
    Wire wire;
    for (const kvxsim::CommandRecord& c : Sim.Commands())
      wire.push_back(std::to_string(c.time) + " " + c.text);
    return wire;
  }
};

// A client of the page that sends its request at once and reads
// whatever comes.
struct Phone {
  int Client;
  std::string Got;
};

int Connect(const std::string& request, int port = 8080) {
  int c = HeadlessClientConnect(Ip("127.0.0.1"), port);
  if (c >= 0 && !request.empty()) HeadlessClientSend(c, request);
  return c;
}

std::string StatusLineOf(const std::string& answer) {
  return answer.substr(0, answer.find("\r\n"));
}

}  // namespace

TEST_F(StatusPage, WithoutTheOptionNoSocketListens) {
  Wire without = Run("", 400);
  EXPECT_TRUE(HeadlessListens().empty());
  EXPECT_EQ(HeadlessListening(), 0);
  EXPECT_EQ(AppState.Web.StatusText, "");
  EXPECT_EQ(AppState.History.EvaluationCount, 3);
  // Real sockets or in-memory ones: none is ever asked for, and the
  // board sees the same either way.
  Wire again =
      Run("", 400, nullptr, nullptr, [] { HeadlessUseWebClients(false); });
  EXPECT_TRUE(HeadlessListens().empty());
  EXPECT_EQ(HeadlessListening(), 0);
  EXPECT_EQ(again, without);
}

TEST_F(StatusPage,
       ClientsThatHangSendSlowlyOrNeverReadChangeNothingOfTheGuard) {
  Wire without = Run("", 400);
  int evaluations = AppState.History.EvaluationCount;
  ASSERT_GE(evaluations, 3);

  std::vector<int> idle;
  int slow = -1, deaf = -1, huge = -1;
  uint32_t slowSince = 0, deafSince = 0, slowClosed = 0, deafClosed = 0;
  std::vector<std::pair<int, std::string>> wrong;  // client, status wanted
  std::vector<Phone> phones;
  uint32_t nextPhone = 0;
  uint32_t slowByte = 0;
  size_t slowSent = 0;
  int mostOpen = 0;
  bool started = false;
  const std::string slowRequest = Get;
  auto clients = [&] {
    uint32_t now = PlatTickCount();
    if (HeadlessListening() == 0) return;
    if (!started) {
      started = true;
      for (int i = 0; i < 100; i++) idle.push_back(Connect(""));
      slow = Connect("");
      slowSince = slowByte = now;
      deaf = Connect("");
      HeadlessClientWindow(deaf, 512);
      HeadlessClientSend(deaf, Get);
      deafSince = now;
      huge = Connect("GET / HTTP/1.1\r\nHost: b\r\nX-Fill: " +
                     std::string(1 << 20, 'a') + "\r\n\r\n");
      const std::vector<std::pair<std::string, std::string>> requests = {
          {"POST / HTTP/1.1\r\nHost: b\r\nContent-Length: 11\r\n\r\n"
           "setport 4.1",
           "405"},
          {"PUT /status.json HTTP/1.1\r\nHost: b\r\n\r\n", "405"},
          {"GET /setport?4.1 HTTP/1.1\r\nHost: b\r\n\r\n", "400"},
          {"GET /setport HTTP/1.1\r\nHost: b\r\n\r\n", "404"},
          {"GET /?cmd=setport%204.1 HTTP/1.1\r\nHost: b\r\n\r\n", "400"},
          {"GET /../korvalinex-2026-12.csv HTTP/1.1\r\nHost: b\r\n\r\n", "404"},
          {"GET / HTTP/1.1\r\nHost: b\r\nContent-Length: 11\r\n\r\n"
           "setport 5.1",
           "400"},
          {"GET / HTTP/3.0\r\n\r\n", "505"},
          {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", "400"},
      };
      for (const auto& r : requests)
        wrong.push_back({Connect(r.first), r.second});
    }
    // A byte a second, never a whole request in time.
    if (slowSent < slowRequest.size() && (int32_t)(now - slowByte) >= 1000) {
      HeadlessClientSend(slow, slowRequest.substr(slowSent++, 1));
      slowByte = now;
    }
    // The phone, every 5 s, the page and now and then its picture and JSON.
    if ((int32_t)(now - nextPhone) >= 0) {
      nextPhone = now + 5000;
      const char* path = phones.size() % 6 == 1   ? "/verlauf.svg"
                         : phones.size() % 6 == 2 ? "/status.json"
                                                  : "/";
      phones.push_back(Phone{
          Connect(std::string("GET ") + path + " HTTP/1.1\r\nHost: b\r\n\r\n"),
          ""});
    }
    for (Phone& p : phones) p.Got += HeadlessClientRead(p.Client);
    if (!slowClosed && HeadlessClientClosedByServer(slow)) slowClosed = now;
    if (!deafClosed && HeadlessClientClosedByServer(deaf)) deafClosed = now;
    if (WebClientsOpen() > mostOpen) mostOpen = WebClientsOpen();
  };
  Wire with = Run("/web 127.0.0.1:8080", 400, clients, clients);

  // The guard: every command, at the very same moment.
  EXPECT_EQ(with.size(), without.size());
  EXPECT_TRUE(with == without) << "the wire changed";
  EXPECT_EQ(AppState.History.EvaluationCount, evaluations);

  // The bounds held.
  EXPECT_LE(mostOpen, (int)WebClientsAtOnce);
  for (int c : idle) EXPECT_TRUE(HeadlessClientClosedByServer(c));
  EXPECT_TRUE(HeadlessClientClosedByServer(slow));
  EXPECT_EQ(HeadlessClientAllRead(slow), "");
  EXPECT_TRUE(HeadlessClientClosedByServer(deaf));
  EXPECT_EQ(HeadlessClientRead(deaf).size(), 512u);  // what fitted, no more
  // Each dropped after its bound, once it had a place (100 silent ones
  // before it, two or three seconds' worth).
  EXPECT_GE(slowClosed - slowSince, (uint32_t)WebRequestTime);
  EXPECT_LE(slowClosed - slowSince, (uint32_t)WebRequestTime + 5000);
  EXPECT_GE(deafClosed - deafSince, (uint32_t)WebAnswerTime);
  EXPECT_LE(deafClosed - deafSince, (uint32_t)WebAnswerTime + 5000);
  EXPECT_EQ(StatusLineOf(HeadlessClientRead(huge)),
            "HTTP/1.1 431 Request Header Fields Too Large");
  for (const auto& [client, status] : wrong)
    EXPECT_EQ(StatusLineOf(HeadlessClientRead(client)).substr(9, 3), status)
        << client;
  WebServerCounts counts = WebServerCounted();
  EXPECT_GE(counts.Dropped, 100);

  // The phone was answered every time.
  ASSERT_GE(phones.size(), 70u);
  for (const Phone& p : phones) {
    EXPECT_TRUE(HeadlessClientClosedByServer(p.Client));
    EXPECT_EQ(StatusLineOf(p.Got), "HTTP/1.1 200 OK") << p.Client;
  }
  // The stand as it is when the page is answered: 0,00 V while the sensor
  // is off between measurements, its reading while it is on.
  int off = 0, on = 0;
  for (const Phone& p : phones) {
    if (p.Got.find("id=\"stand\">0,00 V</span>") != std::string::npos) off++;
    if (p.Got.find("id=\"stand\">0,73 V</span>") != std::string::npos) on++;
  }
  EXPECT_GT(off, 0);
  EXPECT_GT(on, 0);
  EXPECT_NE(phones[1].Got.find("<svg"), std::string::npos);
  EXPECT_NE(phones[2].Got.find("\"wasserstand\": {\"text\": \"0,00\""),
            std::string::npos);
}

TEST_F(StatusPage, ShowsWhatTheMainWindowShowsAndHowOldItIs) {
  std::string page, json;
  int phone = -1;
  Text label62;
  Run("/web 127.0.0.1:8080", 400, [&] {
    if (HeadlessListening() == 0) return;
    // After the last evaluation, while the sensor is still powered: the
    // page is drawn from the same query as the label.
    if (phone < 0 && AppState.History.EvaluationCount == 2 &&
        PlatGetText(LabelAnalogValue1) != "0,00") {
      phone = Connect(Get);
      label62 = PlatGetText(LabelAnalogValue1);
    }
    if (phone >= 0) page += HeadlessClientRead(phone);
  });
  ASSERT_GE(phone, 0);
  EXPECT_EQ(label62, "0,73");
  EXPECT_NE(page.find("id=\"stand\">" + label62 + " V</span>"),
            std::string::npos);
  EXPECT_NE(page.find("Verbindung seit 06.12.2026 07:45:"), std::string::npos);
  EXPECT_NE(page.find("Messwerte sicher"), std::string::npos);
  EXPECT_NE(page.find("Letzte Auswertung: 06.12.2026 07:51:"),
            std::string::npos);
  EXPECT_EQ(page.find("ALT"), std::string::npos);
  EXPECT_NE(page.find("Trockenlaufschutz (Ausgang 4): heute 0-mal"),
            std::string::npos);
}

// The page's level is label 62's at every moment the page can be asked
// for, also in the middle of an evaluation, whose queries redraw the label
// and then wait for the board while outputs 5 and 4 are switched.
TEST_F(StatusPage, TheLevelIsLabel62sWheneverThePageIsServed) {
  int compared = 0, during = 0, serves = 0;
  std::string differs;
  Sim.SetReplyDelay(60);  // every exchange waits, serving the page
  Run("/web 127.0.0.1:8080", 400, {}, [&] {
    // A level that jumps between 0,48 and 0,63 V while the program
    // waits: the next query may read either.
    Sim.SetLevel(++serves % 2 ? 100 : 130);
    const WebSnapshot& s = AppState.Web.Snapshot;
    Text label = PlatGetText(LabelAnalogValue1);
    if (!s.Taken || label == "--.--") return;
    compared++;
    if (AppState.Measurement.CycleCounter >
        AppState.Measurement.CyclePeriod + 2)
      during++;
    if (s.LevelText != label && differs.empty())
      differs = "page " + s.LevelText + ", label 62 " + label + " at tick " +
                std::to_string(AppState.Measurement.CycleCounter);
  });
  EXPECT_EQ(differs, "");
  EXPECT_GT(compared, 100);
  EXPECT_GT(during, 0);  // served within the evaluations too
}

TEST_F(StatusPage, ARequestWithoutTheTokenIs401) {
  int without = -1, with = -1, wrong = -1;
  Run("/web 127.0.0.1:8080 /web-token Brunnen-7", 20, [&] {
    if (HeadlessListening() == 0 || without >= 0) return;
    without = Connect(Get);
    with = Connect("GET /?token=Brunnen-7 HTTP/1.1\r\nHost: b\r\n\r\n");
    wrong = Connect("GET /?token=Brunnen-8 HTTP/1.1\r\nHost: b\r\n\r\n");
  });
  EXPECT_EQ(StatusLineOf(HeadlessClientRead(without)),
            "HTTP/1.1 401 Unauthorized");
  std::string page = HeadlessClientRead(with);
  EXPECT_EQ(StatusLineOf(page), "HTTP/1.1 200 OK");
  EXPECT_NE(page.find("url=/?token=Brunnen-7"), std::string::npos);
  EXPECT_EQ(StatusLineOf(HeadlessClientRead(wrong)),
            "HTTP/1.1 401 Unauthorized");
}

TEST_F(StatusPage, ListensOnlyOnTheAddressGiven) {
  Run("/web 0.0.0.0:8081", 5);
  ASSERT_EQ(HeadlessListens().size(), 1u);
  EXPECT_EQ(HeadlessListens()[0].Address, 0u);
  EXPECT_EQ(HeadlessListens()[0].Port, 8081);
  EXPECT_NE(AppState.Web.StatusText.find("auf allen Adressen"), Text::npos);

  int client = -1;
  std::string answer;
  Run(
      "/web 192.168.1.20:8080", 5,
      [&] {
        if (client < 0) {
          // Nothing listens on loopback: only the address given.
          EXPECT_EQ(HeadlessClientConnect(Ip("127.0.0.1"), 8080), -1);
          client = HeadlessClientConnect(Ip("192.168.1.20"), 8080);
          HeadlessClientSend(client, Get);
        }
        answer += HeadlessClientRead(client);
      },
      nullptr, [] { HeadlessAddOwnAddress(Ip("192.168.1.20")); });
  ASSERT_EQ(HeadlessListens().size(), 1u);
  EXPECT_EQ(HeadlessListens()[0].Address, Ip("192.168.1.20"));
  EXPECT_EQ(StatusLineOf(answer), "HTTP/1.1 200 OK");
}

TEST_F(StatusPage, AnAddressNotOfThisPcOrAPortInUseIsShownAndTheGuardGoesOn) {
  Wire without = Run("", 60);
  int phone = -1;
  std::string answer;
  Text atFirst, lastShown;
  Wire with = Run(
      "/web 127.0.0.1:8080", 60,
      [&] {
        if (PlatTickCount() > 5000 && !PlatWindowIsOpen(HistoryWindow))
          HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory);
        if (PlatTickCount() > 10000 && atFirst.empty()) {
          atFirst = PlatGetText(LabelHistoryLog);
          HeadlessHoldPort(8080, false);  // the other program ended
        }
        if (HeadlessListening() > 0 && phone < 0) phone = Connect(Get);
        if (phone >= 0) answer += HeadlessClientRead(phone);
        lastShown = PlatGetText(LabelHistoryLog);
      },
      nullptr, [] { HeadlessHoldPort(8080, true); });
  EXPECT_EQ(atFirst,
            "Statusseite: Port 8080 auf 127.0.0.1 ist belegt. Neuer Versuch "
            "alle 30 s.");
  // Tried again 30 s after the start, and then listening.
  ASSERT_EQ(HeadlessListens().size(), 2u);
  EXPECT_EQ(HeadlessListens()[0].Result, ListenInUse);
  EXPECT_EQ(HeadlessListens()[1].Result, ListenDone);
  EXPECT_EQ(AppState.Web.StatusText,
            "Statusseite (nur Anzeige): http://127.0.0.1:8080/.");
  EXPECT_EQ(lastShown, AppState.Web.StatusText);
  EXPECT_EQ(StatusLineOf(answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(with, without);

  Run("/web 10.9.8.7:8080", 5);
  EXPECT_EQ(AppState.Web.StatusText,
            "Statusseite: 10.9.8.7 ist keine Adresse dieses PCs. Neuer "
            "Versuch alle 30 s.");
}

TEST_F(StatusPage, IsAnsweredWhileTheProgramWaitsForASlowBoard) {
  Sim.SetReplyDelay(400);  // a query of 14 replies takes over 5 s
  int phone = -1;
  std::string answer;
  bool duringWait = false;
  Run("/web 127.0.0.1:8080", 60, {}, [&] {
    // Only while a reply is waited for.
    if (HeadlessListening() == 0) return;
    if (phone < 0 && PlatTickCount() > 20000) phone = Connect(Get);
    if (phone < 0) return;
    answer += HeadlessClientRead(phone);
    if (!duringWait && answer.find("</html>") != std::string::npos)
      duringWait = true;
  });
  EXPECT_TRUE(duringWait);
  EXPECT_EQ(StatusLineOf(answer), "HTTP/1.1 200 OK");
}

// Between measurements the sensor is off and label 62 reads 0,00 V, while
// the main window's level bar stands at the last evaluated level: the
// page's bar and the figures' volts are the bar's.
TEST_F(StatusPage, BetweenMeasurementsTheLevelIsTheBarsNotTheSensorsZero) {
  int phone = -1, json = -1;
  std::string page, figures;
  Run("/web 127.0.0.1:8080", 400, [&] {
    if (HeadlessListening() == 0) return;
    if (phone < 0 && AppState.History.EvaluationCount == 3 &&
        PlatGetText(LabelAnalogValue1) == "0,00") {
      phone = Connect(Get);
      json = Connect("GET /status.json HTTP/1.1\r\nHost: b\r\n\r\n");
    }
    if (phone < 0) return;
    page += HeadlessClientRead(phone);
    figures += HeadlessClientRead(json);
  });
  ASSERT_GE(phone, 0);
  EXPECT_NE(page.find("id=\"stand\">0,00 V</span>"), std::string::npos);
  EXPECT_NE(page.find("class=\"fuell\" style=\"width:52.3%\""),
            std::string::npos);
  EXPECT_NE(figures.find("\"text\": \"0,00\", \"volt\": 0.732,"),
            std::string::npos);
}

// At a 10-s query interval the age of the last query is counted from the
// board's answer, whatever snapshots came since.
TEST_F(StatusPage, TheQuerysAgeIsCountedFromTheBoardsAnswer) {
  std::vector<std::pair<uint32_t, int>> phones;  // truth in ms, client
  uint32_t nextPhone = 15000;
  bool moved = false;
  Run("/web 127.0.0.1:8080", 60, [&] {
    uint32_t now = PlatTickCount();
    if (!moved) moved = (HeadlessMoveTrackbar(TrackbarRefresh, 10), true);
    if (HeadlessListening() == 0 || now < nextPhone) return;
    nextPhone = now + 3100;
    uint32_t answered = 0;
    for (const kvxsim::CommandRecord& c : Sim.Commands())
      if (c.keyword == "GETSTATUS") answered = c.time;
    phones.push_back({now - answered,
                      Connect("GET /status.json HTTP/1.1\r\nHost: b\r\n\r\n")});
  });
  ASSERT_GE(phones.size(), 10u);
  int older = 0;
  for (const auto& [truth, client] : phones) {
    std::string figures = HeadlessClientRead(client);
    size_t at = figures.find("\"letzte_abfrage\"");
    ASSERT_NE(at, std::string::npos);
    at = figures.find("\"alter_s\": ", at);
    int shown = atoi(figures.c_str() + at + 11);
    EXPECT_NEAR(shown, (int)truth / 1000, 1) << truth << " " << figures;
    if (truth >= 5000) older++;
  }
  EXPECT_GT(older, 2);
}
