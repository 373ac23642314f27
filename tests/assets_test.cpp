// The picture, click and icon that the program carries inside its image, as
// committed under assets/, and the generator that makes them.

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
std::uint32_t U32(const Bytes& b, std::size_t at) {
  return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}
std::string Tag(const Bytes& b, std::size_t at, std::size_t n = 4) {
  return std::string(b.begin() + at, b.begin() + at + n);
}

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

TEST(BoardPicture, HeaderAndSize) {
  const Bytes bmp = Asset("board.bmp");
  ASSERT_EQ(bmp.size(), 57654u);
  EXPECT_EQ(Tag(bmp, 0, 2), "BM");
  EXPECT_EQ(U32(bmp, 2), 57654u);  // file size
  EXPECT_EQ(U32(bmp, 6), 0u);      // reserved
  EXPECT_EQ(U32(bmp, 10), 54u);    // pixels follow the two headers
  EXPECT_EQ(U32(bmp, 14), 40u);    // BITMAPINFOHEADER
  EXPECT_EQ(U32(bmp, 18), 120u);
  EXPECT_EQ(U32(bmp, 22), 160u);  // positive: bottom-up rows
  EXPECT_EQ(U16(bmp, 26), 1u);
  EXPECT_EQ(U16(bmp, 28), 24u);
  EXPECT_EQ(U32(bmp, 30), 0u);  // uncompressed
  EXPECT_EQ(U32(bmp, 34), 57600u);
  EXPECT_EQ(U32(bmp, 38), 2835u);
  EXPECT_EQ(U32(bmp, 42), 2835u);
  EXPECT_EQ(U32(bmp, 46), 0u);
  EXPECT_EQ(U32(bmp, 50), 0u);
}

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

TEST(ClickSound, HeaderAndSize) {
  const Bytes wav = Asset("click.wav");
  ASSERT_EQ(wav.size(), 1404u);
  EXPECT_EQ(Tag(wav, 0), "RIFF");
  EXPECT_EQ(U32(wav, 4), 1396u);
  EXPECT_EQ(Tag(wav, 8), "WAVE");
  EXPECT_EQ(Tag(wav, 12), "fmt ");
  EXPECT_EQ(U32(wav, 16), 16u);
  EXPECT_EQ(U16(wav, 20), 1u);  // PCM
  EXPECT_EQ(U16(wav, 22), 1u);  // mono
  EXPECT_EQ(U32(wav, 24), 22050u);
  EXPECT_EQ(U32(wav, 28), 44100u);  // bytes per second
  EXPECT_EQ(U16(wav, 32), 2u);      // block align
  EXPECT_EQ(U16(wav, 34), 16u);
  EXPECT_EQ(Tag(wav, 36), "data");
  EXPECT_EQ(U32(wav, 40), 1360u);
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

TEST(ProgramIcon, OneImage32x32With256Colours) {
  const Bytes ico = Asset("korvalinex.ico");
  const std::uint32_t image = 40 + 256 * 4 + 32 * 32 + 32 * 4;
  ASSERT_EQ(ico.size(), 22 + image);
  EXPECT_EQ(U16(ico, 0), 0u);
  EXPECT_EQ(U16(ico, 2), 1u);  // icon, not cursor
  EXPECT_EQ(U16(ico, 4), 1u);  // one image
  EXPECT_EQ(ico[6], 32u);
  EXPECT_EQ(ico[7], 32u);
  EXPECT_EQ(ico[8], 0u);  // 256 colours
  EXPECT_EQ(ico[9], 0u);
  EXPECT_EQ(U16(ico, 10), 1u);
  EXPECT_EQ(U16(ico, 12), 8u);
  EXPECT_EQ(U32(ico, 14), image);
  EXPECT_EQ(U32(ico, 18), 22u);
  EXPECT_EQ(U32(ico, 22), 40u);
  EXPECT_EQ(U32(ico, 26), 32u);
  EXPECT_EQ(U32(ico, 30), 64u);  // XOR bitmap and AND mask together
  EXPECT_EQ(U16(ico, 34), 1u);
  EXPECT_EQ(U16(ico, 36), 8u);
  EXPECT_EQ(U32(ico, 38), 0u);
  EXPECT_EQ(U32(ico, 42), 32u * 32 + 32 * 4);
  EXPECT_TRUE(U32(ico, 54) == 0 || U32(ico, 54) == 256);
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
