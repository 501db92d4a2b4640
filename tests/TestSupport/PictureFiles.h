// Picture files read back in tests without the writers: a strict reader of 24-bit
// bitmap files, and JPEG files decoded through the JPEG library.
#pragma once

#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport/MapFiles.h"

namespace testsupport {

// A picture as red, green, blue bytes, row 0 the top one.
struct tReadPicture {
  std::string Problem;  // empty when the file is sound
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
  // The pixel at column x, row y from the top, as 0xRRGGBB.
  uint32_t At(int x, int y) const {
    const size_t i = 3 * (static_cast<size_t>(y) * Width + x);
    return uint32_t{Rgb[i]} << 16 | uint32_t{Rgb[i + 1]} << 8 | Rgb[i + 2];
  }
};

// A bitmap file of 24 bits a pixel, uncompressed, with its 14- and 40-byte headers;
// every field and the padding of each row to four bytes are checked. Rows are read
// in the order the header gives: from the bottom for a positive height.
inline tReadPicture ReadBitmapFile(const std::string& path) {
  tReadPicture p;
  const std::string b = ReadFileBytes(path);
  auto u = [&](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v * 256 + static_cast<uint8_t>(b[at + i]);
    return v;
  };
  if (b.size() < 54 || b.compare(0, 2, "BM") != 0) return p.Problem = "no bitmap header", p;
  const auto height = static_cast<int32_t>(u(22, 4));
  p.Width = static_cast<int32_t>(u(18, 4));
  p.Height = height < 0 ? -height : height;
  const size_t rowBytes = (static_cast<size_t>(p.Width) * 3 + 3) / 4 * 4;
  const struct {
    const char* Field;
    uint32_t Found, Expected;
  } fields[] = {{"file size", u(2, 4), static_cast<uint32_t>(b.size())},
                {"reserved", u(6, 4), 0},
                {"pixel offset", u(10, 4), 54},
                {"information header size", u(14, 4), 40},
                {"planes", u(26, 2), 1},
                {"bits per pixel", u(28, 2), 24},
                {"compression", u(30, 4), 0},
                {"image size", u(34, 4), static_cast<uint32_t>(rowBytes * p.Height)},
                {"colours used", u(46, 4), 0}};
  for (const auto& f : fields)
    if (f.Found != f.Expected)
      return p.Problem =
                 std::string(f.Field) + " " + std::to_string(f.Found) + " for " + std::to_string(f.Expected),
             p;
  if (b.size() != 54 + rowBytes * p.Height) return p.Problem = "pixels of the wrong size", p;
  p.Rgb.resize(static_cast<size_t>(p.Width) * p.Height * 3);
  for (int line = 0; line < p.Height; ++line) {
    const size_t at = 54 + rowBytes * line;
    const int y = height > 0 ? p.Height - 1 - line : line;
    for (int x = 0; x < p.Width; ++x)
      for (int k = 0; k < 3; ++k)  // stored blue, green, red
        p.Rgb[3 * (static_cast<size_t>(y) * p.Width + x) + k] = static_cast<uint8_t>(b[at + 3 * x + 2 - k]);
    for (size_t pad = static_cast<size_t>(p.Width) * 3; pad < rowBytes; ++pad)
      if (b[at + pad] != 0) return p.Problem = "padding not zero", p;
  }
  return p;
}

// A JPEG file decoded through the library, with what its header says.
struct tDecodedJpeg : tReadPicture {
  bool Progressive = false;
  bool QuantisationAllOne = true;  // every value of every table 1 (quality 100)
};

// False when the library reports an error.
inline bool DecodeJpeg(const std::string& path, tDecodedJpeg& out) {
  struct tError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
  } error;
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<tError*>(c->err)->Jump, 1); };
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  if (setjmp(error.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  for (auto* table : cinfo.quant_tbl_ptrs)
    if (table)
      for (auto q : table->quantval) out.QuantisationAllOne &= q == 1;
  cinfo.out_color_space = JCS_RGB;
  // Chroma sample by sample: smooth upsampling would blend neighbouring blocks.
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  out.Progressive = cinfo.progressive_mode;
  out.Width = static_cast<int>(cinfo.output_width);
  out.Height = static_cast<int>(cinfo.output_height);
  out.Rgb.resize(size_t{cinfo.output_width} * cinfo.output_height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.Rgb.data() + size_t{cinfo.output_scanline} * cinfo.output_width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return true;
}

}  // namespace testsupport
