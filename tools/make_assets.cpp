// make-assets OUTDIR
//
// Writes the three files the control program carries inside its image:
//   board.bmp      the picture of the board on the main window's image button
//   click.wav      the relay click played after nearly every action
//   korvalinex.ico the program icon (icon resource 1)
// Everything is drawn and computed here, with no input and no randomness, so
// that running the generator again gives the committed files byte for byte.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(Bytes& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void PutTag(Bytes& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(tag[i]));
}

// BITMAPINFOHEADER for an uncompressed bitmap.
void PutInfoHeader(Bytes& out, int width, int height, int bits,
                   std::uint32_t image_size, std::uint32_t pels_per_metre) {
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(width));
  Put32(out, static_cast<std::uint32_t>(height));
  Put16(out, 1);  // planes
  Put16(out, static_cast<unsigned>(bits));
  Put32(out, 0);  // BI_RGB
  Put32(out, image_size);
  Put32(out, pels_per_metre);
  Put32(out, pels_per_metre);
  Put32(out, 0);  // colours used: all of the palette, if any
  Put32(out, 0);  // colours important: all
}

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb& o) const {
    return r == o.r && g == o.g && b == o.b;
  }
};

// A picture addressed top-down; x and y ranges are inclusive.
class Canvas {
 public:
  Canvas(int width, int height, Rgb fill)
      : width_(width), height_(height), pixels_(width * height, fill) {}

  int width() const { return width_; }
  int height() const { return height_; }
  Rgb At(int x, int y) const { return pixels_[y * width_ + x]; }

  void Set(int x, int y, Rgb c) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) {
      pixels_[y * width_ + x] = c;
    }
  }

  void Fill(int x0, int y0, int x1, int y1, Rgb c) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) Set(x, y, c);
  }

  void Frame(int x0, int y0, int x1, int y1, Rgb c) {
    Fill(x0, y0, x1, y0, c);
    Fill(x0, y1, x1, y1, c);
    Fill(x0, y0, x0, y1, c);
    Fill(x1, y0, x1, y1, c);
  }

  // Every pixel whose centre lies within r of (cx, cy).
  void Disc(double cx, double cy, double r, Rgb c) {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        if (dx * dx + dy * dy <= r * r) Set(x, y, c);
      }
  }

  // A copper track along (x, y) points; each leg horizontal or vertical.
  void Track(const std::vector<std::pair<int, int>>& points, Rgb c) {
    for (std::size_t i = 1; i < points.size(); ++i) {
      const auto [ax, ay] = points[i - 1];
      const auto [bx, by] = points[i];
      Fill(std::min(ax, bx), std::min(ay, by), std::max(ax, bx),
           std::max(ay, by), c);
    }
  }

 private:
  int width_, height_;
  std::vector<Rgb> pixels_;
};

// Board colours.
constexpr Rgb kBackground{236, 236, 232};
constexpr Rgb kPcb{0, 102, 51};
constexpr Rgb kPcbEdge{0, 70, 34};
constexpr Rgb kTrack{34, 142, 74};
constexpr Rgb kCopper{214, 172, 74};
constexpr Rgb kHole{30, 30, 30};
constexpr Rgb kSilk{236, 236, 226};
constexpr Rgb kChip{26, 26, 30};
constexpr Rgb kChipMark{92, 92, 98};
constexpr Rgb kPin{198, 198, 206};
constexpr Rgb kMetal{178, 182, 190};
constexpr Rgb kMetalDark{118, 122, 132};
constexpr Rgb kRelay{30, 86, 198};
constexpr Rgb kRelayEdge{12, 44, 120};
constexpr Rgb kRelayLight{86, 138, 230};
constexpr Rgb kTerminal{64, 176, 92};
constexpr Rgb kTerminalEdge{12, 78, 38};
constexpr Rgb kLedRed{234, 34, 34};
constexpr Rgb kLedGreen{70, 236, 70};
constexpr Rgb kLedYellow{244, 212, 40};
constexpr Rgb kCapacitor{40, 40, 86};
constexpr Rgb kCeramic{206, 170, 112};

