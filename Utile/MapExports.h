// Exports of raster maps beside the map, under the map's name with the format's
// extension: text and binary matrix files, ASCII grids, and pictures as bitmap or
// JPEG files written from a buffer of 24-bit pixels (which a window draws).
//
// Every export is written under a temporary name beside its target and renamed
// over it once complete: a failure leaves an earlier export of that name as it was
// and no temporary file.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/Idrisi.h"
#include "Utile/MapConversions.h"

namespace utile {

// The formats in the order of the format list.
enum tExportFormat { efBitmap, efJPEG, efText, efBinary, efArcGrid };
inline constexpr std::array<const char*, 5> ExportFormatStr = {
    "Bitmap (*.bmp)", "JPEG (*.jpg)", "ASCII (*.txt)", "Binary (*.bin)", "Arc GIS ASCII (*.asc)"};
const char* ExportExtension(tExportFormat Format);  // ".bmp", ".jpg", ".txt", ".bin", ".asc"
// The export of Map in that format: the map's path and name with the extension.
std::string ExportFileName(const tRaster& Map, tExportFormat Format);
// The background value of a picture without a flag in force: no cell matches it.
inline constexpr double NoBackgroundValue = -3.4e38;
// The background value a picture of Map is drawn with: its flag when the flag is in
// force, otherwise NoBackgroundValue.
double ExportBackground(const tRaster& Map);

// A 24-bit picture: Height rows from the top one, each of Width pixels of three
// bytes in the order blue, green, red (TRGBTriple, a QImage of Format_BGR888),
// BytesPerLine bytes from the start of one row to the next.
struct tPixelBuffer {
  const Byte* Pixels = nullptr;
  Integer Width = 0;
  Integer Height = 0;
  size_t BytesPerLine = 0;
};

// A bitmap file: 24 bits per pixel, uncompressed, rows from the bottom one up,
// each padded to four bytes. EInOutError for a picture past the format's 4 GB.
void SaveBitmapFile(const std::string& FileName, const tPixelBuffer& Picture);
// A JPEG file through the JPEG library (quality 1 to 100). The library's errors,
// and pictures over 65,500 pixels a side, raise EInOutError naming the file.
void SaveJpegFile(const std::string& FileName, const tPixelBuffer& Picture, Integer Quality = 100,
                  bool Progressive = true);

// The map's cells as the matrix file that MatSaveToFile writes of its AsMatrix,
// streamed a block at a time.
void ExportMatrixFile(const tRaster& Map, const std::string& FileName, bool Binary);
// The ASCII grid of the map: the six header lines (NODATA_value only with a flag in
// force), then one line per row, every cell followed by two blanks; CR LF, "." as
// the decimal separator whatever the user's.
void ExportAsciiGrid(const tRaster& Map, const std::string& FileName);

// What the export walk needs of the window: its log, and for the two picture
// formats a drawing of the map's matrix saved under the file name given (through
// SaveBitmapFile or SaveJpegFile of the drawing's pixels). The matrix is handed
// over: a drawing can keep it without a copy of a large map.
struct tExportHooks {
  std::function<void(const std::string&)> Log;
  std::function<void(const tRaster& Map, tMatrixOfDouble Matrix, tExportFormat Format,
                     const std::string& FileName)>
      SavePicture;
};

// The export of the selected files, in list order. A map that fails logs
// "%s generated an error. Check it." and the reason, and the walk goes on.
std::vector<tMapResult> ExportMaps(const std::vector<std::string>& Items, tExportFormat Format,
                                   const tExportHooks& Hooks);

}  // namespace utile
