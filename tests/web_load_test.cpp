// The status page under load: the work it puts on the program's one
// thread with a full day kept, the truth of what it answers, and its
// places on real loopback sockets: every answer its own request's, and
// the phone answered however many clients hold on.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/state.h"
#include "control/alarms.h"
#include "control/history.h"
#include "control/web_snapshot.h"
#include "platform/headless/headless.h"
#include "web/web_page.h"
#include "web/web_request.h"
#include "web/web_server.h"

namespace {

uint32_t Ip(const char* dotted) { return inet_addr(dotted); }

// The page's server alone on a real loopback listener, the snapshot of a
// connected well.
class PageServer : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessReset();
    ZeroAppState();
    HeadlessUseWebClients(false);
    PlatSocketsStart();
    AppState.Web.Settings = WebSettings{"127.0.0.1", Ip("127.0.0.1"), 0, ""};
    WebSnapshot& s = AppState.Web.Snapshot;
    s.Taken = s.Connected = s.Queried = true;
    s.RefreshInterval = 1000;
    s.LevelText = "0,73";
    StartWebServer();
    Port = WebListeningPort();
    ASSERT_GT(Port, 0);
  }
  void TearDown() override {
    StopWebServer();
    for (int fd : Opened) close(fd);
    HeadlessReset();
    ZeroAppState();
  }

  // A client from `from` (any 127.x.y.z), connected and not waiting.
  int Connect(const char* from = "127.0.0.1") {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = Ip(from);
    EXPECT_EQ(bind(fd, (const sockaddr*)&own, sizeof own), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = Ip("127.0.0.1");
    to.sin_port = htons((uint16_t)Port);
    EXPECT_EQ(connect(fd, (const sockaddr*)&to, sizeof to), 0);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    Opened.push_back(fd);
    return fd;
  }
  static void Send(int fd, const std::string& bytes) {
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              (ssize_t)bytes.size());
  }
  // What has come, and whether the server closed the connection.
  static bool Read(int fd, std::string* got) {
    char bytes[65536];
    for (;;) {
      ssize_t n = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
      if (n > 0) {
        got->append(bytes, (size_t)n);
        continue;
      }
      return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
  }
  // Servings 20 ms apart on the driven clock until `fd` is answered and
  // closed, at most `servings`: its answer, empty when it was not.
  std::string Answered(int fd, int servings) {
    std::string got;
    for (int i = 0; i < servings; i++) {
      ServeWebClients();
      if (Read(fd, &got)) return got;
      HeadlessAdvanceClock(20);
    }
    return "";
  }

  int Port = 0;
  std::vector<int> Opened;
};

std::string StatusLineOf(const std::string& answer) {
  return answer.substr(0, answer.find("\r\n"));
}

}  // namespace

// A client that has sent part of a request holds its place only until a
// newcomer needs it, and no one address holds more than a few.
TEST_F(PageServer, ThePhoneGetsAPlaceHoweverManyClientsHoldOn) {
  const std::string get = "GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n";
  // Eight clients of eight addresses, each one byte and then nothing.
  for (int i = 0; i < (int)WebClientsAtOnce; i++) {
    std::string from = "127.0.1." + std::to_string(i + 1);
    Send(Connect(from.c_str()), "G");
    ServeWebClients();
  }
  ASSERT_EQ(WebClientsOpen(), (int)WebClientsAtOnce);
  int phone = Connect();
  Send(phone, get);
  EXPECT_EQ(StatusLineOf(Answered(phone, 5)), "HTTP/1.1 200 OK");

  // Thirty from one address, a byte each: they take a few places, not all.
  for (int i = 0; i < 30; i++) {
    Send(Connect("127.0.2.1"), "GE");
    ServeWebClients();
  }
  EXPECT_LE(WebClientsOpen(), (int)WebClientsAtOnce);
  phone = Connect("127.0.0.1");
  Send(phone, get);
  EXPECT_EQ(StatusLineOf(Answered(phone, 5)), "HTTP/1.1 200 OK");
}

