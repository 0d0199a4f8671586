// Draws the wizard's page pictures and writes them as 16-colour BMP files:
//   PG1U.bmp                 111 x 390, the picture on the left of every page
//   GRAYLINE{U,D,F,X}.bmp    397 x 8, the separator above the button row; its
//                            background is olive, the see-through colour
// Usage: make_bitmaps OUTPUT-FOLDER
// The files in data/ were made by this program; a test checks they still match.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

// The 16 colours of the Windows VGA palette, in their usual order.
const Rgb kPalette[16] = {
    {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},    {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

enum Colour : std::uint8_t {
  Black = 0, Maroon, Green, Olive, Navy, Purple, Teal, Silver,
  Grey, Red, Lime, Yellow, Blue, Fuchsia, Aqua, White
};

struct Picture {
  int width, height;
  std::vector<std::uint8_t> px;  // palette index per pixel, top row first
  Picture(int w, int h, std::uint8_t fill) : width(w), height(h), px(std::size_t(w) * h, fill) {}
  void set(int x, int y, std::uint8_t c) {
    if (x >= 0 && y >= 0 && x < width && y < height) px[std::size_t(y) * width + x] = c;
  }
};

void put_u16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(v & 0xff);
  out.push_back((v >> 8) & 0xff);
}
void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xff);
}

// 4 bits per pixel, bottom row first, rows padded to 4 bytes.
std::vector<std::uint8_t> encode_bmp4(const Picture& p) {
  const std::uint32_t row = ((p.width * 4 + 31) / 32) * 4;
  const std::uint32_t image = row * p.height;
  const std::uint32_t offset = 14 + 40 + 16 * 4;
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  put_u32(out, offset + image);
  put_u32(out, 0);
  put_u32(out, offset);
  put_u32(out, 40);
  put_u32(out, p.width);
  put_u32(out, p.height);
  put_u16(out, 1);
  put_u16(out, 4);
  put_u32(out, 0);  // no compression
  put_u32(out, image);
  put_u32(out, 2835);  // 72 dpi
  put_u32(out, 2835);
  put_u32(out, 16);
  put_u32(out, 16);
  for (const Rgb& c : kPalette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  for (int y = p.height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> line(row, 0);
    for (int x = 0; x < p.width; ++x) {
      std::uint8_t v = p.px[std::size_t(y) * p.width + x] & 0x0f;
      line[x / 2] |= (x % 2 == 0) ? std::uint8_t(v << 4) : v;
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  return out;
}

Picture page_picture() {
  Picture p(111, 390, Navy);
  // Sky: navy at the top turning blue, ordered-dithered between the two.
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < p.width; ++x) {
      int level = y * 16 / 300;
      int threshold = ((x & 3) * 4 + (y & 3)) ^ 5;
      p.set(x, y, level > (threshold & 15) ? Blue : Navy);
    }
  }
  // Stars high up.
  for (int i = 0; i < 40; ++i) p.set((i * 37 + 11) % 111, (i * 53 + 7) % 140, i % 3 ? Silver : White);
  // A yellow sun with an olive rim.
  for (int y = 0; y < 390; ++y) {
    for (int x = 0; x < 111; ++x) {
      int dx = x - 74, dy = y - 190;
      int d2 = dx * dx + dy * dy;
      if (d2 <= 18 * 18) p.set(x, y, Yellow);
      else if (d2 <= 20 * 20) p.set(x, y, Olive);
    }
  }
  // Rolling green hills with a lime crest.
  for (int x = 0; x < 111; ++x) {
    int top = 300 + int(14 * std::sin(x / 17.0)) - 8;
    for (int y = top; y < 390; ++y) p.set(x, y, (y - top) < 2 ? Lime : Green);
  }
  // A telephone pole with its wires: the dial-up line.
  for (int y = 200; y < 330; ++y) {
    p.set(30, y, Maroon);
    p.set(31, y, Maroon);
    p.set(32, y, Black);
  }
  for (int x = 20; x < 44; ++x) p.set(x, 210, Maroon);
  for (int x = 0; x < 111; ++x) {
    int sag = int(0.004 * (x - 31) * (x - 31));
    p.set(x, 208 + sag, Black);
  }
  // A white "V" for Veloran, with a grey shadow.
  for (int y = 40; y < 110; ++y) {
    int half = (110 - y) * 22 / 70;
    for (int w = 0; w < 6; ++w) {
      p.set(55 - half - w + 2, y + 2, Grey);
      p.set(55 + half + w + 2, y + 2, Grey);
    }
    for (int w = 0; w < 6; ++w) {
      p.set(55 - half - w, y, White);
      p.set(55 + half + w, y, White);
    }
  }
  // A teal frame line on the right edge, where the page text begins.
  for (int y = 0; y < 390; ++y) p.set(110, y, Teal);
  return p;
}

// An etched line: dark grey over white, on the olive see-through colour.
Picture grayline(std::uint8_t upper, std::uint8_t lower) {
  Picture p(397, 8, Olive);
  for (int x = 0; x < 397; ++x) {
    p.set(x, 3, upper);
    p.set(x, 4, lower);
  }
  return p;
}

bool write(const std::string& dir, const std::string& name, const Picture& p) {
  std::vector<std::uint8_t> bytes = encode_bmp4(p);
  std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!f) {
    std::fprintf(stderr, "make_bitmaps: cannot write %s/%s\n", dir.c_str(), name.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_bitmaps OUTPUT-FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = write(dir, "PG1U.bmp", page_picture());
  ok = write(dir, "GRAYLINEU.bmp", grayline(Grey, White)) && ok;
  ok = write(dir, "GRAYLINED.bmp", grayline(Black, White)) && ok;
  ok = write(dir, "GRAYLINEF.bmp", grayline(Grey, White)) && ok;
  ok = write(dir, "GRAYLINEX.bmp", grayline(Grey, Silver)) && ok;
  return ok ? 0 : 1;
}
