// The requests the status page takes, read from the bytes a client sent:
// GET or HEAD of one of a few fixed paths, nothing else. A pure function
// of the bytes and the token: it keeps nothing and touches nothing.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// The most a request may be, its header lines included; a client that
// sends more before its header ends is answered 431.
enum { WebRequestLimit = 4096 };

enum WebResource {
  WebNoResource,
  WebPage,     // "/": the page
  WebFigures,  // "/status.json": the same figures as JSON
  WebPicture,  // "/verlauf.svg": the history's picture of the last day
};

struct WebRequest {
  // 0 while the request is not whole (and nothing in it is wrong yet);
  // 200 for a request to answer with `Resource`; otherwise the status of
  // the error to answer with: 400 a request of a form not taken, 401
  // without the token, 404 another path, 405 another method, 431 too
  // long, 505 another protocol version.
  int Status;
  WebResource Resource;
  bool Head;  // HEAD: the answer's header lines without its body
};

// Reads the request in the first `length` bytes a client sent. `token`
// empty: none is asked for; otherwise the request must carry it, as the
// query "?token=TEXT" of its path or as "Authorization: Bearer TEXT".
WebRequest ReadWebRequest(const char* bytes, size_t length, const Text& token);

// Whether a token given on the command line has the form the page takes:
// 1 to 64 of the characters A-Z a-z 0-9 . _ ~ - (a URL carries them as
// they are).
bool WebTokenForm(const Text& token);
enum { LongestWebToken = 64 };