// 3 (or 4) x 5 letters for the silkscreen print.
void Print(Canvas& canvas, int x, int y, const char* text, Rgb c) {
  struct Glyph {
    char ch;
    const char* rows[5];
  };
  static const Glyph kGlyphs[] = {
      {'A', {"010", "101", "111", "101", "101"}},
      {'E', {"111", "100", "110", "100", "111"}},
      {'I', {"111", "010", "010", "010", "111"}},
      {'K', {"101", "101", "110", "101", "101"}},
      {'L', {"100", "100", "100", "100", "111"}},
      {'N', {"1001", "1101", "1011", "1001", "1001"}},
      {'O', {"010", "101", "101", "101", "010"}},
      {'P', {"110", "101", "110", "100", "100"}},
      {'R', {"110", "101", "110", "101", "101"}},
      {'S', {"011", "100", "010", "001", "110"}},
      {'V', {"101", "101", "101", "101", "010"}},
      {'X', {"101", "101", "010", "101", "101"}},
  };
  for (; *text; ++text) {
    for (const Glyph& g : kGlyphs) {
      if (g.ch != *text) continue;
      const int width = static_cast<int>(std::strlen(g.rows[0]));
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < width; ++col)
          if (g.rows[row][col] == '1') canvas.Set(x + col, y + row, c);
      x += width + 1;
    }
  }
}

// A DIP package standing upright: body from (x0, y0), `pins` legs a side.
void DrawDip(Canvas& canvas, int x0, int y0, int body_width, int pins) {
  const int y1 = y0 + 3 * pins;
  const int x1 = x0 + body_width - 1;
  for (int i = 0; i < pins; ++i) {
    const int y = y0 + 1 + 3 * i;
    canvas.Fill(x0 - 3, y, x0 - 1, y + 1, kPin);
    canvas.Fill(x1 + 1, y, x1 + 3, y + 1, kPin);
  }
  canvas.Fill(x0, y0, x1, y1, kChip);
  const double mid = x0 + body_width / 2.0;
  canvas.Disc(mid, y0, 2.0, kChipMark);  // the notch at pin 1's end
  canvas.Disc(x0 + 2.5, y0 + 4.5, 1.0, kChipMark);
}

void DrawScrewTerminals(Canvas& canvas, int x0, int y0, int cells,
                        int cell_width, int height, bool openings_up) {
  const int x1 = x0 + cells * cell_width - 1;
  const int y1 = y0 + height - 1;
  canvas.Fill(x0, y0, x1, y1, kTerminal);
  canvas.Frame(x0, y0, x1, y1, kTerminalEdge);
  const int screw_y = openings_up ? y0 + 7 : y0 + 5;
  const int hole_y = openings_up ? y0 + 1 : y1 - 2;
  for (int i = 0; i < cells; ++i) {
    const int cx = x0 + i * cell_width;
    if (i > 0) canvas.Fill(cx, y0, cx, y1, kTerminalEdge);
    const double mid = cx + cell_width / 2.0;
    canvas.Disc(mid, screw_y + 0.5, cell_width / 2.0 - 0.6, kMetal);
    canvas.Fill(static_cast<int>(mid) - 1, screw_y, static_cast<int>(mid),
                screw_y, kMetalDark);
    canvas.Fill(cx + 2, hole_y, cx + cell_width - 2, hole_y + 1, kHole);
  }
}

void DrawPinHeader(Canvas& canvas, int x0, int y0, int cols, int rows) {
  const int x1 = x0 + 4 * cols, y1 = y0 + 4 * rows;
  canvas.Frame(x0 - 1, y0 - 1, x1 + 1, y1 + 1, kSilk);
  canvas.Fill(x0, y0, x1, y1, kChip);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const int x = x0 + 2 + 4 * c, y = y0 + 2 + 4 * r;
      canvas.Fill(x - 1, y - 1, x, y, kCopper);
    }
}

