// PNG encoding with stb_image_write from Debian's libstb-dev, in a file of its
// own: optimising the library's code into ours trips the null-dereference
// warning on code that is not ours, so this one file is built without it.
#include <vector>

#include "emulator/render.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

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

}  // namespace emulator
