#include "web/web_server.h"

#include <string>
#include <vector>

#include "base/sleep_clock.h"
#include "web/web_page.h"
#include "web/web_request.h"

namespace {

struct WebClient {
  PlatSocket Socket;
  uint32_t From;    // the client's address, network byte order
  TickCount Since;  // taken
  Text Request;     // the bytes of this connection's request so far
  bool Answering;   // the request is whole, the answer is being written
  TickCount AnswerSince;
  Text Answer;
  size_t Written;
};

// The server's sockets and connections live here, not in the state
// record: nothing a client sends is ever kept where the guard looks.
struct Server {
  bool Started;
  PlatSocket Listener = NoSocket;
  TickCount NextTry;
  std::vector<WebClient> Clients;
  WebServerCounts Counts;
  // The picture's answer is the same for every request on one snapshot:
  // drawn once for it.
  int PictureSerial = -1;
  Text Picture;
};
Server Web;

const char SecurityLines[] =
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Content-Security-Policy: default-src 'none'; img-src 'self'; "
    "style-src 'unsafe-inline'\r\n"
    "Connection: close\r\n";

Text StatusLine(int status) {
  switch (status) {
    case 200:
      return "200 OK";
    case 400:
      return "400 Bad Request";
    case 401:
      return "401 Unauthorized";
    case 404:
      return "404 Not Found";
    case 405:
      return "405 Method Not Allowed";
    case 431:
      return "431 Request Header Fields Too Large";
    case 505:
      return "505 HTTP Version Not Supported";
    default:
      return "500 Internal Server Error";
  }
}

// The short German word of an error, as the body of its answer.
const char* ErrorWord(int status) {
  switch (status) {
    case 400:
      return "Anfrage nicht verstanden";
    case 401:
      return "Zugang nur mit Schluessel";
    case 404:
      return "Nicht gefunden";
    case 405:
      return "Nur GET und HEAD";
    case 431:
      return "Anfrage zu lang";
    case 505:
      return "Nur HTTP/1.0 und HTTP/1.1";
    default:
      return "Fehler";
  }
}

WebClock Now() {
  return WebClock{PlatLocalClock(), PlatUniversalClock(), PlatTickCount()};
}

Text AddressText(const WebSettings& w) {
  return w.Address + ":" + std::to_string(w.Port);
}

void Say(const Text& text) { AppState.Web.StatusText = text; }

void TryListening() {
  const WebSettings& w = AppState.Web.Settings;
  PlatSocket listener = NoSocket;
  ListenResult result = PlatListen(w.Bind, w.Port, &listener);
  Web.NextTry = PlatTickCount() + WebListenRetry;
  Text again =
      " Neuer Versuch alle " + std::to_string(WebListenRetry / 1000) + " s.";
  switch (result) {
    case ListenDone:
      Web.Listener = listener;
      Say("Statusseite (nur Anzeige): http://" + AddressText(w) + "/" +
          (w.Bind == 0 ? Text(" auf allen Adressen dieses PCs") : Text("")) +
          (w.Token.empty() ? "" : " mit Schlüssel") + ".");
      return;
    case ListenInUse:
      Say("Statusseite: Port " + std::to_string(w.Port) + " auf " + w.Address +
          " ist belegt." + again);
      return;
    case ListenNotHere:
      Say("Statusseite: " + w.Address + " ist keine Adresse dieses PCs." +
          again);
      return;
    case ListenFailed:
      break;
  }
  Say("Statusseite: auf " + AddressText(w) + " nicht möglich." + again);
}

void Drop(size_t i) {
  PlatCloseSocket(Web.Clients[i].Socket);
  Web.Clients.erase(Web.Clients.begin() + (long)i);
}

// Whether a newcomer could have a place: a free one, or one of a client
// that has not sent a whole request yet.
bool RoomForNewcomer() {
  if ((int)Web.Clients.size() < WebClientsAtOnce) return true;
  for (const WebClient& c : Web.Clients)
    if (!c.Answering) return true;
  return false;
}

int PlacesOf(uint32_t from) {
  int n = 0;
  for (const WebClient& c : Web.Clients)
    if (c.From == from) n++;
  return n;
}

// A place for a newcomer from `from`: a free one, unless its address holds
// WebClientsPerAddress already; otherwise that of a client without a
// whole request, of its own address when that is full, else of the
// address that holds the most places, the oldest of them. False when
// there is none: the newcomer is turned away.
bool MakeRoom(uint32_t from) {
  bool addressFull = PlacesOf(from) >= WebClientsPerAddress;
  if (!addressFull && (int)Web.Clients.size() < WebClientsAtOnce) return true;
  size_t chosen = Web.Clients.size();
  int chosenPlaces = 0;
  for (size_t i = 0; i < Web.Clients.size(); i++) {
    const WebClient& c = Web.Clients[i];
    if (c.Answering || (addressFull && c.From != from)) continue;
    int places = PlacesOf(c.From);
    if (chosen == Web.Clients.size() || places > chosenPlaces ||
        (places == chosenPlaces &&
         (int32_t)(c.Since - Web.Clients[chosen].Since) < 0)) {
      chosen = i;
      chosenPlaces = places;
    }
  }
  if (chosen == Web.Clients.size()) return false;
  Web.Counts.Dropped++;
  Drop(chosen);
  return true;
}

void Answer(WebClient* c, const WebRequest& request) {
  c->Answering = true;
  c->AnswerSince = PlatTickCount();
  const WebSnapshot& s = AppState.Web.Snapshot;
  if (request.Status == 200 && request.Resource == WebPicture) {
    if (Web.PictureSerial != s.Serial || Web.Picture.empty()) {
      WebRequest get = request;
      get.Head = false;
      Web.Picture = WebAnswer(get, s, AppState.Web.Settings.Token);
      Web.PictureSerial = s.Serial;
    }
    c->Answer = request.Head
                    ? Web.Picture.substr(0, Web.Picture.find("\r\n\r\n") + 4)
                    : Web.Picture;
  } else {
    c->Answer = WebAnswer(request, s, AppState.Web.Settings.Token);
  }
  c->Written = 0;
  if (request.Status != 200) Web.Counts.Errors++;
  // What came beyond the request is never looked at.
  Text().swap(c->Request);
}

// One look at a connection: read what has come, or write what is due.
// False when it is done with (answered, closed, or past its bound).
bool Serve(WebClient* c) {
  TickCount now = PlatTickCount();
  if (!c->Answering) {
    char bytes[WebRequestLimit + 1];
    int room = (int)(sizeof bytes - c->Request.size());
    int got = room > 0 ? PlatReceiveNow(c->Socket, bytes, room) : 0;
    if (got == ReceiveClosed) return false;
    if (got > 0) c->Request.append(bytes, (size_t)got);
    WebRequest r = ReadWebRequest(c->Request.data(), c->Request.size(),
                                  AppState.Web.Settings.Token);
    if (r.Status != 0) {
      Answer(c, r);
    } else if ((int32_t)(now - c->Since) >= WebRequestTime) {
      Web.Counts.Dropped++;
      return false;
    }
  }
  if (c->Answering) {
    int left = (int)(c->Answer.size() - c->Written);
    int sent = PlatSendNow(c->Socket, c->Answer.data() + c->Written, left);
    if (sent < 0) return false;
    c->Written += (size_t)sent;
    if (c->Written == c->Answer.size()) {
      Web.Counts.Answered++;
      return false;
    }
    if ((int32_t)(now - c->AnswerSince) >= WebAnswerTime) {
      Web.Counts.Dropped++;
      return false;
    }
  }
  return true;
}

}  // namespace

