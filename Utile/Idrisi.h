// Raster maps in the Idrisi format: a text documentation file that describes the
// grid (size, cell type, georeference, value range, missing-value flag, comments
// and lineage) beside a headerless binary image file of byte, 16-bit integer or
// 32-bit real cells, row by row from the top row.
//
// Whole-map work streams the cells through one block of BufferSize cells:
//
//   utile::tRaster map("forest.rst");   // reads forest.rdc
//   utile::TIdrisiFile F;
//   map.OpenR(F);
//   while (!F.eof) {
//     utile::Single value;
//     const bool present = utile::ReadRaster(F, value);
//     ...
//   }
//   utile::CloseRaster(F);
//
// ForEachCell, ForEachBlock and CopyCells walk the same blocks with the cell loop
// free of calls, about twice as fast as the loop above over large maps.
//
// Failures are raised as exceptions (EInOutError, EConvertError, ERangeError,
// EInvalidOp, EInvalidOperation) whose messages name the file concerned.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/DynamicArrays.h"

namespace utile {

// ---------------------------------------------------------------- conventions

enum tIdrisiVersion { ivIdrisi16, ivIdrisi32 };

// The cell type's ordinal is also the width of its record in the image file.
enum TGISDataType { idtUnknown, idtByte, idtInteger, idtDummy, idtReal };
enum TGISFileType { iftUnknown, iftASCII, iftBinary, iftPackedBinary };
enum TGISUnitType { utCells, utMeters, utKilometers, utDegrees, utYards, utMiles, utCustom };
// Whether BackGroundValue marks missing cells: no, yes, not stated.
enum tBackgroundState { bsUnchecked, bsChecked, bsGrayed };
enum tGISVectorType { vtUnknown, vtPoint, vtLine, vtPolygon, vtText };

// The names written to and read from documentation files.
const char* GISDataTypeName(TGISDataType type);
const char* GISFileTypeName(TGISFileType type);
const char* GISVectorTypeName(tGISVectorType type);

// The convention in force and its file extensions (with their dots); set once at
// start-up by EnvironnementIdrisi.
extern tIdrisiVersion IdrisiVersion;
extern std::string DocExtension;        // ".rdc" (".doc" in ivIdrisi16)
extern std::string ImageExtension;      // ".rst" (".img")
extern std::string VectorExtension;     // ".vct" (".vec")
extern std::string VectorDocExtension;  // ".vdc" (".dvc")
extern std::string SampleExtension;     // ".smp"
extern std::string DataPath;            // default data folder
extern std::string MapFileFilter;       // filter of the open and save dialogs for maps

// Reads idrisi.env beside the executable: its presence selects ivIdrisi16 and its
// drive and path lines give DataPath; its absence selects ivIdrisi32.
void EnvironnementIdrisi();
// The same with the environment file looked for in the given folder; every call
// starts again from the state before start-up.
void EnvironnementIdrisi(const std::string& folder);
// Stores the convention, sets the extensions and rebuilds MapFileFilter.
void ChangeIdrisiVersion(tIdrisiVersion version);
// The name without its extension (the name itself when it has none).
std::string ExtractShortName(const std::string& name);

// ---------------------------------------------------------------- block access

// Cells per block of every whole-map pass.
constexpr Integer BufferSize = 1'024'000;

// An open image file, read-only or write-only, without buffering of its own.
class tImageFileHandle {
public:
  tImageFileHandle() = default;
  ~tImageFileHandle();
  tImageFileHandle(const tImageFileHandle&) = delete;
  tImageFileHandle& operator=(const tImageFileHandle&) = delete;

