// Decoding the skin's PNG images, premultiplied alpha, masks and caps.
#include <doctest/doctest.h>

#include <filesystem>

#include "tests/support/TestSupport.h"
#include "ui/archive/ImageDecoder.h"

using namespace SkinUI;
namespace fs = std::filesystem;

namespace {

// A PNG of w x h pixels, all of one RGBA colour, made with zlib (stored
// deflate blocks are enough for a fixture).
std::string MakePng(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b, uint8_t a);

}  // namespace

#include <zlib.h>

namespace {

void Put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  Put32(png, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  png += body;
  Put32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                         static_cast<uInt>(body.size()))));
}

std::string MakePng(uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  Put32(header, w);
  Put32(header, h);
  header += std::string("\x08\x06\x00\x00\x00", 5);
  Chunk(png, "IHDR", header);
  std::string raw;
  for (uint32_t y = 0; y < h && raw.size() < (1u << 20); ++y) {
    raw.push_back('\0');
    for (uint32_t x = 0; x < w; ++x) raw += std::string{char(r), char(g), char(b), char(a)};
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  packed.resize(size);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", "");
  return png;
}

}  // namespace

TEST_CASE("the 24 shipped PNGs decode at their listed sizes") {
  struct {
    const char* name;
    int w, h;
  } images[] = {
      {"banner_normal.png", 8, 8},     {"banner_selected.png", 8, 8}, {"browse-df.png", 90, 32},
      {"browse-ho.png", 90, 32},       {"button_disable.png", 168, 46}, {"button_hover.png", 168, 46},
      {"button_normal.png", 168, 46},  {"button_pressing.png", 168, 46}, {"checked.png", 14, 14},
      {"close-df.png", 20, 20},        {"close-ho.png", 20, 20},      {"default.png", 650, 290},
      {"fold.png", 14, 14},            {"fold_rtl.png", 14, 14},      {"hide-df.png", 90, 32},
      {"hide-ho.png", 90, 32},         {"left_log.png", 108, 32},     {"logo.png", 311, 52},
      {"minzoom-df.png", 20, 20},      {"minzoom-ho.png", 20, 20},    {"progress.png", 254, 99},
      {"progress_rtl.png", 254, 99},   {"unchecked.png", 14, 14},     {"unfold.png", 14, 14},
  };
  const fs::path dir = zvtest::SourceDir() / "resources" / "skin" / "img";
  for (const auto& image : images) {
    CAPTURE(image.name);
    const std::string bytes = zvtest::ReadFile(dir / image.name);
    REQUIRE_FALSE(bytes.empty());
    DecodedImage decoded;
    std::string error;
    REQUIRE(DecodeImage(bytes, decoded, error));
    CHECK(decoded.width == image.w);
    CHECK(decoded.height == image.h);
    CHECK(decoded.pixels.size() == static_cast<std::size_t>(image.w * image.h * 4));
  }
}

TEST_CASE("pixels become premultiplied BGRA; masks make pixels transparent") {
  DecodedImage image;
  std::string error;
  REQUIRE(DecodeImage(MakePng(2, 2, 200, 100, 50, 128), image, error));
  CHECK(image.hasAlpha);
  CHECK(image.pixels[0] == 50 * 128 / 255);
  CHECK(image.pixels[1] == 100 * 128 / 255);
  CHECK(image.pixels[2] == 200 * 128 / 255);
  CHECK(image.pixels[3] == 128);

  REQUIRE(DecodeImage(MakePng(1, 1, 10, 20, 30, 255), image, error));
  CHECK_FALSE(image.hasAlpha);
  CHECK(image.pixels == std::vector<uint8_t>{30, 20, 10, 255});

  ImageDecodeOptions mask;
  mask.useMask = true;
  mask.maskColor = 0xFF0A141E;
  REQUIRE(DecodeImage(MakePng(1, 1, 10, 20, 30, 255), image, error, mask));
  CHECK(image.hasAlpha);
  CHECK(image.pixels == std::vector<uint8_t>{0, 0, 0, 0});
}

TEST_CASE("bad, oversized and non-PNG data is refused") {
  DecodedImage image;
  std::string error;
  CHECK_FALSE(DecodeImage("", image, error));
  CHECK_FALSE(DecodeImage("not an image at all", image, error));
  const std::string png = MakePng(16, 16, 1, 2, 3, 255);
  for (std::size_t cut : {8u, 20u, 33u, 40u}) {
    CHECK_FALSE(DecodeImage(png.substr(0, cut), image, error));
    CHECK(image.pixels.empty());
  }
  // The header alone refuses a huge picture before pixel memory is taken.
  CHECK_FALSE(DecodeImage(MakePng(100000, 2, 0, 0, 0, 255), image, error));
  CHECK(image.pixels.empty());
  CHECK_FALSE(DecodeImage(MakePng(5000, 2, 0, 0, 0, 255), image, error));
  CHECK(error == "image dimensions out of range");
  ImageDecodeOptions small;
  small.maxDimension = 8;
  CHECK_FALSE(DecodeImage(png, image, error, small));
  // A BMP decodes, unless only PNG is accepted.
  std::string bmp = "BM";
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bmp.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(58, 4); put(0, 4); put(54, 4); put(40, 4); put(1, 4); put(1, 4); put(1, 2); put(24, 2);
  put(0, 4); put(4, 4); put(2835, 4); put(2835, 4); put(0, 4); put(0, 4);
  bmp += std::string("\x10\x20\x30\x00", 4);
  CHECK(DecodeImage(bmp, image, error));
  ImageDecodeOptions pngOnly;
  pngOnly.pngOnly = true;
  CHECK_FALSE(DecodeImage(bmp, image, error, pngOnly));
  CHECK(DecodeImage(png, image, error, pngOnly));
}