Text WebAnswer(const WebRequest& request, const WebSnapshot& s,
               const Text& token) {
  Text type = "text/plain; charset=utf-8";
  Text body;
  Text extra;
  if (request.Status == 200) {
    WebClock now = Now();
    switch (request.Resource) {
      case WebPage:
        type = "text/html; charset=utf-8";
        body = WebPageHtml(s, now, token);
        break;
      case WebFigures:
        type = "application/json";
        body = WebFiguresJson(s, now);
        break;
      case WebPicture:
        type = "image/svg+xml";
        body = WebPictureSvg(s);
        break;
      case WebNoResource:
        break;
    }
  } else {
    body = StatusLine(request.Status) + ": " + ErrorWord(request.Status) + "\n";
    if (request.Status == 405) extra = "Allow: GET, HEAD\r\n";
    if (request.Status == 401) extra = "WWW-Authenticate: Bearer\r\n";
  }
  Text head = "HTTP/1.1 " + StatusLine(request.Status) +
              "\r\nContent-Type: " + type +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
              extra + SecurityLines + "\r\n";
  return request.Head ? head : head + body;
}

void StartWebServer() {
  if (AppState.Web.Settings.Address.empty()) return;
  Web = Server();
  Web.Started = true;
  Web.Clients.reserve(WebClientsAtOnce);
  TryListening();
}

void WebClocksAfterSleep(int64_t asleepMs) {
  for (WebClient& c : Web.Clients) {
    c.Since = SinceAcrossSleep(c.Since, asleepMs, WebRequestTime);
    c.AnswerSince = SinceAcrossSleep(c.AnswerSince, asleepMs, WebAnswerTime);
  }
  // The retry's due time counted from its last try.
  TickCount tried = Web.NextTry - (TickCount)WebListenRetry;
  Web.NextTry =
      SinceAcrossSleep(tried, asleepMs, WebListenRetry) + WebListenRetry;
}

void ServeWebClients() {
  if (!Web.Started) return;
  if (Web.Listener == NoSocket) {
    if ((int32_t)(PlatTickCount() - Web.NextTry) >= 0) TryListening();
    if (Web.Listener == NoSocket) return;
  }
  // Newcomers, each looked at once as soon as it is taken: a phone's
  // request that came with its connection is answered before the next
  // newcomer could want its place.
  for (int i = 0; i < WebAcceptsAtOnce && RoomForNewcomer(); i++) {
    PlatSocket s = PlatAccept(Web.Listener);
    if (s == NoSocket) break;
    Web.Counts.Taken++;
    uint32_t from = PlatPeerAddress(s);
    if (!MakeRoom(from)) {
      Web.Counts.Dropped++;
      PlatCloseSocket(s);
      continue;
    }
    WebClient c{};
    c.Socket = s;
    c.From = from;
    c.Since = PlatTickCount();
    Web.Clients.push_back(c);
    if (!Serve(&Web.Clients.back())) Drop(Web.Clients.size() - 1);
  }
  for (size_t i = 0; i < Web.Clients.size();) {
    if (Serve(&Web.Clients[i]))
      i++;
    else
      Drop(i);
  }
}

void StopWebServer() {
  if (!Web.Started) return;
  while (!Web.Clients.empty()) Drop(Web.Clients.size() - 1);
  if (Web.Listener != NoSocket) PlatCloseSocket(Web.Listener);
  Web.Listener = NoSocket;
  Web.Started = false;
}

WebServerCounts WebServerCounted() { return Web.Counts; }

int WebClientsOpen() { return (int)Web.Clients.size(); }

int WebListeningPort() {
  return Web.Listener == NoSocket ? 0 : PlatListeningPort(Web.Listener);
}
