#include "Utile/MapExports.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

#include <jpeglib.h>

// After the library header, which it needs.
#include <jerror.h>

#include "Utile/MapFileOps.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace utile {

namespace {

// ---------------------------------------------------------------- the output file

// An export under a temporary name beside its target, buffered, renamed over the
// target by Commit; without Commit the temporary file is removed.
class tExportFile {
public:
  explicit tExportFile(const std::string& fileName) : fFileName(fileName) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000 && fHandle < 0; ++attempt) {
      fTempName = Format("%s.~%d-%d.tmp", fileName, static_cast<Integer>(::getpid()), ++counter);
      fHandle = CreateNewFile(fTempName, fileName);
    }
    if (fHandle < 0) throw EInOutError(Format("Cannot create file \"%s\": %s", fileName, SystemReason(errno)));
    fBuffer.reset(new char[BufferBytes]);
  }
  ~tExportFile() {
    if (fHandle >= 0) ::close(fHandle);
    if (!fCommitted) std::remove(fTempName.c_str());
  }
  tExportFile(const tExportFile&) = delete;
  tExportFile& operator=(const tExportFile&) = delete;

  // Room for at least `bytes` more bytes (at most BufferBytes) at the end of the
  // buffer, to be taken with Advance.
  char* Reserve(size_t bytes) {
    if (fUsed + bytes > BufferBytes) Flush();
    return fBuffer.get() + fUsed;
  }
  void Advance(size_t bytes) { fUsed += bytes; }

  void Write(const void* data, size_t bytes) {
    const char* from = static_cast<const char*>(data);
    while (bytes > 0) {
      if (fUsed == BufferBytes) Flush();
      const size_t n = std::min(bytes, BufferBytes - fUsed);
      std::memcpy(fBuffer.get() + fUsed, from, n);
      fUsed += n;
      from += n;
      bytes -= n;
    }
  }
  void Write(const std::string& text) { Write(text.data(), text.size()); }

  // Writes straight to the file, past the buffer.
  void WriteThrough(const void* data, size_t bytes) {
    Flush();
    WriteAll(static_cast<const char*>(data), bytes);
  }

  void Commit() {
    Flush();
    const int handle = fHandle;
    fHandle = -1;
    if (::close(handle) != 0) Fail(errno);
    if (std::rename(fTempName.c_str(), fFileName.c_str()) != 0)
      throw EInOutError(Format("Cannot replace file \"%s\": %s", fFileName, SystemReason(errno)));
    fCommitted = true;
  }

  static constexpr size_t BufferBytes = 1 << 20;
  // The system's error of the write that failed.
  int Error() const { return fError; }

private:
  void Flush() {
    WriteAll(fBuffer.get(), fUsed);
    fUsed = 0;
  }

  void WriteAll(const char* data, size_t bytes) {
    while (bytes > 0) {
      const ssize_t n = ::write(fHandle, data, bytes);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
      data += n;
      bytes -= static_cast<size_t>(n);
    }
  }

  [[noreturn]] void Fail(int error) {
    fError = error;
    throw EInOutError(Format("Error writing file \"%s\": %s", fFileName, SystemReason(error)));
  }

  std::string fFileName;
  std::string fTempName;
  int fHandle = -1;
  bool fCommitted = false;
  std::unique_ptr<char[]> fBuffer;
  size_t fUsed = 0;
  int fError = 0;
};

// ---------------------------------------------------------------- cells as text

// Hands the cells of the map to cell(value) and, after the last cell of each row,
// to rowEnd(), a block at a time.
template <class tCell, class tRowEnd>
void ForEachRowCell(const tRaster& map, tCell&& cell, tRowEnd&& rowEnd) {
  TIdrisiFile F;
  map.OpenR(F);
  const auto columns = static_cast<Cardinal>(map.Columns);
  Cardinal column = 0;
  ForEachBlock(F, [&](const Single* cells, Cardinal count) {
    for (Cardinal k = 0; k < count; ++k) {
      cell(cells[k]);
      if (++column == columns) {
        column = 0;
        rowEnd();
      }
    }
  });
  CloseRaster(F);
}

