// The picture, click and icon that the program carries inside its image, as
// committed under assets/, and the generator that makes them. Their
// headers are in tests/golden/assets.txt.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

Bytes Asset(const char* name) {
  return ReadBytes(std::string(KVX_SOURCE_DIR) + "/assets/" + name);
}

unsigned U16(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8; }

// A fresh directory under the system's temporary directory, removed again.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kvx-assets-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A drawing of the board: large flat areas of a few colours (the green PCB
// the most common), neither one colour nor noise, and upright: the blue
// relays are in the lower half of the picture.
TEST(BoardPicture, IsAnUprightDrawingOfTheBoard) {
  const Bytes bmp = Asset("board.bmp");
  ASSERT_EQ(bmp.size(), 57654u);
  auto pixel = [&](int x, int y) {  // y counted from the top
    const std::size_t at = 54 + (159 - y) * 360 + x * 3;
    return static_cast<std::uint32_t>(bmp[at + 2] << 16 | bmp[at + 1] << 8 |
                                      bmp[at]);
  };
  std::map<std::uint32_t, int> counts;
  int same_as_left = 0, blue_top = 0, blue_bottom = 0;
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 120; ++x) {
      const std::uint32_t c = pixel(x, y);
      ++counts[c];
      if (x > 0 && pixel(x - 1, y) == c) ++same_as_left;
      const int r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
      if (b > r + 80 && b > g + 60) ++(y < 80 ? blue_top : blue_bottom);
    }
  std::vector<std::pair<int, std::uint32_t>> by_count;
  for (const auto& [c, n] : counts) by_count.push_back({n, c});
  std::sort(by_count.rbegin(), by_count.rend());

  ASSERT_GE(by_count.size(), 10u);
  EXPECT_LE(by_count.size(), 64u);
  int top8 = 0;
  for (int i = 0; i < 8; ++i) top8 += by_count[i].first;
  EXPECT_GT(top8, 19200 * 8 / 10);
  EXPECT_GT(same_as_left, 19200 * 7 / 10);

  const std::uint32_t pcb = by_count[0].second;
  EXPECT_GT(by_count[0].first, 19200 / 3);
  EXPECT_GT(((pcb >> 8) & 0xFF), (pcb >> 16) + 40);
  EXPECT_GT(((pcb >> 8) & 0xFF), (pcb & 0xFF) + 20);

  EXPECT_GT(blue_bottom, 1000);
  EXPECT_GT(blue_bottom, 10 * blue_top);
}

// Loud at the start, not clipped, and faded out by the end.
TEST(ClickSound, IsADecayingBurst) {
  const Bytes wav = Asset("click.wav");
  ASSERT_EQ(wav.size(), 1404u);
  std::vector<int> s;
  for (std::size_t at = 44; at < wav.size(); at += 2)
    s.push_back(static_cast<std::int16_t>(U16(wav, at)));
  ASSERT_EQ(s.size(), 680u);
  auto energy = [&](std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
    return sum / double(to - from);
  };
  int peak = 0;
  for (int v : s) peak = std::max(peak, std::abs(v));
  EXPECT_GT(peak, 8000);
  EXPECT_LT(peak, 32000);
  EXPECT_GT(energy(0, 100), 1000.0 * 1000.0);
  EXPECT_GT(energy(0, 100), 100 * energy(580, 680));
}

// A glyph of several colours on a transparent ground; transparent pixels
// carry colour 0 so that nothing is XORed onto the desktop.
TEST(ProgramIcon, HasAGlyphOnATransparentGround) {
  const Bytes ico = Asset("korvalinex.ico");
  ASSERT_EQ(ico.size(), 2238u);
  const std::size_t xor_at = 22 + 40 + 1024, and_at = xor_at + 1024;
  int opaque = 0, stray = 0;
  std::map<int, int> colours;
  for (int row = 0; row < 32; ++row)
    for (int x = 0; x < 32; ++x) {
      const int index = ico[xor_at + row * 32 + x];
      const bool clear = ico[and_at + row * 4 + x / 8] & (0x80 >> (x % 8));
      if (clear) {
        stray += index != 0;
      } else {
        ++opaque;
        ++colours[index];
      }
    }
  EXPECT_EQ(stray, 0);
  EXPECT_GT(opaque, 1024 / 4);
  EXPECT_LT(opaque, 1024 * 9 / 10);
  EXPECT_GE(colours.size(), 5u);
}

TEST(AssetGenerator, ReproducesTheCommittedFiles) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string command =
      std::string("\"") + KVX_MAKE_ASSETS + "\" \"" + dir.path() + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const char* name : {"board.bmp", "click.wav", "korvalinex.ico"}) {
    SCOPED_TRACE(name);
    const Bytes made = ReadBytes(dir.path() + "/" + name);
    EXPECT_FALSE(made.empty());
    EXPECT_TRUE(made == Asset(name));
  }
}

// The Windows build compiles the icon as resource 1; the resource compiler
// must take it. Skipped where the cross tools are not installed.
TEST(ProgramIcon, ResourceCompilerAcceptsIt) {
  const char* windres = "i686-w64-mingw32-windres";
  if (std::system((std::string("command -v ") + windres + " >/dev/null 2>&1")
                      .c_str()) != 0) {
    GTEST_SKIP() << windres << " not installed";
  }
  TempDir dir;
  {
    std::ofstream rc(dir.path() + "/icon.rc");
    rc << "1 ICON \"" << KVX_SOURCE_DIR << "/assets/korvalinex.ico\"\n";
  }
  const std::string command = std::string(windres) + " \"" + dir.path() +
                              "/icon.rc\" -O coff -o \"" + dir.path() +
                              "/icon.o\"";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