  bool IsOpen() const { return fHandle >= 0; }
  int Handle() const { return fHandle; }
  void Attach(int handle);
  // Closes the file; false when the system reports a failure (a write that was
  // delayed until the close).
  bool Close();

private:
  int fHandle = -1;
};

// One open image file with its block buffer. The caller owns the record; OpenR or
// OpenW of a raster fills it, CloseRaster ends it. A record left open when it is
// destroyed (after a failure) closes its file without writing the pending cells.
struct TIdrisiFile {
  tImageFileHandle F;
  Single BkV = 0;              // flag value of missing cells
  bool Bak = false;            // cells equal to BkV are missing
  TGISDataType typ = idtUnknown;
  Cardinal lu = 0;             // reading: cells of the block not yet handed out; writing: cells held
  std::unique_ptr<TDynSngVector> Tmp;  // block buffer, indices 1..BufferSize, in file order
  bool eof = false;            // the last cell of the map has been handed out
  bool Write = false;          // opened for writing

  std::string fFileName;       // the image file, for messages
  Single* fCells = nullptr;    // index 1 of the buffer
  Cardinal fBlockCells = 0;    // reading: cells in the current block
  Int64 fCellsLeft = 0;        // reading: cells of the map not yet in the buffer
  Int64 fCellsWritten = 0;     // writing: cells already in the file
  std::vector<Byte> fRecords;  // one block of byte or integer records
};

namespace idrisi_detail {
// Fills the buffer with the next block; false when the map has no cell left.
bool ReadBlock(TIdrisiFile& F);
// Writes the first `count` cells of the buffer to the file.
void WriteBlock(TIdrisiFile& F, Cardinal count);
[[noreturn]] void RaiseNotOpenForWriting(const TIdrisiFile& F);
}  // namespace idrisi_detail

// Hands out the next cell in file order: true for a present cell, false for a
// missing one (whose value is delivered all the same). After the last cell of the
// map eof is set; a read past it delivers nothing and returns false.
inline bool ReadRaster(TIdrisiFile& F, Single& Value) {
  // A record open for writing goes to ReadBlock too, which refuses it.
  if (F.lu == 0 || F.Write) [[unlikely]] {
    if (!idrisi_detail::ReadBlock(F)) return false;
  }
  Value = F.fCells[F.fBlockCells - F.lu];
  --F.lu;
  F.eof = F.lu == 0 && F.fCellsLeft == 0;
  return !(F.Bak && Value == F.BkV);
}

// Appends one cell. Byte and integer files receive the value rounded to the nearest
// integer (halves to the even neighbour), keeping only its low-order 8 or 16 bits.
inline bool WriteRaster(TIdrisiFile& F, Single Value) {
  if (!F.Write) [[unlikely]]
    idrisi_detail::RaiseNotOpenForWriting(F);
  F.fCells[F.lu] = Value;
  ++F.lu;
  if (F.lu == static_cast<Cardinal>(BufferSize)) [[unlikely]] {
    F.lu = 0;
    idrisi_detail::WriteBlock(F, static_cast<Cardinal>(BufferSize));
  }
  return true;
}
inline bool WriteIdrisi(TIdrisiFile& F, Single Value) { return WriteRaster(F, Value); }

// Hands the remaining cells of the map a block at a time: action(cells, count)
// with the cells in file order, then sets eof. Accumulators declared inside the
// action stay in registers over the block.
template <class tAction>
void ForEachBlock(TIdrisiFile& F, tAction&& action) {
  while (!F.eof) {
    if ((F.lu == 0 || F.Write) && !idrisi_detail::ReadBlock(F)) break;
    const Cardinal count = F.lu;
    const Single* cells = F.Tmp->GetArray() + (F.fBlockCells - count);
    F.lu = 0;
    F.eof = F.fCellsLeft == 0;
    action(cells, count);
  }
}

// The fast path of whole-map passes: hands every remaining cell of the map to
// action(value, present) in file order, a block at a time, then sets eof. The cell
// loop holds no call of its own, so that the caller's loop state stays in registers.
template <class tAction>
void ForEachCell(TIdrisiFile& F, tAction&& action) {
  while (!F.eof) {
    if ((F.lu == 0 || F.Write) && !idrisi_detail::ReadBlock(F)) break;
    const Cardinal count = F.lu;
    const Single* __restrict cells = F.Tmp->GetArray() + (F.fBlockCells - count);
    const Single flag = F.BkV;
    if (F.Bak) {
      for (Cardinal k = 0; k < count; ++k) {
        F.lu = count - k - 1;
        action(cells[k], cells[k] != flag);
      }
    } else {
      for (Cardinal k = 0; k < count; ++k) {
        F.lu = count - k - 1;
        action(cells[k], true);
      }
    }
    F.eof = F.fCellsLeft == 0;
  }
}

// The fast path of conversions: every remaining cell of Source goes through
// rule(value, present), whose result is appended to Target, a block at a time.
template <class tRule>
void CopyCells(TIdrisiFile& Source, TIdrisiFile& Target, tRule&& rule) {
  if (!Target.Write) idrisi_detail::RaiseNotOpenForWriting(Target);
  while (!Source.eof) {
    if ((Source.lu == 0 || Source.Write) && !idrisi_detail::ReadBlock(Source)) break;
    const Single flag = Source.BkV;
    while (Source.lu > 0) {
      const Cardinal count = std::min(Source.lu, static_cast<Cardinal>(BufferSize) - Target.lu);
      const Single* __restrict from = Source.Tmp->GetArray() + (Source.fBlockCells - Source.lu);
      Single* __restrict to = Target.Tmp->GetArray() + Target.lu;
      if (Source.Bak)
        for (Cardinal k = 0; k < count; ++k) to[k] = rule(from[k], from[k] != flag);
      else
        for (Cardinal k = 0; k < count; ++k) to[k] = rule(from[k], true);
      Source.lu -= count;
      Target.lu += count;
      if (Target.lu == static_cast<Cardinal>(BufferSize)) {
        Target.lu = 0;
        idrisi_detail::WriteBlock(Target, static_cast<Cardinal>(BufferSize));
      }
    }
    Source.eof = Source.fCellsLeft == 0;
  }
}

// CopyCells in runs, for passes that report progress: the remaining cells of Source
// reach Target through transform(from, to, count) in runs of at most limit() cells
// (asked before every run; fewer at block ends), each run followed by done(count).
// The transform tests for missing cells itself (Source.Bak, Source.BkV), so that
// its loop is free of calls.
template <class tLimit, class tTransform, class tDone>
void CopyRuns(TIdrisiFile& Source, TIdrisiFile& Target, tLimit&& limit, tTransform&& transform, tDone&& done) {
  if (!Target.Write) idrisi_detail::RaiseNotOpenForWriting(Target);
  while (!Source.eof) {
    if ((Source.lu == 0 || Source.Write) && !idrisi_detail::ReadBlock(Source)) break;
    while (Source.lu > 0) {
      const Int64 wanted = std::max<Int64>(limit(), 1);
      const Cardinal count = static_cast<Cardinal>(
          std::min<Int64>(wanted, std::min(Source.lu, static_cast<Cardinal>(BufferSize) - Target.lu)));
      const Single* from = Source.Tmp->GetArray() + (Source.fBlockCells - Source.lu);
      Single* to = Target.Tmp->GetArray() + Target.lu;
      transform(from, to, count);
      Source.lu -= count;
      Target.lu += count;
      Source.eof = Source.lu == 0 && Source.fCellsLeft == 0;
      if (Target.lu == static_cast<Cardinal>(BufferSize)) {
        Target.lu = 0;
        idrisi_detail::WriteBlock(Target, static_cast<Cardinal>(BufferSize));
      }
      done(count);
    }
    Source.eof = Source.fCellsLeft == 0;
  }
}

// Writes the pending cells when writing, closes the file and frees the buffer; the
// file is closed and the buffer freed even when the last block cannot be written.
void CloseRaster(TIdrisiFile& F);
inline void CloseIdrisiFile(TIdrisiFile& F) { CloseRaster(F); }

// ---------------------------------------------------------------- tRaster

class tRaster {
public:
  // An empty real raster in binary storage, on the plane reference system.
  tRaster();
  // A raster whose documentation is read from the map named (image file name,
  // documentation file name or name without extension).
  explicit tRaster(const std::string& FileName);
  virtual ~tRaster() = default;
  // A raster with a copy of Source's documentation (lists of its own) and no cells:
  // the start of a map derived from Source.
  static tRaster CreateFrom(const tRaster& Source);

