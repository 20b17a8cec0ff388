// PNG encoding and decoding with stb_image_write and stb_image from Debian's
// libstb-dev, in a file of its own: optimising the library's code into ours
// trips the null-dereference warning on code that is not ours, so this one
// file is built without it.
#include <vector>

#include "emulator/render.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace emulator {
namespace {

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(context);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const Image& image) {
  std::vector<std::uint8_t> png;
  stbi_write_png_to_func(AppendBytes, &png, static_cast<int>(image.width),
                         static_cast<int>(image.height), 3, image.rgb.data(),
                         static_cast<int>(image.width * 3));
  return png;
}

bool DecodePng(const std::vector<std::uint8_t>& png, Image* image) {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::uint8_t* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width,
                                               &height, &channels, 3);
  if (pixels == nullptr) {
    return false;
  }
  image->width = static_cast<std::size_t>(width);
  image->height = static_cast<std::size_t>(height);
  image->rgb.assign(pixels, pixels + image->width * image->height * 3);
  stbi_image_free(pixels);
  return true;
}

}  // namespace emulator
