// Makes the wizard's menu icon from its page picture: the top square of
// PG1U.bmp (the "V" on the night sky) resampled to 48 x 48 and 128 x 128 and
// written as PNG files (RGB, stored deflate blocks, so no zlib is needed).
// Usage: make_icons PG1U.BMP OUTPUT-FOLDER
// Writes joinwiz-48.png and joinwiz-128.png; packaging/icons/ holds the
// files it made, and a test checks they still match.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // top row first
};

std::uint32_t le32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | std::uint32_t(d[at + 3]) << 24;
}

// Reads an uncompressed 4-bit bottom-up BMP, the form make_bitmaps writes.
bool read_bmp4(const std::string& path, Image& out, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> d((std::istreambuf_iterator<char>(in)), {});
  if (d.size() < 54 + 64 || d[0] != 'B' || d[1] != 'M') return why = "not a BMP file", false;
  const std::uint32_t offset = le32(d, 10);
  const auto width = static_cast<std::int32_t>(le32(d, 18));
  const auto height = static_cast<std::int32_t>(le32(d, 22));
  const unsigned bits = d[28] | d[29] << 8;
  if (bits != 4 || le32(d, 30) != 0 || width <= 0 || height <= 0 || width > 4096 || height > 4096)
    return why = "not an uncompressed 4-bit bottom-up BMP", false;
  const std::size_t stride = (std::size_t(width) * 4 + 31) / 32 * 4;
  if (offset + stride * height > d.size()) return why = "BMP file is cut short", false;
  out.width = width;
  out.height = height;
  out.rgb.assign(std::size_t(width) * height * 3, 0);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = &d[offset + stride * (height - 1 - y)];
    for (int x = 0; x < width; ++x) {
      const unsigned index = (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 15;
      const std::uint8_t* quad = &d[54 + 4 * index];  // blue, green, red, reserved
      std::uint8_t* px = &out.rgb[(std::size_t(y) * width + x) * 3];
      px[0] = quad[2];
      px[1] = quad[1];
      px[2] = quad[0];
    }
  }
  return true;
}

// Area-weighted resampling of the square at (x0, y0) with side `side` to
// `size` x `size`: each target pixel averages the source area it covers.
Image resample(const Image& src, int x0, int y0, int side, int size) {
  Image out;
  out.width = out.height = size;
  out.rgb.assign(std::size_t(size) * size * 3, 0);
  const double scale = double(side) / size;
  for (int ty = 0; ty < size; ++ty) {
    for (int tx = 0; tx < size; ++tx) {
      double sum[3] = {0, 0, 0}, weight = 0;
      const double ax = tx * scale, bx = ax + scale, ay = ty * scale, by = ay + scale;
      for (int sy = int(ay); sy < by && sy < side; ++sy) {
        const double wy = std::min(by, sy + 1.0) - std::max(ay, double(sy));
        for (int sx = int(ax); sx < bx && sx < side; ++sx) {
          const double w = wy * (std::min(bx, sx + 1.0) - std::max(ax, double(sx)));
          const std::uint8_t* px = &src.rgb[(std::size_t(y0 + sy) * src.width + x0 + sx) * 3];
          for (int c = 0; c < 3; ++c) sum[c] += w * px[c];
          weight += w;
        }
      }
      // Magnifying, a target pixel may fall inside one source pixel: plain copy.
      for (int c = 0; c < 3; ++c)
        out.rgb[(std::size_t(ty) * size + tx) * 3 + c] = static_cast<std::uint8_t>(sum[c] / weight + 0.5);
    }
  }
  return out;
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void put_be32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(std::uint8_t(v >> s));
}

void chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
  put_be32(png, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  put_be32(png, crc32(body.data(), body.size()));
}

std::vector<std::uint8_t> encode_png(const Image& img) {
  std::vector<std::uint8_t> raw;  // each row: filter type 0, then the pixels
  for (int y = 0; y < img.height; ++y) {
    raw.push_back(0);
    const auto* row = &img.rgb[std::size_t(y) * img.width * 3];
    raw.insert(raw.end(), row, row + std::size_t(img.width) * 3);
  }
  std::vector<std::uint8_t> z = {0x78, 0x01};  // zlib header, no compression
  for (std::size_t at = 0; at < raw.size() || at == 0;) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(std::uint8_t(n));
    z.push_back(std::uint8_t(n >> 8));
    z.push_back(std::uint8_t(~n));
    z.push_back(std::uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    at += n;
    if (n == 0) break;
  }
  std::uint32_t a = 1, b = 0;  // Adler-32 of the raw data
  for (std::uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put_be32(z, b << 16 | a);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> ihdr;
  put_be32(ihdr, img.width);
  put_be32(ihdr, img.height);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  chunk(png, "IHDR", ihdr);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_icons PG1U.BMP OUTPUT-FOLDER\n");
    return 2;
  }
  Image page;
  std::string why;
  if (!read_bmp4(argv[1], page, why)) {
    std::fprintf(stderr, "make_icons: %s: %s\n", argv[1], why.c_str());
    return 1;
  }
  // The top square of the picture holds the "V"; start a few rows down so
  // it sits in the middle of the icon.
  const int side = std::min(page.width, page.height);
  const int top = std::min(8, page.height - side);
  for (int size : {48, 128}) {
    const std::string path = std::string(argv[2]) + "/joinwiz-" + std::to_string(size) + ".png";
    const auto png = encode_png(resample(page, 0, top, side, size));
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "make_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
