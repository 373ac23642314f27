#include "web/web_request.h"

#include <cstring>

namespace {

// A header line's name and a method are tokens: letters, digits and
// the few marks HTTP allows.
bool TokenChar(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
      (c >= '0' && c <= '9'))
    return true;
  return c != 0 && strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool UpperCaseWord(const char* p, size_t n) {
  if (n == 0 || n > 16) return false;
  for (size_t i = 0; i < n; i++)
    if (p[i] < 'A' || p[i] > 'Z') return false;
  return true;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

bool SameNameAnyCase(const char* p, size_t n, const char* name) {
  size_t m = strlen(name);
  if (n != m) return false;
  for (size_t i = 0; i < n; i++)
    if (Lower(p[i]) != Lower(name[i])) return false;
  return true;
}

// Compares every byte, however early they differ: the time a wrong token
// takes tells nothing of the right one.
bool SameToken(const char* p, size_t n, const Text& token) {
  if (n != token.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < n; i++) differ |= (unsigned char)(p[i] ^ token[i]);
  return differ == 0;
}

WebRequest Answer(int status, WebResource resource = WebNoResource,
                  bool head = false) {
  return WebRequest{status, resource, head};
}

// The end of the line that starts at `from`: the index of its CR (followed
// by LF), or `length` when it has not ended yet. A LF without its CR, or a
// CR followed by anything but LF, makes `*bare` true.
size_t LineEnd(const char* b, size_t from, size_t length, bool* bare) {
  *bare = false;
  for (size_t i = from; i < length; i++) {
    if (b[i] == '\n') {
      *bare = true;
      return i;
    }
    if (b[i] == '\r') {
      if (i + 1 == length) return length;  // its LF still to come
      if (b[i + 1] != '\n') *bare = true;
      return i;
    }
  }
  return length;
}

struct RequestLine {
  bool Whole;  // the line has ended
  int Status;  // 0 good so far, else the error
  bool Head;
  const char* Path;
  size_t PathLength;
  const char* Query;  // after '?', nullptr when none
  size_t QueryLength;
  bool Version11;
  size_t Next;  // where the header lines begin
};

RequestLine ReadRequestLine(const char* b, size_t length) {
  RequestLine r{};
  bool bare = false;
  size_t end = LineEnd(b, 0, length, &bare);
  if (bare) {
    r.Whole = true;
    r.Status = 400;
    return r;
  }
  if (end == length) {
    // Not ended: wrong already when what has come cannot begin a method.
    for (size_t i = 0; i < length && b[i] != ' '; i++)
      if (b[i] < 'A' || b[i] > 'Z' || i >= 16) r.Status = 400;
    return r;
  }
  r.Whole = true;
  r.Next = end + 2;
  const char* line = b;
  const char* space1 = (const char*)memchr(line, ' ', end);
  if (!space1) {
    r.Status = 400;
    return r;
  }
  size_t methodLength = (size_t)(space1 - line);
  // HEAD: whatever the answer, its header lines alone.
  r.Head = methodLength == 4 && memcmp(line, "HEAD", 4) == 0;
  const char* target = space1 + 1;
  size_t rest = end - methodLength - 1;
  const char* space2 = (const char*)memchr(target, ' ', rest);
  if (!space2) {
    r.Status = 400;
    return r;
  }
  size_t targetLength = (size_t)(space2 - target);
  const char* version = space2 + 1;
  size_t versionLength = rest - targetLength - 1;
  if (!UpperCaseWord(line, methodLength) || targetLength == 0 ||
      memchr(version, ' ', versionLength)) {
    r.Status = 400;
    return r;
  }
  // The version: HTTP/1.0 or HTTP/1.1; another of the form HTTP/d.d is
  // one not supported.
  if (versionLength == 8 && memcmp(version, "HTTP/", 5) == 0 &&
      version[5] >= '0' && version[5] <= '9' && version[6] == '.' &&
      version[7] >= '0' && version[7] <= '9') {
    if (version[5] != '1' || (version[7] != '0' && version[7] != '1')) {
      r.Status = 505;
      return r;
    }
    r.Version11 = version[7] == '1';
  } else {
    r.Status = 400;
    return r;
  }
  // The target: a path from the root, printable characters only, no
  // fragment.
  if (target[0] != '/') {
    r.Status = 400;
    return r;
  }
  for (size_t i = 0; i < targetLength; i++) {
    unsigned char c = (unsigned char)target[i];
    if (c <= 0x20 || c >= 0x7F || c == '#') {
      r.Status = 400;
      return r;
    }
  }
  const char* question = (const char*)memchr(target, '?', targetLength);
  r.Path = target;
  r.PathLength = question ? (size_t)(question - target) : targetLength;
  if (question) {
    r.Query = question + 1;
    r.QueryLength = targetLength - r.PathLength - 1;
  }
  if (!r.Head && !(methodLength == 3 && memcmp(line, "GET", 3) == 0))
    r.Status = 405;
  return r;
}

WebResource ResourceOf(const char* path, size_t n) {
  if (n == 1 && path[0] == '/') return WebPage;
  if (n == 12 && memcmp(path, "/status.json", 12) == 0) return WebFigures;
  if (n == 12 && memcmp(path, "/verlauf.svg", 12) == 0) return WebPicture;
  return WebNoResource;
}

const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && (*p == ' ' || *p == '\t')) p++;
  return p;
}

