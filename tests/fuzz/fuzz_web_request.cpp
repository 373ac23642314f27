// Fuzzes the status page's reading of requests and its server. The first
// byte picks a cut; the rest is what one client sends, in two pieces
// around the cut. Checked:
// - the status is one the page knows, and a decision once taken on a part
//   of the bytes stays the same for all of them;
// - a request answered 200 is a GET or HEAD of one of the fixed paths
//   with its header ended within the limit, and carries the token;
// - the server, on in-memory clients, answers the same status, writes
//   nothing to the board or a file, leaves the snapshot as it was and
//   closes the connection.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "web/web_request.h"
#include "web/web_server.h"

namespace {

void Check(bool ok, const char* what, const std::string& bytes) {
  if (ok) return;
  fprintf(stderr, "web request: %s for %zu bytes \"%.200s\"\n", what,
          bytes.size(), bytes.c_str());
  abort();
}

const char Token[] = "Brunnen-7";

uint32_t Loopback() {
  uint32_t a;
  const unsigned char bytes[4] = {127, 0, 0, 1};
  memcpy(&a, bytes, 4);
  return a;
}

bool Known(int status) {
  for (int s : {0, 200, 400, 401, 404, 405, 431, 505})
    if (status == s) return true;
  return false;
}

int ServedStatus(const std::string& first, const std::string& second) {
  HeadlessReset();
  ZeroAppState();
  HeadlessUseWebClients(true);
  PlatSocketsStart();
  AppState.Web.Settings.Address = "127.0.0.1";
  AppState.Web.Settings.Bind = Loopback();
  AppState.Web.Settings.Port = 8080;
  AppState.Web.Settings.Token = Token;
  AppState.Web.Snapshot.LevelText = "0,73";
  StartWebServer();
  int client = HeadlessClientConnect(AppState.Web.Settings.Bind, 8080);
  HeadlessClientSend(client, first);
  ServeWebClients();
  HeadlessClientSend(client, second);
  for (int i = 0; i < 3; i++) ServeWebClients();
  std::string answer = HeadlessClientRead(client);
  bool closed = HeadlessClientClosedByServer(client);
  bool untouched = AppState.Web.Snapshot.LevelText == "0,73" &&
                   HeadlessSendCount() == 0 && HeadlessFileWrites().empty();
  StopWebServer();
  PlatSocketsCleanup();
  Check(untouched, "the server touched what it must not", first + second);
  if (answer.empty()) return closed ? -1 : 0;  // not whole: still open
  Check(closed, "an answer left the connection open", first + second);
  Check(answer.compare(0, 9, "HTTP/1.1 ") == 0 && answer.size() > 12,
        "an answer without its status line", first + second);
  return atoi(answer.substr(9, 3).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string bytes((const char*)data + 1, size - 1);
  size_t cut = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);

  WebRequest whole = ReadWebRequest(bytes.data(), bytes.size(), Token);
  Check(Known(whole.Status), "an unknown status", bytes);
  WebRequest part = ReadWebRequest(bytes.data(), cut, Token);
  Check(Known(part.Status), "an unknown status on a part", bytes);
  if (part.Status != 0)
    Check(part.Status == whole.Status && part.Resource == whole.Resource,
          "a decision changed with more bytes", bytes);
  if (whole.Status == 200) {
    Check(bytes.compare(0, 4, "GET ") == 0 || bytes.compare(0, 5, "HEAD ") == 0,
          "200 for another method", bytes);
    size_t end = bytes.find("\r\n\r\n");
    Check(end != std::string::npos && end + 4 <= WebRequestLimit,
          "200 without a header ended within the limit", bytes);
    std::string head = bytes.substr(0, end);
    Check(head.find(std::string("token=") + Token) != std::string::npos ||
              head.find(std::string(" ") + Token) != std::string::npos,
          "200 without the token", bytes);
    Check(whole.Resource != WebNoResource, "200 for no resource", bytes);
  } else {
    Check(whole.Resource == WebNoResource, "an error with a resource", bytes);
  }
  // The server: the same decision over a connection in two pieces.
  int served = ServedStatus(bytes.substr(0, cut), bytes.substr(cut));
  if (whole.Status != 0)
    Check(served == whole.Status, "the server answered otherwise", bytes);
  else
    Check(served == 0, "the server answered a request not whole", bytes);
  return 0;
}
