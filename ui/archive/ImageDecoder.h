// Decoding skin and banner images (stb_image) into the toolkit's bitmap
// form: top-down rows of 32-bit pixels in blue-green-red-alpha byte order,
// colours premultiplied by alpha for every pixel that is not opaque.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace SkinUI {

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * height * 4 bytes, B G R A
  bool hasAlpha = false;        // some pixel is not opaque or matched the mask
};

struct ImageDecodeOptions {
  int maxDimension = 4096;      // larger widths or heights are refused
  bool pngOnly = false;         // accept nothing but PNG (downloaded banners)
  bool useMask = false;         // pixels of exactly maskColor become transparent
  uint32_t maskColor = 0;       // 0x00RRGGBB; the alpha byte is ignored
};

// True with `image` filled; false (with `error` set) for data that is not an
// image of an accepted kind, is corrupt, or exceeds the dimension cap.
bool DecodeImage(const std::string& bytes, DecodedImage& image, std::string& error,
                 const ImageDecodeOptions& options = ImageDecodeOptions());

// True when the bytes begin with the PNG signature.
bool IsPngData(const std::string& bytes);

}  // namespace SkinUI
