#include "tests/golden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

const char* KindName(ControlKind kind) {
  switch (kind) {
    case KindLabel:
      return "label";
    case KindButton:
      return "button";
    case KindCheckBox:
      return "checkbox";
    case KindSpin:
      return "spin";
    case KindEdit:
      return "edit";
    case KindRichText:
      return "richtext";
    case KindProgressBar:
      return "progress";
    case KindTrackbar:
      return "trackbar";
    case KindImageButton:
      return "imagebutton";
  }
  return "?";
}

const char* FrameName(WindowFrame frame) {
  switch (frame) {
    case FrameTitleOnly:
      return "title-only";
    case FrameMain:
      return "main";
    case FrameSizable:
      return "sizable";
  }
  return "?";
}

bool HasText(ControlKind kind) {
  return kind == KindLabel || kind == KindButton || kind == KindEdit ||
         kind == KindSpin || kind == KindRichText;
}

bool HasRange(ControlKind kind) {
  return kind == KindTrackbar || kind == KindProgressBar || kind == KindSpin;
}

// The program's two colours by name, any other as its COLORREF.
std::string Colour(uint32_t colour) {
  if (colour == 0x00FF0000u) return "blue";
  if (colour == 0x000000FFu) return "red";
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08X", (unsigned)colour);
  return hex;
}

std::string PropertyNames(int properties) {
  static const struct {
    int Bit;
    const char* Name;
  } names[] = {{PropBorder, "border"},      {PropCentred, "centred"},
               {PropRightAligned, "right"}, {PropVertical, "vertical"},
               {PropTickMarks, "ticks"},    {PropReadOnly, "read-only"},
               {PropSmooth, "smooth"}};
  std::string out;
  int left = properties;
  for (const auto& n : names) {
    if (!(properties & n.Bit)) continue;
    out += (out.empty() ? "" : ",") + std::string(n.Name);
    left &= ~n.Bit;
  }
  if (left) out += (out.empty() ? "" : ",") + std::to_string(left);
  return out;
}

std::string Padded(const std::string& s, size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

std::string Rect(int x, int y, int w, int h) {
  return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) +
         "x" + std::to_string(h);
}

std::vector<std::string> SplitAt(const std::string& text, char at) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t to = text.find(at, from);
    parts.push_back(text.substr(from, to - from));
    if (to == std::string::npos) return parts;
    from = to + 1;
  }
}

std::string DrawStep(const HeadlessDrawStep& s) {
  std::string line = "  draw ";
  switch (s.Kind) {
    case StepLine:
      line += "line " + std::to_string(s.X1) + "," + std::to_string(s.Y1) +
              " to " + std::to_string(s.X2) + "," + std::to_string(s.Y2) +
              " width " + std::to_string(s.Width) +
              (s.Style == LineDashed ? " dashed" : " solid");
      break;
    case StepRect:
      line += "rect " + std::to_string(s.X1) + "," + std::to_string(s.Y1) +
              " to " + std::to_string(s.X2) + "," + std::to_string(s.Y2);
      break;
    case StepDot:
      line += "dot " + std::to_string(s.X1) + "," + std::to_string(s.Y1) +
              " radius " + std::to_string(s.Width);
      break;
    case StepText: {
      int h = s.Align & (AlignCentre | AlignRight);
      line += "text " + std::to_string(s.X1) + "," + std::to_string(s.Y1) +
              (h == AlignCentre  ? " centre"
               : h == AlignRight ? " right"
                                 : " left") +
              (s.Align & AlignMiddle ? "-middle" : "") + " " +
              AsciiQuoted(s.Content);
      break;
    }
  }
  return line + " " + Colour(s.Colour) + "\n";
}

std::string GoldenPath(const std::string& name) {
  return std::string(KVX_SOURCE_DIR) + "/tests/golden/" + name;
}