// Cells in the default real form with what follows each: a TAB between the cells
// of a text matrix file, two blanks after every cell of an ASCII grid.
void WriteCellLines(const tRaster& map, tExportFile& file, bool grid) {
  constexpr size_t Room = 32;
  bool first = true;
  ForEachRowCell(
      map,
      [&](Single value) {
        char* out = file.Reserve(Room);
        char* p = out;
        if (!grid && !first) *p++ = '\t';
        p = SingleToDefaultChars(value, p);
        if (grid) {
          *p++ = ' ';
          *p++ = ' ';
        }
        first = false;
        file.Advance(static_cast<size_t>(p - out));
      },
      [&] {
        char* out = file.Reserve(2);
        out[0] = '\r';
        out[1] = '\n';
        file.Advance(2);
        first = true;
      });
}

// ---------------------------------------------------------------- JPEG

struct tJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

struct tJpegTarget {
  jpeg_destination_mgr Manager;
  tExportFile* File;
  int Error;  // the system's error of a failed write
  JOCTET Buffer[1 << 16];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<tJpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, error->Message);
  std::longjmp(error->Jump, 1);
}

// The library's warnings are not shown: a window reports failures, nothing else.
extern "C" void JpegOutputMessage(j_common_ptr) {}

extern "C" void JpegInitDestination(j_compress_ptr cinfo) {
  auto* target = reinterpret_cast<tJpegTarget*>(cinfo->dest);
  target->Manager.next_output_byte = target->Buffer;
  target->Manager.free_in_buffer = sizeof target->Buffer;
}

// Writes `bytes` of the buffer; false (with the system's error kept) on failure.
bool JpegWrite(tJpegTarget* target, size_t bytes) {
  try {
    target->File->WriteThrough(target->Buffer, bytes);
    return true;
  } catch (const EInOutError&) {
    target->Error = target->File->Error() != 0 ? target->File->Error() : EIO;
    return false;
  }
}