Canvas DrawBoard() {
  Canvas canvas(120, 160, kBackground);

  // The board itself, with rounded corners and a darker edge.
  for (int y = 1; y <= 158; ++y)
    for (int x = 1; x <= 118; ++x) {
      const double cx = x < 6 ? 6 : (x > 113 ? 113 : x);
      const double cy = y < 6 ? 6 : (y > 153 ? 153 : y);
      const double d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      if (d <= 25.0) canvas.Set(x, y, d > 16.0 ? kPcbEdge : kPcb);
    }
  canvas.Frame(6, 1, 113, 158, kPcbEdge);
  canvas.Frame(1, 6, 118, 153, kPcbEdge);
  canvas.Fill(7, 2, 112, 157, kPcb);
  canvas.Fill(2, 7, 117, 152, kPcb);

  // Tracks first, so that the parts sit on top of their ends.
  // Network controller to the RJ45 magnetics and to its crystal.
  for (int y = 11; y <= 17; y += 2) canvas.Track({{41, y}, {44, y}}, kTrack);
  canvas.Track({{62, 11}, {64, 11}}, kTrack);
  canvas.Track({{62, 13}, {64, 13}}, kTrack);
  // Network controller's SPI lines to the microcontroller.
  canvas.Track({{62, 19}, {66, 19}, {66, 45}, {54, 45}}, kTrack);
  canvas.Track({{62, 21}, {64, 21}, {64, 42}, {54, 42}}, kTrack);
  canvas.Track({{62, 23}, {62, 39}, {54, 39}}, kTrack);
  // Analog terminals to the ADC pins.
  for (int i = 0; i < 4; ++i) {
    const int tx = 80 + 8 * i, ty = 27 + 2 * i, vx = 68 + 2 * i;
    canvas.Track(
        {{tx, 25}, {tx, ty}, {vx, ty}, {vx, 48 + 3 * i}, {54, 48 + 3 * i}},
        kTrack);
  }
  // Sub-D inputs and outputs to the microcontroller's left side.
  for (int k = 2; k <= 9; ++k) {
    canvas.Track({{17, 39 + 3 * k}, {32, 39 + 3 * k}}, kTrack);
  }
  // Relay drivers: the lowest pins of each side fan out to the relays.
  canvas.Track({{32, 90}, {20, 90}, {20, 106}, {14, 106}, {14, 108}}, kTrack);
  canvas.Track({{32, 93}, {28, 93}, {28, 108}}, kTrack);
  canvas.Track({{32, 96}, {30, 96}, {30, 103}, {42, 103}, {42, 108}}, kTrack);
  for (int j = 0; j < 5; ++j) {
    const int y = 84 + 3 * j;      // pin
    const int vx = 64 - 2 * j;     // way down
    const int led = 112 - 14 * j;  // above relay 8 - j
    if (j == 4) {
      canvas.Track({{54, y}, {vx, y}, {vx, 108}}, kTrack);
    } else {
      const int hy = 100 + 2 * j;
      canvas.Track({{54, y}, {vx, y}, {vx, hy}, {led, hy}, {led, 108}}, kTrack);
    }
  }
  // RS232 level shifter to its header.
  for (int i = 2; i <= 5; ++i) {
    canvas.Track({{76, 59 + 3 * i}, {106, 59 + 3 * i}}, kTrack);
  }
  // Vias.
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{
           {20, 106}, {30, 103}, {66, 30}, {80, 27}, {58, 100}, {106, 74}}) {
    canvas.Disc(x + 0.5, y + 0.5, 1.6, kCopper);
    canvas.Set(x, y, kHole);
  }

  // Mounting holes.
  for (const auto& [x, y] : std::vector<std::pair<double, double>>{
           {7.5, 7.5}, {112.5, 7.5}, {7.5, 152.5}, {112.5, 152.5}}) {
    canvas.Disc(x, y, 4.2, kCopper);
    canvas.Disc(x, y, 2.7, kHole);
  }

  // RJ45 socket with its two LEDs at the front.
  canvas.Fill(14, 0, 40, 30, kMetal);
  canvas.Frame(14, 0, 40, 30, kMetalDark);
  canvas.Frame(18, 7, 36, 26, kMetalDark);
  for (int y = 10; y <= 23; y += 3) canvas.Fill(21, y, 33, y, kMetalDark);
  canvas.Fill(16, 1, 19, 3, kLedGreen);
  canvas.Fill(35, 1, 38, 3, kLedYellow);

  // Network controller (SOIC-28) and its crystal.
  for (int i = 0; i < 10; ++i) {
    canvas.Fill(45, 9 + 2 * i, 47, 9 + 2 * i, kPin);
    canvas.Fill(59, 9 + 2 * i, 61, 9 + 2 * i, kPin);
  }
  canvas.Fill(48, 8, 58, 28, kChip);
  canvas.Disc(50.5, 10.5, 1.0, kChipMark);
  canvas.Fill(64, 7, 69, 16, kMetal);
  canvas.Frame(64, 7, 69, 16, kMetalDark);

  // Analog input terminals.
  DrawScrewTerminals(canvas, 76, 12, 4, 8, 13, true);

  // Power and link LEDs.
  canvas.Fill(23, 33, 25, 35, kLedGreen);
  canvas.Fill(29, 33, 31, 35, kLedYellow);
  canvas.Fill(38, 34, 40, 35, kCeramic);
  canvas.Fill(56, 34, 58, 35, kCeramic);

  // Sub-D 25 connector: plate, screw posts, the D and its two pin rows.
  canvas.Fill(2, 31, 17, 105, kMetal);
  canvas.Frame(2, 31, 17, 105, kMetalDark);
  for (double y : {37.0, 99.5}) {
    canvas.Disc(9.5, y, 3.2, kMetalDark);
    canvas.Disc(9.5, y, 1.4, kHole);
  }
  for (int x = 5; x <= 14; ++x) {
    const int slant = (x - 5) * 2 / 9;
    canvas.Fill(x, 43 + slant, x, 96 - slant, kHole);
  }
  for (int i = 0; i < 13; ++i)
    canvas.Fill(7, 45 + 4 * i, 8, 46 + 4 * i, kCopper);
  for (int i = 0; i < 12; ++i)
    canvas.Fill(11, 47 + 4 * i, 12, 48 + 4 * i, kCopper);

  // The microcontroller (DIP-40) and the RS232 level shifter (DIP-16).
  DrawDip(canvas, 36, 38, 15, 20);
  DrawDip(canvas, 64, 58, 9, 8);
  canvas.Fill(40, 80, 46, 80, kChipMark);
  canvas.Fill(40, 83, 44, 83, kChipMark);

  // Programming and extension headers, the RS232 header.
  DrawPinHeader(canvas, 82, 36, 5, 2);
  DrawPinHeader(canvas, 82, 48, 5, 2);
  canvas.Fill(107, 64, 111, 76, kChip);
  for (int i = 0; i < 4; ++i)
    canvas.Fill(108, 65 + 3 * i, 109, 66 + 3 * i, kCopper);
  Print(canvas, 104, 37, "ISP", kSilk);

  // Regulator (TO-220 lying flat), electrolytic capacitors.
  canvas.Fill(86, 78, 102, 82, kMetal);
  canvas.Disc(94.5, 80.5, 1.3, kHole);
  canvas.Fill(86, 83, 102, 93, kChip);
  for (int x : {89, 94, 99}) canvas.Fill(x, 94, x + 1, 97, kPin);
  for (const auto& [x, y, r] : std::vector<std::tuple<double, double, double>>{
           {110.5, 90.5, 4.6}, {68.5, 90.5, 2.6}, {76.5, 90.5, 2.6}}) {
    canvas.Disc(x, y, r, kCapacitor);
    canvas.Disc(x, y, r * 0.45, kMetalDark);
  }

  // The eight relays, each with its LED above it.
  for (int i = 0; i < 8; ++i) {
    const int c = 11 + 14 * i;
    canvas.Fill(c + 2, 109, c + 4, 111, kLedRed);
    canvas.Fill(c - 6, 114, c + 5, 136, kRelay);
    canvas.Frame(c - 6, 114, c + 5, 136, kRelayEdge);
    canvas.Fill(c - 5, 115, c + 4, 115, kRelayLight);
    canvas.Fill(c - 5, 115, c - 5, 135, kRelayLight);
    canvas.Fill(c - 3, 119, c + 2, 120, kSilk);
    canvas.Fill(c - 3, 124, c + 1, 124, kSilk);
    canvas.Fill(c - 3, 127, c + 2, 127, kSilk);
    canvas.Fill(c - 3, 130, c, 130, kSilk);
  }

  // Output terminals along the bottom edge, two per relay.
  DrawScrewTerminals(canvas, 12, 138, 16, 6, 11, false);

  Print(canvas, 39, 151, "KORVALINEX", kSilk);
  return canvas;
}