bool ReadWhole(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

bool WriteWhole(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(
      std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return (bool)out;
}

}  // namespace

std::string AsciiQuoted(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char b : bytes) {
    if (b == '\\' || b == '"') {
      out += '\\';
      out += (char)b;
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\t') {
      out += "\\t";
    } else if (b >= 0x20 && b < 0x7F) {
      out += (char)b;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out + "\"";
}

std::string ControlLine(const HeadlessControl& c, const std::string& indent) {
  std::string line = Padded("#" + std::to_string(c.CreationIndex), 4) + " " +
                     Padded(std::to_string(c.Number), 3) + " " +
                     Padded(KindName(c.Kind), 11) + " " +
                     Padded(Rect(c.X, c.Y, c.Width, c.Height), 15);
  std::vector<std::string> richLines;
  if (c.Kind == KindRichText && c.Content.find('\r') != std::string::npos) {
    richLines = SplitAt(c.Content, '\r');
    line += " text of " + std::to_string(richLines.size()) + " lines";
  } else if (HasText(c.Kind)) {
    line += " " + AsciiQuoted(c.Content);
  }
  if (c.Properties) line += " [" + PropertyNames(c.Properties) + "]";
  if (c.SystemFont) {
    line += " system-font";
  } else if (c.Font < 0) {
    line += " default-font";
  } else {
    Text name = HeadlessFontName(c.Font);
    line += " font " + std::to_string(c.Font) +
            (name.empty() ? "" : " (" + name + ")");
  }
  if (c.HasTextColour) line += " text-colour " + Colour(c.TextColour);
  if (c.HasBarColour) line += " bar-colour " + Colour(c.BarColour);
  if (HasRange(c.Kind)) {
    line += " range " + std::to_string(c.Min) + ".." + std::to_string(c.Max);
    // A spin control's number is its text.
    if (c.Kind != KindSpin) line += " value " + std::to_string(c.Value);
  }
  if (c.Kind == KindCheckBox) line += c.Checked ? " checked" : " unchecked";
  if (!c.Enabled) line += " disabled";
  if (!c.Tooltip.empty()) line += " tip " + AsciiQuoted(c.Tooltip);
  line += "\n";
  for (const std::string& l : richLines)
    line += indent + "     | " + AsciiQuoted(l) + "\n";
  return line;
}

std::string WindowHead(const HeadlessWindow& w) {
  std::string head =
      "window " + std::to_string(w.Number) + " " + AsciiQuoted(w.Title) + "\n";
  head += "  frame " + std::string(FrameName(w.Frame)) + ", client " +
          std::to_string(w.ClientWidth) + "x" + std::to_string(w.ClientHeight) +
          ", outer " + std::to_string(w.OuterWidth) + "x" +
          std::to_string(w.OuterHeight) + " at " + std::to_string(w.X) + "," +
          std::to_string(w.Y);
  if (w.Timer)
    head += ", timer " + std::to_string(w.Timer) + " every " +
            std::to_string(w.TimerInterval) + " ms";
  if (w.EraseOnlyOutsideControls) head += ", erases only outside controls";
  if (w.Flashing) head += ", flashing";
  head += "\n";
  for (const auto& item : w.SystemMenu)
    head += "  system menu " + std::to_string(item.first) + " " +
            AsciiQuoted(item.second) + "\n";
  return head;
}

std::string DumpWindow(int window, bool drawing) {
  const HeadlessWindow* w = HeadlessFindWindow(window);
  if (!w || !w->Open) return "";
  std::string out = WindowHead(*w);
  for (int number : HeadlessCreationOrder(window)) {
    const HeadlessControl* c = HeadlessFindControl(number);
    if (c) out += "    " + ControlLine(*c);
  }
  if (drawing) {
    const std::vector<HeadlessDrawStep>& steps = HeadlessShownDrawing(window);
    out += "  drawing of " + std::to_string(steps.size()) + " steps\n";
    for (const HeadlessDrawStep& s : steps) out += DrawStep(s);
  }
  return out;
}

std::string DumpOpenWindows(bool drawing) {
  std::string out;
  for (int window = 0; window < PlatWindowCount; window++)
    out += DumpWindow(window, drawing);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string UnifiedDiff(const std::string& expected, const std::string& actual,
                        const std::string& expectedName,
                        const std::string& actualName, int context) {
  const std::vector<std::string> a = Lines(expected);
  const std::vector<std::string> b = Lines(actual);
  if (a == b) return expected == actual ? "" : "(line ends differ)\n";

  // The common head and tail, then a longest common subsequence of the
  // middle (or, when that would take too long, the middle as one change).
  size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) head++;
  size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
    tail++;
  const size_t n = a.size() - head - tail;
  const size_t m = b.size() - head - tail;

  // The edit script over all lines: ' ' kept, '-' only expected, '+' only
  // actual, each with its index into a or b.
  struct Edit {
    char Op;
    size_t A, B;
  };
  std::vector<Edit> edits;
  for (size_t i = 0; i < head; i++) edits.push_back({' ', i, i});
  if (n * m <= 16u * 1000 * 1000) {
    std::vector<std::vector<int>> lcs(n + 1, std::vector<int>(m + 1, 0));
    for (size_t i = n; i-- > 0;)
      for (size_t j = m; j-- > 0;)
        lcs[i][j] = a[head + i] == b[head + j]
                        ? lcs[i + 1][j + 1] + 1
                        : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    size_t i = 0, j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && a[head + i] == b[head + j]) {
        edits.push_back({' ', head + i++, head + j++});
      } else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) {
        edits.push_back({'-', head + i++, head + j});
      } else {
        edits.push_back({'+', head + i, head + j++});
      }
    }
  } else {
    for (size_t i = 0; i < n; i++) edits.push_back({'-', head + i, head});
    for (size_t j = 0; j < m; j++) edits.push_back({'+', head + n, head + j});
  }
  for (size_t k = 0; k < tail; k++)
    edits.push_back({' ', a.size() - tail + k, b.size() - tail + k});

  std::string out = "--- " + expectedName + "\n+++ " + actualName + "\n";
  size_t at = 0;
  while (at < edits.size()) {
    while (at < edits.size() && edits[at].Op == ' ') at++;
    if (at == edits.size()) break;
    // A hunk: from `context` kept lines before the change to `context`
    // after the last change that lies within 2 * context of the one
    // before.
    size_t from = at >= (size_t)context ? at - context : 0;
    size_t to = at;
    for (size_t k = at; k < edits.size(); k++) {
      if (edits[k].Op != ' ') {
        to = k;
      } else if (k - to > 2 * (size_t)context) {
        break;
      }
    }
    size_t end = std::min(edits.size(), to + 1 + context);
    size_t aCount = 0, bCount = 0;
    for (size_t k = from; k < end; k++) {
      if (edits[k].Op != '+') aCount++;
      if (edits[k].Op != '-') bCount++;
    }
    out += "@@ -" + std::to_string(edits[from].A + 1) + "," +
           std::to_string(aCount) + " +" + std::to_string(edits[from].B + 1) +
           "," + std::to_string(bCount) + " @@\n";
    for (size_t k = from; k < end; k++) {
      const Edit& e = edits[k];
      out += e.Op;
      out += (e.Op == '+' ? b[e.B] : a[e.A]) + "\n";
    }
    at = end;
  }
  return out;
}