// Clients whose bytes come in turns, one at a time, more clients than
// places: each answer is its own request's.
TEST_F(PageServer, EveryAnswerIsItsOwnRequests) {
  struct Asked {
    std::string Request, Status;
    bool Body;
  };
  const std::vector<Asked> asked = {
      {"GET / HTTP/1.1\r\nHost: b\r\n\r\n", "200", true},
      {"HEAD / HTTP/1.1\r\nHost: b\r\n\r\n", "200", false},
      {"GET /status.json HTTP/1.0\r\n\r\n", "200", true},
      {"GET /nirgends HTTP/1.1\r\nHost: b\r\n\r\n", "404", true},
      {"HEAD /nirgends HTTP/1.1\r\nHost: b\r\n\r\n", "404", false},
      {"PUT / HTTP/1.1\r\nHost: b\r\n\r\n", "405", true},
      {"GET / HTTP/2.0\r\n\r\n", "505", true},
      {"GET /verlauf.svg HTTP/1.1\r\nHost: b\r\n\r\n", "200", true},
      {"HEAD /status.json HTTP/1.1\r\nHost: b\r\n\r\n", "200", false},
      {"GET /?x=1 HTTP/1.1\r\nHost: b\r\n\r\n", "400", true},
  };
  std::vector<int> fds;
  for (size_t i = 0; i < asked.size(); i++) {
    std::string from = "127.0.3." + std::to_string(i + 1);
    fds.push_back(Connect(from.c_str()));
  }
  std::vector<size_t> sent(asked.size(), 0);
  std::vector<std::string> got(asked.size());
  std::vector<bool> closed(asked.size(), false);
  for (bool more = true; more;) {
    more = false;
    for (size_t i = 0; i < asked.size(); i++) {
      // An error may be answered before the request is whole.
      if (!closed[i]) closed[i] = PageServer::Read(fds[i], &got[i]);
      if (sent[i] < asked[i].Request.size() && !closed[i]) {
        send(fds[i], asked[i].Request.data() + sent[i]++, 1, MSG_NOSIGNAL);
        more = true;
      }
      ServeWebClients();
      HeadlessAdvanceClock(1);
    }
  }
  for (int i = 0; i < 20; i++) {
    ServeWebClients();
    HeadlessAdvanceClock(10);
  }
  // Ten clients for eight places: a client that had not sent its whole
  // request when two newcomers came gave its place and got nothing;
  // every other got its own request's answer.
  int answered = 0;
  for (size_t i = 0; i < asked.size(); i++) {
    EXPECT_TRUE(closed[i] || PageServer::Read(fds[i], &got[i]))
        << asked[i].Request;
    if (got[i].empty()) continue;
    answered++;
    EXPECT_EQ(StatusLineOf(got[i]).substr(0, 12), "HTTP/1.1 " + asked[i].Status)
        << asked[i].Request;
    size_t end = got[i].find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos) << asked[i].Request;
    EXPECT_EQ(got[i].size() > end + 4, asked[i].Body) << asked[i].Request;
  }
  EXPECT_GE(answered, (int)WebClientsAtOnce);
}

// An answer to HEAD is its header lines alone, an error's too.
TEST(StatusPageAnswers, HeadNeverCarriesABody) {
  WebSnapshot s{};
  for (const char* request :
       {"HEAD /nirgends HTTP/1.1\r\nHost: b\r\n\r\n",
        "HEAD / HTTP/1.1\r\nHost: b\r\n\r\n", "HEAD /?x HTTP/1.1\r\n\r\n"}) {
    std::string r = request;
    for (const Text& token : {Text(""), Text("Brunnen-7")}) {
      Text answer =
          WebAnswer(ReadWebRequest(r.data(), r.size(), token), s, token);
      EXPECT_EQ(answer.find("\r\n\r\n") + 4, answer.size()) << r << token;
    }
  }
}