extern "C" boolean JpegEmptyBuffer(j_compress_ptr cinfo) {
  auto* target = reinterpret_cast<tJpegTarget*>(cinfo->dest);
  if (!JpegWrite(target, sizeof target->Buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
  JpegInitDestination(cinfo);
  return TRUE;
}

extern "C" void JpegTermDestination(j_compress_ptr cinfo) {
  auto* target = reinterpret_cast<tJpegTarget*>(cinfo->dest);
  const size_t bytes = sizeof target->Buffer - target->Manager.free_in_buffer;
  if (bytes > 0 && !JpegWrite(target, bytes)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// The whole compression, free of objects with destructors, since the library's
// errors leave it through a long jump. False after an error, whose text is then in
// error->Message.
bool Compress(jpeg_compress_struct* cinfo, tJpegError* error, tJpegTarget* target, const tPixelBuffer* picture,
              int quality, bool progressive) {
  cinfo->err = jpeg_std_error(&error->Manager);
  error->Manager.error_exit = JpegErrorExit;
  error->Manager.output_message = JpegOutputMessage;
  if (setjmp(error->Jump)) {
    jpeg_destroy_compress(cinfo);
    return false;
  }
  jpeg_create_compress(cinfo);
  target->Manager.init_destination = JpegInitDestination;
  target->Manager.empty_output_buffer = JpegEmptyBuffer;
  target->Manager.term_destination = JpegTermDestination;
  cinfo->dest = &target->Manager;
  cinfo->image_width = static_cast<JDIMENSION>(picture->Width);
  cinfo->image_height = static_cast<JDIMENSION>(picture->Height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(cinfo);
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(picture->Pixels + cinfo->next_scanline * picture->BytesPerLine);
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return true;
}

void CheckPicture(const tPixelBuffer& picture, const std::string& fileName) {
  if (picture.Width < 0 || picture.Height < 0 ||
      (picture.Width > 0 && picture.Height > 0 &&
       (picture.Pixels == nullptr || picture.BytesPerLine < static_cast<size_t>(picture.Width) * 3)))
    throw EInvalidOperation(Format("No picture of %d x %d pixels to save as \"%s\"", picture.Width, picture.Height,
                                   fileName));
}

void PutLittleEndian(Byte* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<Byte>((value >> (8 * i)) & 0xFF);
}

}  // namespace

// ---------------------------------------------------------------- names

const char* ExportExtension(tExportFormat Format) {
  static const char* const Extensions[] = {".bmp", ".jpg", ".txt", ".bin", ".asc"};
  return Extensions[Format];
}

std::string ExportFileName(const tRaster& Map, tExportFormat Format) { return Map.FileName + ExportExtension(Format); }

double ExportBackground(const tRaster& Map) {
  return Map.BackGround == bsChecked ? static_cast<double>(Map.BackGroundValue) : NoBackgroundValue;
}

// ---------------------------------------------------------------- pictures

void SaveBitmapFile(const std::string& FileName, const tPixelBuffer& Picture) {
  CheckPicture(Picture, FileName);
  const uint64_t rowBytes = (static_cast<uint64_t>(Picture.Width) * 3 + 3) / 4 * 4;
  const uint64_t imageBytes = rowBytes * static_cast<uint64_t>(Picture.Height);
  constexpr uint64_t HeaderBytes = 14 + 40;
  if (HeaderBytes + imageBytes > 0xFFFFFFFFull)
    throw EInOutError(Format("The picture of %d x %d pixels is too large for a bitmap file (at most 4 GB): \"%s\"",
                             Picture.Width, Picture.Height, FileName));
  Byte header[HeaderBytes] = {};
  header[0] = 'B';
  header[1] = 'M';
  PutLittleEndian(header + 2, static_cast<uint32_t>(HeaderBytes + imageBytes), 4);
  PutLittleEndian(header + 10, static_cast<uint32_t>(HeaderBytes), 4);  // offset of the pixels
  PutLittleEndian(header + 14, 40, 4);                                 // size of the information header
  PutLittleEndian(header + 18, static_cast<uint32_t>(Picture.Width), 4);
  PutLittleEndian(header + 22, static_cast<uint32_t>(Picture.Height), 4);  // positive: bottom row first
  PutLittleEndian(header + 26, 1, 2);                                      // planes
  PutLittleEndian(header + 28, 24, 2);                                     // bits per pixel
  PutLittleEndian(header + 30, 0, 4);                                      // no compression
  PutLittleEndian(header + 34, static_cast<uint32_t>(imageBytes), 4);

  tExportFile file(FileName);
  file.Write(header, sizeof header);
  const size_t pixelBytes = static_cast<size_t>(Picture.Width) * 3;
  const Byte padding[3] = {0, 0, 0};
  for (Integer y = Picture.Height - 1; y >= 0; --y) {
    file.Write(Picture.Pixels + static_cast<size_t>(y) * Picture.BytesPerLine, pixelBytes);
    file.Write(padding, static_cast<size_t>(rowBytes) - pixelBytes);
  }
  file.Commit();
}

void SaveJpegFile(const std::string& FileName, const tPixelBuffer& Picture, Integer Quality, bool Progressive) {
  CheckPicture(Picture, FileName);
  constexpr Integer Largest = JPEG_MAX_DIMENSION;
  if (Picture.Width > Largest || Picture.Height > Largest)
    throw EInOutError(Format("The picture of %d x %d pixels is too large for a JPEG file (at most %d pixels a side): \"%s\"",
                             Picture.Width, Picture.Height, Largest, FileName));
  tExportFile file(FileName);
  auto cinfo = std::make_unique<jpeg_compress_struct>();
  auto error = std::make_unique<tJpegError>();
  auto target = std::make_unique<tJpegTarget>();
  target->File = &file;
  target->Error = 0;
  if (!Compress(cinfo.get(), error.get(), target.get(), &Picture, std::clamp<Integer>(Quality, 1, 100), Progressive)) {
    const std::string reason = target->Error != 0 ? Format("%s: %s", error->Message, SystemReason(target->Error))
                                                  : std::string(error->Message);
    throw EInOutError(Format("Cannot save the JPEG file \"%s\": %s", FileName, reason));
  }
  file.Commit();
}

// ---------------------------------------------------------------- matrices and grids

void ExportMatrixFile(const tRaster& Map, const std::string& FileName, bool Binary) {
  tExportFile file(FileName);
  if (Binary) {
    const double counts[2] = {static_cast<double>(Map.Rows), static_cast<double>(Map.Columns)};
    file.Write(counts, sizeof counts);
    TIdrisiFile F;
    Map.OpenR(F);
    ForEachBlock(F, [&](const Single* cells, Cardinal count) {
      constexpr Cardinal Run = 8192;
      for (Cardinal start = 0; start < count; start += Run) {
        const Cardinal n = std::min(Run, count - start);
        auto* out = reinterpret_cast<double*>(file.Reserve(n * sizeof(double)));
        for (Cardinal k = 0; k < n; ++k) out[k] = cells[start + k];
        file.Advance(n * sizeof(double));
      }
    });
    CloseRaster(F);
  } else {
    file.Write(Format("%d\t%d\r\n", Map.Rows, Map.Columns));
    WriteCellLines(Map, file, false);
  }
  file.Commit();
}

void ExportAsciiGrid(const tRaster& Map, const std::string& FileName) {
  tRaster cellSize = Map;
  cellSize.ComputeResolution();
  // The grid's readers take only the point; the documentation's resolution carries
  // the user's separator.
  std::string resolution = cellSize.Resolution;
  std::replace(resolution.begin(), resolution.end(), ',', '.');

  tExportFile file(FileName);
  std::string header;
  header += "ncols        " + IntToStr(Map.Columns) + "\r\n";
  header += "nrows        " + IntToStr(Map.Rows) + "\r\n";
  header += "xllcorner    " + FloatToDefaultStr(Map.minX) + "\r\n";
  header += "yllcorner    " + FloatToDefaultStr(Map.minY) + "\r\n";
  header += "cellsize     " + resolution + "\r\n";
  // Without a flag in force no cell is missing: a NODATA value would make cells
  // of that value missing for the grid's readers.
  if (Map.BackGround == bsChecked) header += "NODATA_value " + FloatToDefaultStr(Map.BackGroundValue) + "\r\n";
  file.Write(header);
  WriteCellLines(Map, file, true);
  file.Commit();
}

// ---------------------------------------------------------------- the walk

std::vector<tMapResult> ExportMaps(const std::vector<std::string>& Items, tExportFormat Format,
                                   const tExportHooks& Hooks) {
  tMapWalkLock lock;
  std::vector<tMapResult> results;
  const std::vector<std::string> files = AbsoluteMapItems(Items);
  for (size_t i = 0; i < files.size(); ++i) {
    tMapResult result;
    result.Item = Items[i];
    result.MapName = ExtractMapName(Items[i]);
    GuardMap(result, Hooks.Log, [&] {
      tRaster map(files[i]);
      const std::string fileName = ExportFileName(map, Format);
      switch (Format) {
        case efBitmap:
        case efJPEG:
          if (!Hooks.SavePicture) throw EInvalidOperation("No window draws the pictures of the export");
          Hooks.SavePicture(map, map.AsMatrix(), Format, fileName);
          break;
        case efText:
        case efBinary:
          ExportMatrixFile(map, fileName, Format == efBinary);
          break;
        case efArcGrid:
          ExportAsciiGrid(map, fileName);
          break;
      }
      result.Outcome = ocDone;
      result.NewMap = fileName;
    });
    results.push_back(result);
    ProcessMessages();
  }
  return results;
}

}  // namespace utile