std::string WithoutBoardPort(const std::string& text, int port) {
  std::string out = text, named = "Port " + std::to_string(port);
  for (size_t at = out.find(named); at != std::string::npos;
       at = out.find(named, at)) {
    size_t end = at + named.size();
    if (end < out.size() && out[end] >= '0' && out[end] <= '9') {
      at = end;
      continue;
    }
    out.replace(at, named.size(), "Port BOARD-PORT");
  }
  return out;
}

void ExpectGolden(const std::string& name, const std::string& actual) {
  const std::string path = GoldenPath(name);
  const char* update = getenv("KVX_GOLDEN_UPDATE");
  if (update && *update && std::string(update) != "0") {
    EXPECT_TRUE(WriteWhole(path, actual)) << "cannot write " << path;
    return;
  }
  std::string expected;
  bool found = ReadWhole(path, &expected);
  const std::string fresh = std::string(KVX_BINARY_DIR) + "/golden-new/" + name;
  if (found && expected == actual) {
    // No text of an earlier failure stays to mislead a reviewer.
    std::error_code ignored;
    std::filesystem::remove(fresh, ignored);
    return;
  }
  bool written = WriteWhole(fresh, actual);
  if (!found) {
    ADD_FAILURE() << "no golden file " << path << "; the program's text is in "
                  << (written ? fresh : "(could not be written)")
                  << " (KVX_GOLDEN_UPDATE=1 writes it in place)";
    return;
  }
  ADD_FAILURE() << "the program's text differs from " << path
                << "\nwhole new text: "
                << (written ? fresh : "(could not be written)")
                << " (KVX_GOLDEN_UPDATE=1 takes it)\n"
                << UnifiedDiff(expected, actual, "tests/golden/" + name,
                               "golden-new/" + name);
}