Bytes BoardBitmap() {
  const Canvas canvas = DrawBoard();
  const int row_bytes = canvas.width() * 3;  // 360, already a multiple of 4
  const std::uint32_t image_size = row_bytes * canvas.height();
  Bytes out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 54 + image_size);
  Put32(out, 0);
  Put32(out, 54);
  PutInfoHeader(out, canvas.width(), canvas.height(), 24, image_size, 2835);
  for (int y = canvas.height() - 1; y >= 0; --y)  // bottom row first
    for (int x = 0; x < canvas.width(); ++x) {
      const Rgb c = canvas.At(x, y);
      out.push_back(c.b);
      out.push_back(c.g);
      out.push_back(c.r);
    }
  return out;
}

// The click of a relay armature: the contact hits and rings (two bright
// partials over the low thump of the frame), bounces once 3 ms later and dies
// away well before the 680 samples end.
Bytes ClickWave() {
  constexpr int kRate = 22050, kSamples = 680;
  constexpr double kPi = 3.14159265358979323846;
  std::vector<double> wave(kSamples);
  std::uint32_t noise = 0x2F6E2B1u;
  auto strike = [&](int start, double strength) {
    for (int n = start; n < kSamples; ++n) {
      const double t = static_cast<double>(n - start) / kRate;
      noise = noise * 1664525u + 1013904223u;
      const double hiss = (static_cast<double>(noise >> 8) / 8388608.0) - 1.0;
      const double ring = 0.55 * std::sin(2 * kPi * 2350 * t) +
                          0.30 * std::sin(2 * kPi * 4150 * t + 1.1);
      const double thump = 0.45 * std::sin(2 * kPi * 620 * t);
      wave[n] += strength * (std::exp(-t / 0.0026) * ring +
                             std::exp(-t / 0.0009) * 0.6 * hiss +
                             std::exp(-t / 0.0045) * thump);
    }
  };
  strike(0, 1.0);
  strike(68, 0.38);
  double peak = 0;
  for (double v : wave) peak = std::max(peak, std::fabs(v));
  const double scale = 0.78 * 32767 / peak;

  Bytes out;
  PutTag(out, "RIFF");
  Put32(out, 36 + 2 * kSamples);
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  Put32(out, 16);
  Put16(out, 1);  // PCM
  Put16(out, 1);  // mono
  Put32(out, kRate);
  Put32(out, kRate * 2);
  Put16(out, 2);
  Put16(out, 16);
  PutTag(out, "data");
  Put32(out, 2 * kSamples);
  for (int n = 0; n < kSamples; ++n) {
    // A few samples of fade-in so the first one is not a step from zero.
    const double fade = n < 3 ? (n + 1) / 4.0 : 1.0;
    const long s = std::lround(wave[n] * scale * fade);
    Put16(out, static_cast<unsigned>(
                   static_cast<std::uint16_t>(static_cast<std::int16_t>(s))));
  }
  return out;
}