// Before the board's first reply the page and its figures say they wait
// for it, and show no date of 1970.
TEST(StatusPageAnswers, BeforeTheFirstReplyThePageWaitsForTheBoard) {
  WebSnapshot s{};
  WebClock now{20793 * 86400LL, 20793 * 86400LL - 3600, 5000};
  Text page = WebPageHtml(s, now, "");
  Text json = WebFiguresJson(s, now);
  EXPECT_EQ(page.find("1970"), Text::npos);
  EXPECT_EQ(json.find("1970"), Text::npos);
  EXPECT_NE(page.find("Warte auf die erste Antwort des Boards"), Text::npos);
  EXPECT_NE(json.find("Warte auf die erste Antwort des Boards"), Text::npos);
}

// A 0-s cycle's full day kept (25,000 evaluations, one every 3.5 s), the
// clock put a day forward: a snapshot is quick, and the day's picture is
// drawn at the width it is shown, not one point an evaluation.
TEST(StatusPageWork, AFullDayAndAClockPutForwardCostLittle) {
  HeadlessReset();
  ZeroAppState();
  InitDefaults();
  AppState.Web.Settings = WebSettings{"127.0.0.1", Ip("127.0.0.1"), 8080, ""};
  HeadlessSetLocalTime(5, 12, 2026, 7, 45);
  for (int i = 0; i < HistoryCapacity; i++) {
    RecordEvaluation(0.2 + (i % 500) * 0.002, i % 700 == 0 ? 1 : CommandNotSent,
                     0.2, i % 300 == 0 ? 1 : (i % 300 == 40 ? 0 : -1), false);
    HeadlessAdvanceClock(3456);
  }
  TakeWebSnapshot();
  Text picture = WebPictureSvg(AppState.Web.Snapshot);
  EXPECT_LT(picture.size(), 60000u);
  EXPECT_NE(picture.find("<path d=\"M"), Text::npos);

  // Half a day on, no evaluation since: half of it ages out at once.
  HeadlessAdvanceClock(43200 * 1000);
  // (Its time is measured by the benchmarks: a snapshot of this day, the
  // clock put forward, takes under 1 ms in a release build.)
  TakeWebSnapshot();
  EXPECT_LT(AppState.Web.Snapshot.Day.Columns.size(), 400u);
  HeadlessAdvanceClock(43200 * 1000);
  RecordEvaluation(0.5, CommandNotSent, 0.5, CommandNotSent, false);
  TakeWebSnapshot();
  picture = WebPictureSvg(AppState.Web.Snapshot);
  EXPECT_NE(picture.find("<circle"), Text::npos);  // the one evaluation left
  EXPECT_LT(picture.size(), 10000u);
  ZeroAppState();
  HeadlessReset();
}

// The PC's clock put back an hour after three hours of evaluations: the
// history is named anew by the clock as it is now, and the page's day with
// it, as a page that read the history afresh draws it.
TEST(StatusPageWork, AClockPutBackRedrawsTheDayFromTheHistory) {
  HeadlessReset();
  ZeroAppState();
  InitDefaults();
  AppState.Web.Settings = WebSettings{"127.0.0.1", Ip("127.0.0.1"), 8080, ""};
  HeadlessSetLocalTime(5, 12, 2026, 7, 45);
  WatchClock();
  for (int i = 0; i < 180; i++) {
    RecordEvaluation(0.2 + (i % 50) * 0.02, i % 30 == 0 ? 1 : CommandNotSent,
                     0.2, i % 60 == 0 ? 1 : (i % 60 == 20 ? 0 : -1), false);
    HeadlessAdvanceClock(60000);
  }
  TakeWebSnapshot();
  HeadlessSetLocalTime(5, 12, 2026, 9, 45);  // 10:45 put back an hour
  WatchClock();
  RecordEvaluation(0.5, CommandNotSent, 0.5, CommandNotSent, false);
  TakeWebSnapshot();
  Text after = WebPictureSvg(AppState.Web.Snapshot);
  AppState.Web.Snapshot.Evaluated = false;
  TakeWebSnapshot();
  EXPECT_EQ(after, WebPictureSvg(AppState.Web.Snapshot));
  ZeroAppState();
  HeadlessReset();
}
