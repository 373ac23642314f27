// The status page's documents and its reading of requests, as pure
// functions: the page, the JSON and the picture of a known state, and
// every request form answered with its status.
#include "web/web_page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/clock_text.h"
#include "base/state.h"
#include "base/utf8_text.h"
#include "control/web_snapshot.h"
#include "web/web_request.h"
#include "web/web_server.h"

namespace {

// 06.12.2026 07:45:00 local time, one hour ahead of universal time.
const int64_t Local = 20793 * 86400LL + 7 * 3600 + 45 * 60;
const int64_t Universal = Local - 3600;

WebRequest Read(const std::string& bytes, const Text& token = "") {
  return ReadWebRequest(bytes.data(), bytes.size(), token);
}

int StatusOf(const std::string& bytes, const Text& token = "") {
  return Read(bytes, token).Status;
}

LevelRecord Evaluation(int64_t secondsBefore, double level, int out4,
                       int out5) {
  LevelRecord r{};
  r.Time = Local - secondsBefore;
  r.Universal = Universal - secondsBefore;
  r.Level5 = r.Level4 = level;
  r.Output4 = (int8_t)out4;
  r.Output5 = (int8_t)out5;
  return r;
}

// A well in order: connected since 07:40:00, queried 2 s ago, the level
// 0,73 V, output 4 open, output 5 closed, the Minimum function locked.
WebSnapshot KnownState() {
  WebSnapshot s{};
  s.Taken = true;
  s.RefreshInterval = 1000;
  s.Connected = true;
  s.ConnectionSince = Local - 300;
  s.Queried = true;
  s.QueryTime = Local - 2;
  s.QueryTick = 100000;
  s.LevelText = "0,73";
  s.LevelRead = true;
  s.LevelVolts = 0.732;
  const char* names[9] = {"",         "Device 1", "Device 2",
                          "Messung ", "Minimum ", "Maximum ",
                          "Device 6", "Device 7", "Device <8>"};
  for (int n = 1; n <= 8; n++) {
    s.Output[n] = ContactOpen;
    s.OutputName[n] = names[n];
  }
  s.Output[3] = ContactClosed;
  s.Output[5] = ContactClosed;
  for (int n = 1; n <= 4; n++) {
    s.Input[n] = n == 2 ? ContactClosed : ContactOpen;
    s.InputName[n] = "Digital " + std::to_string(n);
    s.AnalogName[n] = "Analog " + std::to_string(n);
    s.AnalogUnit[n] = "Volt";
    s.AnalogText[n] = n == 1 ? "0,73" : "--.--";
  }
  s.MeasurementEnabled = true;
  s.MinimumEnabled = false;
  s.MaximumEnabled = true;
  s.CycleSecondsLeft = 123;
  s.Evaluated = true;
  s.LastEvaluation = Evaluation(200, 0.732, 0, 1);
  s.Events = {"06.12.2026 07:41:40  Ausgang 5 (Maximum) eingeschaltet",
              "06.12.2026 07:42:00  Test & \"Probe\""};
  s.DryRunText =
      "Trockenlaufschutz (Ausgang 4): heute 1-mal, 6 min ein; letzte 7 Tage "
      "2-mal, 12 min ein.";
  for (const LevelRecord& r :
       {Evaluation(7200, 0.15, 1, 0), Evaluation(6840, 0.19, 1, 0),
        Evaluation(3600, 0.5, 0, 0), Evaluation(1800, NAN, -1, -1),
        Evaluation(200, 1.25, 0, 1)})
    AddToWebDay(&s.Day, r);
  s.DayEndLocal = Local;
  s.DayEndUniversal = Universal;
  return s;
}

WebClock At(int ageOfQueryMs) {
  return WebClock{Local, Universal, (TickCount)(100000 + ageOfQueryMs)};
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every byte sequence is well-formed UTF-8.
bool ValidUtf8(const std::string& t) {
  for (size_t i = 0; i < t.size();) {
    unsigned char c = (unsigned char)t[i];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 0;
    if (n == 0 || i + n > t.size()) return false;
    for (size_t k = 1; k < n; k++)
      if (((unsigned char)t[i + k] >> 6) != 2) return false;
    i += n;
  }
  return true;
}

}  // namespace

TEST(WebRequest, TakesGetAndHeadOfTheFixedPathsOnly) {
  const std::string host = " HTTP/1.1\r\nHost: brunnen\r\n\r\n";
  WebRequest page = Read("GET /" + host);
  EXPECT_EQ(page.Status, 200);
  EXPECT_EQ(page.Resource, WebPage);
  EXPECT_FALSE(page.Head);
  EXPECT_EQ(Read("GET /status.json" + host).Resource, WebFigures);
  EXPECT_EQ(Read("GET /verlauf.svg" + host).Resource, WebPicture);
  WebRequest head = Read("HEAD /verlauf.svg" + host);
  EXPECT_EQ(head.Status, 200);
  EXPECT_TRUE(head.Head);
  // HTTP/1.0 needs no Host; header lines of any case, blanks around values.
  EXPECT_EQ(StatusOf("GET / HTTP/1.0\r\n\r\n"), 200);
  EXPECT_EQ(StatusOf("GET / HTTP/1.1\r\nhOsT:x\r\nAccept:  */* \r\n"
                     "Content-Length: 0\r\n\r\n"),
            200);
}

TEST(WebRequest, EveryOtherFormIsAnsweredWithItsError) {
  const std::string host = " HTTP/1.1\r\nHost: b\r\n\r\n";
  const std::vector<std::pair<std::string, int>> cases = {
      {"POST /" + host, 405},
      {"PUT /status.json" + host, 405},
      {"DELETE /" + host, 405},
      {"OPTIONS /" + host, 405},
      {"CONNECT /" + host, 405},
      {"GET /index.html" + host, 404},
      {"GET /status.json/" + host, 404},
      {"GET /../etc/passwd" + host, 404},
      {"GET //" + host, 404},
      {"GET /%73tatus.json" + host, 404},
      {"GET /?setport=4.1" + host, 400},
      {"GET /?token=" + host, 200},  // no token asked for: an empty one
      {"GET /?x" + host, 400},
      {"GET http://b/" + host, 400},
      {"GET *" + host, 400},
      {"GET / HTTP/2.0\r\nHost: b\r\n\r\n", 505},
      {"GET / HTTP/0.9\r\n\r\n", 505},
      {"GET / HTTPS/1.1\r\nHost: b\r\n\r\n", 400},
      {"GET /\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n\r\n", 400},  // no Host
      {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
      {"get /" + host, 400},
      {"GET  /" + host, 400},
      {"GET / HTTP/1.1\nHost: b\n\n", 400},
      {"GET / HTTP/1.1\r\nHost: b\r\n folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost b\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: b\r\nContent-Length: 4\r\n\r\nabcd", 400},
      {"GET / HTTP/1.1\r\nHost: b\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: b\rX\r\n\r\n", 400},
      {std::string("GET /\0 HTTP/1.1\r\nHost: b\r\n\r\n", 29), 400},
      {"GET /\x7f HTTP/1.1\r\nHost: b\r\n\r\n", 400},
      {"\r\nGET /" + host, 400},
      {"GET", 0},
      {"GET / HTTP/1.1\r\nHost: b\r\n", 0},
      {"G3T", 400},
      {"ABCDEFGHIJKLMNOPQ", 400},
  };
  for (const auto& [request, status] : cases)
    EXPECT_EQ(StatusOf(request), status) << request;
}

TEST(WebRequest, AHeaderPastTheLimitIs431WhateverFollows) {
  std::string line = "GET / HTTP/1.1\r\nHost: b\r\nX-Fill: ";
  std::string big = line + std::string(WebRequestLimit, 'a');
  EXPECT_EQ(StatusOf(big), 431);
  EXPECT_EQ(StatusOf(std::string(1 << 20, 'G')), 400);
  EXPECT_EQ(StatusOf("GET /" + std::string(1 << 20, 'a')), 431);
  // Just within the limit, it is whole.
  std::string fits =
      line + std::string(WebRequestLimit - line.size() - 4, 'a') + "\r\n\r\n";
  ASSERT_EQ(fits.size(), (size_t)WebRequestLimit);
  EXPECT_EQ(StatusOf(fits), 200);
  std::vector<std::string> many = {"GET / HTTP/1.1\r\nHost: b\r\n"};
  for (int i = 0; i < 51; i++) many[0] += "A: b\r\n";
  EXPECT_EQ(StatusOf(many[0] + "\r\n"), 431);
}

TEST(WebRequest, WithATokenOnlyRequestsThatCarryItAreAnswered) {
  const Text token = "Brunnen-7.x_~";
  const std::string host = " HTTP/1.1\r\nHost: b\r\n\r\n";
  EXPECT_EQ(StatusOf("GET /" + host, token), 401);
  EXPECT_EQ(StatusOf("GET /?token=Brunnen-7.x_~" + host, token), 200);
  EXPECT_EQ(StatusOf("GET /verlauf.svg?token=Brunnen-7.x_~" + host, token),
            200);
  EXPECT_EQ(StatusOf("GET /?token=Brunnen-7.x_" + host, token), 401);
  EXPECT_EQ(StatusOf("GET /?token=Brunnen-7.x_~~" + host, token), 401);
  EXPECT_EQ(StatusOf("GET /?token=brunnen-7.x_~" + host, token), 401);
  EXPECT_EQ(StatusOf("GET /?token=" + host, token), 401);
  EXPECT_EQ(StatusOf("GET /status.json HTTP/1.1\r\nHost: b\r\n"
                     "Authorization: Bearer Brunnen-7.x_~\r\n\r\n",
                     token),
            200);
  EXPECT_EQ(StatusOf("GET / HTTP/1.1\r\nHost: b\r\n"
                     "Authorization: Basic Brunnen-7.x_~\r\n\r\n",
                     token),
            401);
  // A stranger learns nothing of the paths.
  EXPECT_EQ(StatusOf("GET /geheim" + host, token), 401);
  EXPECT_EQ(StatusOf("GET /geheim?token=Brunnen-7.x_~" + host, token), 404);
  EXPECT_TRUE(WebTokenForm(token));
  EXPECT_TRUE(WebTokenForm(Text(LongestWebToken, 'a')));
  for (const Text& bad :
       {Text(""), Text(LongestWebToken + 1, 'a'), Text("a b"), Text("a&b"),
        Text("a%20"), Text("ä"), Text("a#b"), Text("a\"b")})
    EXPECT_FALSE(WebTokenForm(bad)) << bad;
}

TEST(WebPage, ShowsTheKnownStateInGermanForAPhone) {
  WebSnapshot s = KnownState();
  std::string page = WebPageHtml(s, At(2000), "");
  EXPECT_TRUE(ValidUtf8(page));
  EXPECT_TRUE(
      Has(page, "<meta name=\"viewport\" content=\"width=device-width"));
  EXPECT_TRUE(Has(page, "<meta http-equiv=\"refresh\" content=\"5;url=/\">"));
  EXPECT_FALSE(Has(page, "<script"));
  EXPECT_TRUE(Has(page, "<span class=\"stand\" id=\"stand\">0,73 V</span>"));
  EXPECT_TRUE(Has(page, "width:52.3%"));  // 0,732 of the bar's 1,4 V
  EXPECT_TRUE(Has(page, "Minimum 0,21 V"));
  EXPECT_TRUE(Has(page, "Maximum 1,18 V"));
  EXPECT_TRUE(Has(page, "Verbindung seit 06.12.2026 07:40:00"));
  EXPECT_TRUE(Has(page, "Messwerte sicher"));
  EXPECT_TRUE(Has(page, "Letzte Abfrage: 06.12.2026 07:44:58 (vor 2 s)"));
  EXPECT_TRUE(
      Has(page, "Letzte Auswertung: 06.12.2026 07:41:40 (vor 3 min 20 s)"));
  EXPECT_FALSE(Has(page, "ALT"));
  // Outputs 3 to 5 with their functions, red for closed and released.
  EXPECT_TRUE(Has(page,
                  "<tr><td>Ausgang 4 Minimum </td><td><span class=\"aus\">OFFEN"
                  "</span></td><td><span class=\"aus\">gesperrt</span>"));
  EXPECT_TRUE(
      Has(page,
          "<tr><td>Ausgang 5 Maximum </td><td><span class=\"ein\">"
          "GESCHLOSSEN</span></td><td><span class=\"ein\">freigegeben"));
  EXPECT_TRUE(Has(page, "Messung in 123 s"));
  // Past the cycle's end the main window counts below zero; the page says
  // the measurement is under way.
  for (int left : {0, -2}) {
    WebSnapshot measuring = KnownState();
    measuring.CycleSecondsLeft = left;
    std::string p = WebPageHtml(measuring, At(2000), "");
    EXPECT_TRUE(Has(p, "Messung l\xC3\xA4uft")) << left;
    EXPECT_FALSE(Has(p, "Messung in")) << left;
  }
  EXPECT_TRUE(Has(page, "Ausgang 8 Device &lt;8&gt;"));
  EXPECT_TRUE(
      Has(page, "<td>Digital 2</td><td><span class=\"ein\">GESCHLOSSEN"));
  EXPECT_TRUE(Has(page, "<td>Analog 3</td><td><span class=\"aus\">--.-- Volt"));
  EXPECT_TRUE(Has(page, "Weitere Ausg\xC3\xA4nge"));  // UTF-8
  EXPECT_TRUE(Has(page, "heute 1-mal, 6 min ein"));
  EXPECT_TRUE(
      Has(page, "<li>06.12.2026 07:42:00  Test &amp; &quot;Probe&quot;</li>"));
  EXPECT_TRUE(Has(page, "<img src=\"/verlauf.svg\""));
  EXPECT_TRUE(Has(page, "kann nichts schalten"));
}

TEST(WebPage, MarksAReadingOlderThanTwoRefreshIntervalsAsOld) {
  WebSnapshot s = KnownState();
  // A 1-s query: the page's 5 s count, so old after 10 s.
  EXPECT_EQ(WebOldAfterMs(s), 10000);
  EXPECT_FALSE(Has(WebPageHtml(s, At(10000), ""), "ALT"));
  EXPECT_TRUE(Has(WebPageHtml(s, At(10001), ""), "<span class=\"alt\">ALT"));
  s.RefreshInterval = 8000;
  EXPECT_EQ(WebOldAfterMs(s), 16000);
  EXPECT_FALSE(Has(WebPageHtml(s, At(16000), ""), "ALT"));
  EXPECT_TRUE(Has(WebFiguresJson(s, At(16001)), "\"alt\": true"));
  // The tick count's wrap changes nothing.
  s.QueryTick = 0xFFFFF000u;
  EXPECT_FALSE(
      Has(WebPageHtml(s, WebClock{Local, Universal, 0x1000}, ""), "ALT"));
  // No query yet: old, and said so.
  s.Queried = false;
  std::string page = WebPageHtml(s, At(0), "");
  EXPECT_TRUE(Has(page, "Letzte Abfrage: keine <span class=\"alt\">ALT"));
}

TEST(WebPage, SaysWhenTheConnectionIsGoneOrTheReadingsInDoubt) {
  WebSnapshot s = KnownState();
  s.Connected = false;
  s.ConnectionSince = Local - 65;
  s.LevelText = "--.--";
  s.LevelRead = false;
  std::string page = WebPageHtml(s, At(65000), "");
  EXPECT_TRUE(Has(page, "Keine Verbindung seit 06.12.2026 07:43:55"));
  EXPECT_TRUE(Has(page, "--.-- V"));
  EXPECT_TRUE(Has(page, "width:0%"));
  EXPECT_TRUE(Has(page, "ALT"));
  s = KnownState();
  s.DoubtedEvaluations = 2;
  EXPECT_TRUE(
      Has(WebPageHtml(s, At(0), ""), "Messwert unsicher: nichts geschaltet"));
  s.DoubtedLastSwitched5 = true;
  EXPECT_TRUE(Has(WebFiguresJson(s, At(0)),
                  "\"messwerte_sicher\": false, \"messwerte_text\": "
                  "\"Messwert unsicher: Ausgang 4 nicht geschaltet\""));
  s.GuardBlind = true;
  EXPECT_TRUE(Has(WebPageHtml(s, At(0), ""),
                  "W\xC3\xA4"
                  "chter blind"));
  // A failed level sensor, until sensor-ok: the readings are not trusted.
  s = KnownState();
  s.SensorFailureOpen = true;
  EXPECT_TRUE(Has(WebFiguresJson(s, At(0)),
                  "\"messwerte_sicher\": false, \"messwerte_text\": "
                  "\"Sensorfehler: kein Schalten auf den Messwert des "
                  "Sensors\""));
}

TEST(WebPage, CarriesTheTokenInItsOwnLinks) {
  std::string page = WebPageHtml(KnownState(), At(0), "ab-9");
  EXPECT_TRUE(Has(page, "content=\"5;url=/?token=ab-9\""));
  EXPECT_TRUE(Has(page, "<img src=\"/verlauf.svg?token=ab-9\""));
  EXPECT_TRUE(Has(page, "href=\"/status.json?token=ab-9\""));
}

TEST(WebFigures, TheSameFiguresAsJson) {
  std::string json = WebFiguresJson(KnownState(), At(2000));
  EXPECT_TRUE(ValidUtf8(json));
  EXPECT_TRUE(Has(json,
                  "\"verbindung\": {\"steht\": true, \"seit\": "
                  "\"06.12.2026 07:40:00\""));
  EXPECT_TRUE(Has(json,
                  "\"wasserstand\": {\"text\": \"0,73\", \"volt\": "
                  "0.732, \"minimum_volt\": 0.21, \"maximum_volt\": 1.18}"));
  EXPECT_TRUE(Has(json,
                  "\"letzte_abfrage\": {\"zeit\": \"06.12.2026 "
                  "07:44:58\", \"alter_s\": 2, \"alt\": false}"));
  EXPECT_TRUE(Has(json,
                  "\"letzte_auswertung\": {\"zeit\": \"06.12.2026 "
                  "07:41:40\", \"alter_s\": 200}"));
  EXPECT_TRUE(Has(json,
                  "\"funktionen\": {\"messung\": true, \"minimum\": "
                  "false, \"maximum\": true}"));
  EXPECT_TRUE(Has(json,
                  "{\"nummer\": 5, \"name\": \"Maximum \", "
                  "\"kontakt\": \"geschlossen\"}"));
  EXPECT_TRUE(Has(json,
                  "{\"nummer\": 2, \"name\": \"Digital 2\", "
                  "\"kontakt\": \"geschlossen\"}"));
  EXPECT_TRUE(Has(json, "  Test & \\\"Probe\\\"\""));
  // Brackets balance outside strings.
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < json.size(); i++) {
    char c = json[i];
    if (inString) {
      if (c == '\\')
        i++;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      depth++;
    } else if (c == '}' || c == ']') {
      EXPECT_GT(depth, 0);
      depth--;
    }
  }
  EXPECT_EQ(depth, 0);
  EXPECT_FALSE(inString);
  WebSnapshot none = KnownState();
  none.LevelRead = false;
  none.Queried = false;
  EXPECT_TRUE(Has(WebFiguresJson(none, At(0)), "\"volt\": null"));
}

TEST(WebPicture, TheLastDayWithThresholdsAndTheOutputsBands) {
  std::string svg = WebPictureSvg(KnownState());
  EXPECT_TRUE(ValidUtf8(svg));
  EXPECT_TRUE(Has(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_TRUE(Has(svg, "Maximum 1,18 V"));
  EXPECT_TRUE(Has(svg, "Minimum 0,21 V"));
  EXPECT_TRUE(Has(svg, "stroke-dasharray"));
  // The day's 86400 s over the plot's 656 units from x 52: output 4 on
  // from 2 h before the end (x 653,3) to the evaluation 1 h before it
  // (x 680,7), output 5 from the last one on (at least 3 units, cut at
  // the plot's edge).
  EXPECT_TRUE(Has(svg,
                  "<rect x=\"653.3\" y=\"34.0\" width=\"27.3\" "
                  "height=\"194.0\" fill=\"#FFC8C8\"/>"));
  EXPECT_TRUE(Has(svg,
                  "<rect x=\"706.5\" y=\"34.0\" width=\"1.5\" "
                  "height=\"194.0\" fill=\"#B4DCFF\"/>"));
  // The level on 0 to 1,4 V over the plot's 194 units: three joined
  // points, a gap where an evaluation had none, one point; each at the
  // middle of its column of 144 s (1,1 units).
  EXPECT_TRUE(Has(svg, "M653.1 207.2L656.3 201.7L680.4 158.7M706.6 54.8"));
  // Ticks every 3 h of local time.
  EXPECT_TRUE(Has(svg, ">09:00</text>"));
  EXPECT_TRUE(Has(svg, ">06:00</text>"));
  EXPECT_FALSE(Has(svg, ">07:00</text>"));
  WebSnapshot empty = KnownState();
  empty.Day = WebDay();
  EXPECT_TRUE(Has(WebPictureSvg(empty), "Keine Messung am letzten Tag"));
}

TEST(WebAnswer, HeaderLinesAndBodyAsTheServerWritesThem) {
  WebSnapshot s = KnownState();
  Text ok = WebAnswer(WebRequest{200, WebFigures, false}, s, "");
  EXPECT_EQ(ok.rfind("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                     "Content-Length: ",
                     0),
            0u);
  size_t end = ok.find("\r\n\r\n");
  ASSERT_NE(end, Text::npos);
  EXPECT_TRUE(Has(ok, "Connection: close\r\n"));
  EXPECT_TRUE(Has(ok, "Cache-Control: no-store\r\n"));
  size_t length = std::stoul(ok.substr(ok.find("Content-Length: ") + 16));
  EXPECT_EQ(length, ok.size() - end - 4);
  Text head = WebAnswer(WebRequest{200, WebPage, true}, s, "");
  EXPECT_EQ(head.find("\r\n\r\n"), head.size() - 4);
  EXPECT_TRUE(Has(head, "text/html; charset=utf-8"));
  Text refused = WebAnswer(WebRequest{405, WebNoResource, false}, s, "");
  EXPECT_EQ(refused.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0), 0u);
  EXPECT_TRUE(Has(refused, "Allow: GET, HEAD\r\n"));
  EXPECT_TRUE(Has(WebAnswer(WebRequest{401, WebNoResource, false}, s, "x"),
                  "WWW-Authenticate: Bearer\r\n"));
}

TEST(WebTexts, TimesAgesAndWindows1252AsUtf8) {
  EXPECT_EQ(DateTimeText(Local), "06.12.2026 07:45:00");
  EXPECT_EQ(DateTimeText(0), "01.01.1970 00:00:00");
  EXPECT_EQ(DateTimeText(20818 * 86400LL + 86399), "31.12.2026 23:59:59");
  EXPECT_EQ(DateTimeText(-1), "31.12.1969 23:59:59");
  EXPECT_EQ(AgeText(59999), "59 s");
  EXPECT_EQ(AgeText(60000), "1 min 0 s");
  EXPECT_EQ(AgeText(7500000), "2 h 05 min");
  EXPECT_EQ(AgeText(86400000), "1 Tag");
  EXPECT_EQ(AgeText(3 * 86400000LL), "3 Tage");
  EXPECT_EQ(Utf8FromWindows1252("\xE4\xF6\xFC\xDF\x80\x81"),
            "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xE2\x82\xAC\xEF\xBF\xBD");
}