  // FileName without its folder.
  std::string Name() const;
  // Columns x Rows.
  Int64 nbPixels() const { return static_cast<Int64>(Columns) * Rows; }

  // ------------------------------------------------------------ documentation
  virtual void ReadDoc(const std::string& FileName);
  // Writes FileName + DocExtension, replacing any existing file; its numbers carry
  // UserDecimalSeparator.
  void WriteDoc();
  // ResolutionX, ResolutionY and Resolution, the text of their mean (with
  // UserDecimalSeparator).
  void ComputeResolution();
  std::string DocFileName() const { return FileName + DocExtension; }
  std::string ImageFileName() const { return FileName + ImageExtension; }

  // ------------------------------------------------------------ whole-map statistics
  // Mean and population standard deviation of the present cells, computed on
  // demand and kept.
  double GetMean();
  double GetSD();
  virtual void ComputeMean();
  virtual void ComputeSD();
  // MinValue and MaxValue from the present cells (left alone when there is none).
  virtual void Recompute();

  // ------------------------------------------------------------ cells
  void OpenR(TIdrisiFile& F) const;
  void OpenW(TIdrisiFile& F) const;
  // A Rows x Columns matrix of all cells, missing cells holding their stored value.
  virtual tMatrixOfDouble AsMatrix() const;
  virtual tMatrixOfSingle AsMatrixOfSingle() const;
  bool CellInRange(Integer Row, Integer Col) const;
  // One cell read directly from the image file (the file is opened per call).
  virtual Single GetCells(Integer Row, Integer Col) const;
  virtual void SetCells(Integer Row, Integer Col, Single Value);
  // Record number Index of the image file.
  Single Offset(Int64 Index) const;
  void OffsetWrite(Int64 Index, Byte Value);
  void OffsetWrite(Int64 Index, SmallInt Value);
  void OffsetWrite(Int64 Index, Single Value);