WebRequest ReadRest(const char* b, size_t length, const Text& token,
                    const RequestLine& line);

}  // namespace

bool WebTokenForm(const Text& token) {
  if (token.empty() || token.size() > LongestWebToken) return false;
  for (char c : token) {
    bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '.' && c != '_' && c != '~' && c != '-')
      return false;
  }
  return true;
}

WebRequest ReadWebRequest(const char* b, size_t length, const Text& token) {
  if (length > WebRequestLimit) length = WebRequestLimit + 1;
  RequestLine line = ReadRequestLine(b, length);
  WebRequest r = ReadRest(b, length, token, line);
  r.Head = line.Head;
  return r;
}

namespace {

// The request past its line: the header lines, the query and the path.
WebRequest ReadRest(const char* b, size_t length, const Text& token,
                    const RequestLine& line) {
  if (line.Status != 0) return Answer(line.Status);
  if (!line.Whole) return Answer(length > WebRequestLimit ? 431 : 0);

  // The header lines, up to the empty line that ends them.
  bool tokenGiven = false;
  bool host = false;
  int lines = 0;
  size_t at = line.Next;
  for (;;) {
    bool bare = false;
    size_t end = LineEnd(b, at, length, &bare);
    if (bare) return Answer(400);
    if (end == length) return Answer(length > WebRequestLimit ? 431 : 0);
    if (end > WebRequestLimit - 2) return Answer(431);
    if (end == at) break;  // the empty line: the request is whole
    if (++lines > 50) return Answer(431);
    const char* p = b + at;
    const char* lineEnd = b + end;
    // A name, a colon, the value; a line that continues the one before
    // (starting with a blank) is a form no longer taken.
    const char* colon = p;
    while (colon < lineEnd && TokenChar(*colon)) colon++;
    if (colon == p || colon == lineEnd || *colon != ':') return Answer(400);
    size_t nameLength = (size_t)(colon - p);
    const char* value = SkipBlanks(colon + 1, lineEnd);
    const char* valueEnd = lineEnd;
    while (valueEnd > value && (valueEnd[-1] == ' ' || valueEnd[-1] == '\t'))
      valueEnd--;
    for (const char* v = value; v < valueEnd; v++)
      if ((unsigned char)*v < 0x20 && *v != '\t') return Answer(400);
    size_t valueLength = (size_t)(valueEnd - value);
    if (SameNameAnyCase(p, nameLength, "Host")) {
      if (host) return Answer(400);
      host = true;
    } else if (SameNameAnyCase(p, nameLength, "Content-Length")) {
      // A request with a body is none this page takes.
      if (valueLength != 1 || value[0] != '0') return Answer(400);
    } else if (SameNameAnyCase(p, nameLength, "Transfer-Encoding")) {
      return Answer(400);
    } else if (SameNameAnyCase(p, nameLength, "Authorization")) {
      if (valueLength > 7 && SameNameAnyCase(value, 7, "Bearer ") &&
          !token.empty() && SameToken(value + 7, valueLength - 7, token))
        tokenGiven = true;
    }
    at = end + 2;
  }
  if (line.Version11 && !host) return Answer(400);

  // The query: none, or the token alone.
  if (line.Query) {
    if (line.QueryLength < 6 || memcmp(line.Query, "token=", 6) != 0)
      return Answer(400);
    if (!token.empty() &&
        SameToken(line.Query + 6, line.QueryLength - 6, token))
      tokenGiven = true;
  }
  if (!token.empty() && !tokenGiven) return Answer(401);
  WebResource resource = ResourceOf(line.Path, line.PathLength);
  if (resource == WebNoResource) return Answer(404);
  return Answer(200, resource);
}

}  // namespace
