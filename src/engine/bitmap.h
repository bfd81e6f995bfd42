#pragma once

#include <cstdint>
#include <vector>

namespace zept {

// 32-bit pixels, 0xAARRGGBB, rows top to bottom.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

}  // namespace zept
