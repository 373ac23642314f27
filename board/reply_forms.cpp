#include "board/reply_forms.h"

// The reply's line without its line ending; false when the reply is not
// exactly one line ended by a line feed.
static bool OneLine(const Text& reply, Text* line) {
  size_t feed = reply.find('\n');
  if (feed == Text::npos || feed + 1 != reply.size()) return false;
  size_t end = feed;
  if (end > 0 && reply[end - 1] == '\r') end--;
  *line = reply.substr(0, end);
  return line->find('\r') == Text::npos;
}

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// `text` from `at` on begins with 1 to `most` digits of a value up to
// `limit`; `at` moves past them.
static bool Number(const Text& text, size_t* at, size_t most, int limit) {
  size_t start = *at;
  int value = 0;
  while (*at < text.size() && IsDigit(text[*at]) && *at - start < most)
    value = value * 10 + (text[(*at)++] - '0');
  return *at > start && value <= limit;
}

bool IsCountReply(const Text& reply) {
  Text line;
  size_t at = 0;
  return OneLine(reply, &line) && Number(line, &at, 4, 1023) &&
         at == line.size();
}

bool IsInputReply(const Text& reply) {
  Text line;
  return OneLine(reply, &line) && (line == "0" || line == "1");
}

bool IsStatusReply(const Text& reply) {
  Text line;
  if (!OneLine(reply, &line) || line.size() != 9) return false;
  char letter = line[0];
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
    return false;
  for (size_t i = 1; i < line.size(); i++)
    if (line[i] != '0' && line[i] != '1') return false;
  return true;
}

bool IsAddressReply(const Text& reply) {
  Text line;
  if (!OneLine(reply, &line)) return false;
  size_t at = 0;
  for (int part = 0; part < 4; part++) {
    if (part > 0 && (at >= line.size() || line[at++] != '.')) return false;
    if (!Number(line, &at, 3, 255)) return false;
  }
  return at == line.size();
}

bool IsAckReply(const Text& reply) {
  Text line;
  return OneLine(reply, &line) && line.size() == 2 &&
         (line[0] == 'O' || line[0] == 'o') &&
         (line[1] == 'K' || line[1] == 'k');
}
