// Fuzzes the status page's server with several clients at once, their
// bytes interleaved: the input is a schedule of steps, two bytes each (a
// step and its argument): a client connects from one of four addresses
// with one of a few requests, a client sends a few more bytes of its
// request, the server serves, the clock goes on, a client reads or closes
// its end. At the end every client sends the rest and the server serves
// until all are done. Checked for every client:
// - it got nothing (it gave its place to a newcomer or closed first), or
//   one answer whose status is its own request's, with no body for HEAD
//   and the body its Content-Length says for GET, and nothing after it;
// - no more places were taken than the bounds allow.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "web/web_server.h"

namespace {

struct Asked {
  const char* Request;
  int Status;  // of its answer
};

// Requests that differ early and late, in method, path and status.
const Asked Requests[] = {
    {"GET / HTTP/1.1\r\nHost: brunnen\r\n\r\n", 200},
    {"HEAD / HTTP/1.1\r\nHost: brunnen\r\n\r\n", 200},
    {"GET /status.json HTTP/1.0\r\n\r\n", 200},
    {"GET /verlauf.svg HTTP/1.1\r\nHost: b\r\n\r\n", 200},
    {"HEAD /verlauf.svg HTTP/1.1\r\nHost: b\r\n\r\n", 200},
    {"GET /nirgends HTTP/1.1\r\nHost: b\r\n\r\n", 404},
    {"HEAD /nirgends HTTP/1.1\r\nHost: b\r\n\r\n", 404},
    {"PUT / HTTP/1.1\r\nHost: b\r\n\r\n", 405},
    {"GET / HTTP/2.0\r\n\r\n", 505},
    {"GET /?x=1 HTTP/1.1\r\nHost: b\r\n\r\n", 400},
    {"GET / HTTP/1.1\r\n\r\n", 400},
};
const int RequestCount = (int)(sizeof Requests / sizeof Requests[0]);

struct Client {
  int Number;
  const Asked* Wanted;
  size_t Sent;
  bool Closed;
};

void Check(bool ok, const char* what, const std::string& answer) {
  if (ok) return;
  fprintf(stderr, "web clients: %s: \"%.300s\"\n", what, answer.c_str());
  abort();
}

uint32_t Address(int last) {
  uint32_t a;
  const unsigned char bytes[4] = {127, 0, 0, (unsigned char)last};
  memcpy(&a, bytes, 4);
  return a;
}

void SendSome(Client* c, size_t n) {
  size_t left = strlen(c->Wanted->Request) - c->Sent;
  if (n > left) n = left;
  if (n == 0 || c->Closed) return;
  HeadlessClientSend(c->Number, std::string(c->Wanted->Request + c->Sent, n));
  c->Sent += n;
}

void CheckAnswer(const Client& c, const std::string& answer) {
  if (answer.empty()) return;
  Check(answer.compare(0, 9, "HTTP/1.1 ") == 0 && answer.size() > 12,
        "an answer without its status line", answer);
  Check(atoi(answer.substr(9, 3).c_str()) == c.Wanted->Status,
        c.Wanted->Request, answer);
  size_t end = answer.find("\r\n\r\n");
  Check(end != std::string::npos, "an answer without its header's end", answer);
  if (c.Closed) return;  // what it read before it closed
  bool head = strncmp(c.Wanted->Request, "HEAD ", 5) == 0;
  size_t length = answer.find("Content-Length: ");
  Check(length != std::string::npos && length < end,
        "an answer without its length", answer);
  size_t body = (size_t)atol(answer.c_str() + length + 16);
  Check(answer.size() == end + 4 + (head ? 0 : body),
        head ? "a HEAD answer with a body" : "a body not of its length",
        answer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HeadlessReset();
  ZeroAppState();
  HeadlessUseWebClients(true);
  PlatSocketsStart();
  AppState.Web.Settings = WebSettings{"127.0.0.1", Address(1), 8080, ""};
  WebSnapshot& s = AppState.Web.Snapshot;
  s.Taken = s.Connected = s.Queried = true;
  s.LevelText = "0,73";
  StartWebServer();

  std::vector<Client> clients;
  int mostOpen = 0;
  auto serve = [&] {
    ServeWebClients();
    if (WebClientsOpen() > mostOpen) mostOpen = WebClientsOpen();
  };
  for (size_t i = 0; i + 1 < size && clients.size() < 40; i += 2) {
    int arg = data[i + 1];
    Client* c = clients.empty() ? nullptr : &clients[arg % clients.size()];
    switch (data[i] % 7) {
      case 0: {
        int n = HeadlessClientConnect(Address(1), 8080);
        if (n < 0) break;
        HeadlessClientFrom(n, Address(1 + arg / RequestCount % 4));
        clients.push_back(Client{n, &Requests[arg % RequestCount], 0, false});
        break;
      }
      case 1:
        if (c) SendSome(c, (size_t)(data[i] / 7 % 8 + 1));
        break;
      case 2:
        serve();
        break;
      case 3:
        HeadlessAdvanceClock(arg * 10);
        serve();
        break;
      case 4:
        if (c) SendSome(c, 1 << 12);
        break;
      case 5:
        if (c && arg % 5 == 0) {
          HeadlessClientClose(c->Number);
          c->Closed = true;
        }
        break;
      case 6:
        if (c) HeadlessClientRead(c->Number);
        break;
    }
  }
  // The rest of every request, and servings until every client is done
  // with (answered, or dropped past its bound).
  for (Client& c : clients) SendSome(&c, 1 << 12);
  for (int i = 0; i < 600 && WebClientsOpen() > 0; i++) {
    HeadlessAdvanceClock(50);
    serve();
  }
  serve();
  Check(WebClientsOpen() == 0, "clients left open", "");
  Check(mostOpen <= WebClientsAtOnce, "more places than the bound", "");
  for (const Client& c : clients) {
    HeadlessClientRead(c.Number);
    CheckAnswer(c, HeadlessClientAllRead(c.Number));
  }
  StopWebServer();
  PlatSocketsCleanup();
  return 0;
}
