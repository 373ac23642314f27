// Splitting the received bytes into commands. See framing.h.
#include "simulator/framing.h"

#include <algorithm>

namespace kvxsim {

namespace {

const char kSuffix[] = " \\r\\n";  // 20 5C 72 5C 6E
const size_t kSuffixLen = 5;

// Moves the first `consumed` bytes of `*pending` into the command, its text
// being the first `textLen` of them.
void Take(std::string* pending, size_t consumed, size_t textLen,
          CommandKind kind, CommandRecord* cmd) {
  cmd->kind = kind;
  cmd->raw = pending->substr(0, consumed);
  cmd->text = pending->substr(0, textLen);
  pending->erase(0, consumed);
}

}  // namespace

const char* KindName(CommandKind kind) {
  switch (kind) {
    case CommandKind::Text:
      return "text";
    case CommandKind::Line:
      return "line";
    case CommandKind::Block:
      return "block";
    case CommandKind::Overlong:
      return "overlong";
  }
  return "?";
}

Framed TakeCommand(std::string* pending, CommandRecord* cmd) {
  const std::string& p = *pending;
  const size_t n = p.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = p[i];
    if (c == '\0') {
      if (n < kBlockLen) return Framed::NeedMore;
      // The block's text is its own bytes: a zero byte past its 100 bytes
      // belongs to what follows.
      Take(pending, kBlockLen, std::min(i, kBlockLen), CommandKind::Block, cmd);
      return Framed::Command;
    }
    if (c == '\r' || c == '\n') {
      size_t end = i + 1;
      if (c == '\r' && end < n && p[end] == '\n') ++end;
      Take(pending, end, i, CommandKind::Line, cmd);
      return cmd->text.empty() ? Framed::EmptyLine : Framed::Command;
    }
    if (c == ' ' && i + kSuffixLen <= n &&
        p.compare(i, kSuffixLen, kSuffix) == 0) {
      Take(pending, i + kSuffixLen, i, CommandKind::Text, cmd);
      return Framed::Command;
    }
  }
  if (n < kOverlong) return Framed::NeedMore;
  Take(pending, kOverlong, kOverlong, CommandKind::Overlong, cmd);
  return Framed::Command;
}

void SplitKeyword(const std::string& text, std::string* keyword,
                  std::string* args) {
  size_t p = 0;
  while (p < text.size() && IsBlank(text[p])) ++p;
  size_t k = p;
  while (k < text.size() && ((text[k] >= 'a' && text[k] <= 'z') ||
                             (text[k] >= 'A' && text[k] <= 'Z')))
    ++k;
  *keyword = Upper(text.substr(p, k - p));
  size_t a = k;
  while (a < text.size() && IsBlank(text[a])) ++a;
  *args = text.substr(a);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string NormalKey(const std::string& key) {
  std::string out;
  for (char c : Upper(key)) {
    if (!IsBlank(c)) out += c;
  }
  return out;
}

}  // namespace kvxsim