// The icon: a water drop over a small green board, 32 x 32, 256 colours.
Bytes IconFile() {
  constexpr int kSize = 32;
  // Palette: the glyph's colours first, then a 6x6x6 colour cube and a grey
  // ramp so that all 256 entries are defined.
  std::vector<Rgb> palette = {
      {0, 0, 0},      {30, 110, 230}, {12, 52, 150}, {176, 218, 255},
      {0, 130, 60},   {0, 76, 34},    {26, 26, 30},  {198, 198, 206},
      {214, 172, 74}, {30, 86, 198},  {234, 34, 34},
  };
  enum : std::uint8_t {
    kClear = 0,
    kDrop,
    kDropEdge,
    kShine,
    kGreen,
    kGreenEdge,
    kBlack,
    kSilver,
    kGold,
    kBlue,
    kRed
  };
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette.push_back({static_cast<std::uint8_t>(r * 51),
                           static_cast<std::uint8_t>(g * 51),
                           static_cast<std::uint8_t>(b * 51)});
  for (int i = 0; palette.size() < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(8 + i * 8);
    palette.push_back({v, v, v});
  }

  std::uint8_t glyph[kSize][kSize] = {};  // top-down
  auto in_drop = [](int x, int y) {
    const double px = x + 0.5, py = y + 0.5;
    const double cx = 16.0, cy = 13.0, r = 7.5, tip = 1.0;
    const double dx = px - cx, dy = py - cy;
    if (dx * dx + dy * dy <= r * r) return true;
    // The cone from the tip, tangent to the round part.
    const double d = cy - tip;
    const double slope = r / std::sqrt(d * d - r * r);
    const double touch = cy - r * r / d;  // height where cone meets circle
    return py >= tip && py <= touch && std::fabs(dx) <= (py - tip) * slope;
  };
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      if (!in_drop(x, y)) continue;
      const bool edge = !in_drop(x - 1, y) || !in_drop(x + 1, y) ||
                        !in_drop(x, y - 1) || !in_drop(x, y + 1);
      glyph[y][x] = edge ? kDropEdge : kDrop;
    }
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{
           {12, 11}, {12, 12}, {12, 13}, {13, 10}, {13, 14}, {14, 9}})
    glyph[y][x] = kShine;

  auto fill = [&](int x0, int y0, int x1, int y1, std::uint8_t c) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) glyph[y][x] = c;
  };
  fill(1, 22, 30, 31, kGreenEdge);
  fill(2, 23, 29, 30, kGreen);
  for (int x = 10; x <= 20; x += 2) {
    glyph[24][x] = kSilver;
    glyph[29][x] = kSilver;
  }
  fill(9, 25, 21, 28, kBlack);
  fill(23, 24, 27, 28, kBlue);
  fill(3, 28, 4, 29, kRed);
  for (int y = 24; y <= 26; y += 2) fill(3, y, 6, y, kGold);

  const std::uint32_t xor_bytes = kSize * kSize;  // 32 bytes a row
  const std::uint32_t and_bytes = kSize * 4;      // 32 bits a row
  const std::uint32_t image_bytes = 40 + 256 * 4 + xor_bytes + and_bytes;
  Bytes out;
  Put16(out, 0);  // ICONDIR
  Put16(out, 1);  // icon
  Put16(out, 1);  // one image
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(0);  // 256 colours
  out.push_back(0);
  Put16(out, 1);  // planes
  Put16(out, 8);  // bits per pixel
  Put32(out, image_bytes);
  Put32(out, 6 + 16);
  PutInfoHeader(out, kSize, 2 * kSize, 8, xor_bytes + and_bytes, 0);
  for (const Rgb& c : palette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  for (int y = kSize - 1; y >= 0; --y)
    for (int x = 0; x < kSize; ++x) out.push_back(glyph[y][x]);
  for (int y = kSize - 1; y >= 0; --y)
    for (int byte = 0; byte < 4; ++byte) {
      std::uint8_t bits = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (glyph[y][byte * 8 + bit] == kClear) bits |= 0x80 >> bit;
      out.push_back(bits);
    }
  return out;
}

bool WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data.data()),
             static_cast<std::streamsize>(data.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "make-assets: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-assets OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool ok = WriteFile(dir + "/board.bmp", BoardBitmap()) &&
                  WriteFile(dir + "/click.wav", ClickWave()) &&
                  WriteFile(dir + "/korvalinex.ico", IconFile());
  return ok ? 0 : 1;
}