  // ------------------------------------------------------------ documentation fields
  tBackgroundState BackGround = bsUnchecked;
  Single BackGroundValue = 0;
  tVectorOfString Category;  // category lines, kept verbatim (key included)
  Integer Columns = 0;
  tVectorOfString Comment;
  tVectorOfString Completeness;
  tVectorOfString Consistency;
  TGISDataType DataType = idtUnknown;
  Single DisplayMin = 0;
  Single DisplayMax = 0;
  std::string FileFormat;
  std::string FileName;  // path and name without the documentation or image extension
  std::string FileTitle;
  TGISFileType FileType = iftUnknown;
  Integer LegendCats = 0;
  tVectorOfString Lineage;
  Extended minX = 0;
  Extended maxX = 0;
  Extended minY = 0;
  Extended maxY = 0;
  Single MinValue = 0;
  Single MaxValue = 0;
  bool NotFound = false;  // the last read found no documentation file
  std::string PosnError;
  std::string Resolution;
  Single ResolutionX = 0;
  Single ResolutionY = 0;
  std::string RefSystem;
  std::string RefUnits;
  Integer Rows = 0;
  std::string Short;
  std::string UnitDist;
  TGISUnitType UnitType = utCells;
  std::string ValueUnits;
  std::string ValueError;

  // The value range line ("min. value" or "max. value") that the documentation
  // last read lacks, "" when it holds both: what a stretch of the values needs.
  std::string MissingValueRangeLine() const;

protected:
  double fMean = 0;
  double fSD = 0;
  bool fMeanComputed = false;
  bool fSDComputed = false;

private:
  bool fHasMinValueLine = false;
  bool fHasMaxValueLine = false;
  void ClearDocumentation();
  void ComputeCellSize();
};

// The whole matrix of the map named.
tMatrixOfDouble RasterToMatrix(const std::string& FileName);

// x rounded to the nearest integer (halves to the even neighbour) lies in 0..255.
bool IsByteValue(Single x);
// x is not a whole number: it differs from its integer part by more than 1e-8
// (not a number and the infinities have decimals too: no integer holds them).
bool HasDecimals(Single x);

}  // namespace utile
