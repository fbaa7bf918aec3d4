#include "ui/archive/ImageDecoder.h"

#include <climits>
#include <cstring>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS 16384
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace SkinUI {

bool IsPngData(const std::string& bytes) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

bool DecodeImage(const std::string& bytes, DecodedImage& image, std::string& error,
                 const ImageDecodeOptions& options) {
  image = DecodedImage();
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) {
    error = "no image data";
    return false;
  }
  if (options.pngOnly && !IsPngData(bytes)) {
    error = "not a PNG image";
    return false;
  }
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int length = static_cast<int>(bytes.size());
  int width = 0, height = 0, channels = 0;
  // The header alone decides the size, before any pixel memory is taken.
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) {
    error = std::string("not a decodable image: ") + stbi_failure_reason();
    return false;
  }
  if (width <= 0 || height <= 0 || width > options.maxDimension ||
      height > options.maxDimension) {
    error = "image dimensions out of range";
    return false;
  }
  stbi_uc* rgba = stbi_load_from_memory(data, length, &width, &height, &channels, 4);
  if (!rgba) {
    error = std::string("image decoding failed: ") + stbi_failure_reason();
    return false;
  }
  if (width > options.maxDimension || height > options.maxDimension) {
    stbi_image_free(rgba);
    error = "image dimensions out of range";
    return false;
  }
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  image.width = width;
  image.height = height;
  image.pixels.resize(count * 4);
  const uint32_t mask = options.maskColor & 0x00FFFFFFu;
  for (std::size_t i = 0; i < count; ++i) {
    const stbi_uc* in = rgba + i * 4;
    uint8_t* out = image.pixels.data() + i * 4;
    unsigned r = in[0], g = in[1], b = in[2], a = in[3];
    if (options.useMask && ((r << 16) | (g << 8) | b) == mask) {
      r = g = b = a = 0;
      image.hasAlpha = true;
    }
    if (a != 255) {
      image.hasAlpha = true;
      r = r * a / 255;
      g = g * a / 255;
      b = b * a / 255;
    }
    out[0] = static_cast<uint8_t>(b);
    out[1] = static_cast<uint8_t>(g);
    out[2] = static_cast<uint8_t>(r);
    out[3] = static_cast<uint8_t>(a);
  }
  stbi_image_free(rgba);
  return true;
}

}  // namespace SkinUI
