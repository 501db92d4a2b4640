#include "Utile/Idrisi.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/ToolkitVariant.h"

namespace utile {

// ---------------------------------------------------------------- names

namespace {
const char* const DataTypeNames[] = {"unknown", "byte", "integer", "dummy", "real"};
const char* const FileTypeNames[] = {"unknown", "ascii", "binary", "packed binary"};
const char* const VectorTypeNames[] = {"unknown", "point", "line", "polygon", "text"};

const char* const DefaultFileFormat = "IDRISI Raster A.1";

// Map-kind suffixes shown in the map-file filter.
const char* const QuantitativeSuffix = "_QT";
const char* const BooleanSuffix = "_BL";
const char* const CategorySuffix = "_CL";
const char* const FrequencySuffix = "_FQ";
const char* const CountSuffix = "_NB";
const char* const StatisticalSuffix = "_ST";

const char* const BadTypeMessage =
    "Guru's meditation\r\nA strange error occured : bad type in ReadIdrisi function. Perhaps is the file corrupt ?";
const char* const FloatProblemMessage =
    "There was a problem with floating point values. It is probably due to a bad decimal separator setting";

// Every failure names the file concerned after the message.
std::string WithFileName(std::string_view text, const std::string& fileName) {
  return Format("%s (%s)", text, fileName);
}

Integer RecordWidth(TGISDataType type) {
  switch (type) {
    case idtByte:
    case idtInteger:
    case idtReal:
      return static_cast<Integer>(type);
    default:
      return 0;
  }
}
}  // namespace

const char* GISDataTypeName(TGISDataType type) { return DataTypeNames[type]; }
const char* GISFileTypeName(TGISFileType type) { return FileTypeNames[type]; }
const char* GISVectorTypeName(tGISVectorType type) { return VectorTypeNames[type]; }

// ---------------------------------------------------------------- conventions

namespace {
std::string BuildMapFileFilter(const std::string& image) {
  std::string filter = "All maps (*" + image + ")|*" + image;
  filter += Format("|Quantitative maps (*%1:s)|*%1:s%0:s", image, QuantitativeSuffix);
  filter += Format("|Qualitative maps (*%1:s, *%2:s, *%3:s)|*%1:s%0:s;*%2:s%0:s;*%3:s%0:s", image, BooleanSuffix,
                   CategorySuffix, CategorySuffix);
  filter += Format("|Boolean maps (*%1:s)|*%1:s%0:s", image, BooleanSuffix);
  filter += Format("|Freqency/Probability maps (%1:s)|*%1:s%0:s", image, FrequencySuffix);
  filter += Format("|Count maps (*%1:s)|*%1:s%0:s", image, CountSuffix);
  filter += Format("|Statistical maps (*%1:s)|*%1:s%0:s", image, StatisticalSuffix);
  filter += Format("|Category maps (*%1:s)|*%1:s%0:s", image, CategorySuffix);
  return filter + "|All files (*.*)|*.*";
}

const char* const InitialDataPath = "./";
}  // namespace

tIdrisiVersion IdrisiVersion = ivIdrisi32;
std::string DocExtension = ".rdc";
std::string ImageExtension = ".rst";
std::string VectorExtension = ".vct";
std::string VectorDocExtension = ".vdc";
std::string SampleExtension = ".smp";
std::string DataPath = InitialDataPath;
std::string MapFileFilter = BuildMapFileFilter(".rst");

void ChangeIdrisiVersion(tIdrisiVersion version) {
  IdrisiVersion = version;
  const bool older = version == ivIdrisi16;
  DocExtension = older ? ".doc" : ".rdc";
  ImageExtension = older ? ".img" : ".rst";
  VectorExtension = older ? ".vec" : ".vct";
  VectorDocExtension = older ? ".dvc" : ".vdc";
  SampleExtension = ".smp";
  MapFileFilter = BuildMapFileFilter(ImageExtension);
}

void EnvironnementIdrisi() { EnvironnementIdrisi(ExecutableFolder()); }

void EnvironnementIdrisi(const std::string& folder) {
  IdrisiVersion = ivIdrisi32;
  DataPath = InitialDataPath;
  const std::string envFile = IncludeTrailingPathDelimiter(folder) + "idrisi.env";
  if (FileExists(envFile)) {
    IdrisiVersion = ivIdrisi16;
    std::string drive, path;
    for (const std::string& line : TextLines(LoadTextFromFile(envFile))) {
      // The first 40 characters are the key area. The file's extension lines are
      // read by the format's other programs; here the convention's own extensions
      // are set last by ChangeIdrisiVersion.
      const std::string value = line.size() > 40 ? line.substr(40) : std::string();
      if (line.find("default data drive") != std::string::npos) drive = value;
      if (line.find("default data path") != std::string::npos) path = value;
    }
    DataPath = Trim(drive) + Trim(path);
  }
  ChangeIdrisiVersion(IdrisiVersion);
}

std::string ExtractShortName(const std::string& name) { return ChangeFileExt(name, ""); }

// ---------------------------------------------------------------- file handles

tImageFileHandle::~tImageFileHandle() { Close(); }

void tImageFileHandle::Attach(int handle) {
  Close();
  fHandle = handle;
}

bool tImageFileHandle::Close() {
  if (fHandle < 0) return true;
  const int rc = ::close(fHandle);
  fHandle = -1;
  return rc == 0;
}

namespace {

int OpenOnce(const std::string& fileName, int flags) {
  int handle;
  do handle = ::open(fileName.c_str(), flags | O_CLOEXEC, 0666);
  while (handle < 0 && errno == EINTR);
  return handle;
}

// Opens an image file; the main program tries once more after a failure, the
// map-file manager does not.
int OpenImageFile(const std::string& fileName, int flags) {
  int handle = OpenOnce(fileName, flags);
  if (handle < 0 && ToolkitVariant() == tToolkitVariant::tvMainProgram) handle = OpenOnce(fileName, flags);
  if (handle < 0) throw EInOutError(Format("Cannot open file \"%s\": %s", fileName, SystemReason()));
  return handle;
}

Int64 FileSizeOf(int handle) {
  struct stat status;
  if (::fstat(handle, &status) != 0) return -1;
  return static_cast<Int64>(status.st_size);
}

// Reads up to `size` bytes; fewer only at the end of the file. -1 on failure.
Int64 ReadFully(int handle, Byte* buffer, Int64 size, Int64 position = -1) {
  Int64 done = 0;
  while (done < size) {
    const ssize_t n = position < 0 ? ::read(handle, buffer + done, static_cast<size_t>(size - done))
                                   : ::pread(handle, buffer + done, static_cast<size_t>(size - done),
                                             static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool WriteFully(int handle, const Byte* buffer, Int64 size, Int64 position = -1) {
  Int64 done = 0;
  while (done < size) {
    const ssize_t n = position < 0 ? ::write(handle, buffer + done, static_cast<size_t>(size - done))
                                   : ::pwrite(handle, buffer + done, static_cast<size_t>(size - done),
                                              static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += n;
  }
  return true;
}

// ---------------------------------------------------------------- records

// Records are little-endian whatever the machine.
inline uint16_t LittleEndian(uint16_t word) {
  if constexpr (std::endian::native == std::endian::little) return word;
  return static_cast<uint16_t>((word >> 8) | (word << 8));
}
inline uint32_t LittleEndian(uint32_t word) {
  if constexpr (std::endian::native == std::endian::little) return word;
  return __builtin_bswap32(word);
}

Single RecordToSingle(const Byte* record, TGISDataType type) {
  switch (type) {
    case idtByte:
      return record[0];
    case idtInteger: {
      uint16_t word;
      std::memcpy(&word, record, 2);
      return static_cast<SmallInt>(LittleEndian(word));
    }
    default: {
      uint32_t word;
      std::memcpy(&word, record, 4);
      return std::bit_cast<Single>(LittleEndian(word));
    }
  }
}

[[noreturn]] void RaiseNotWholeNumber(Single value, Int64 cell, TGISDataType type, const std::string& fileName) {
  throw EInvalidOp(Format("The value %s of cell %d cannot be stored in a map of %s cells (%s)",
                          FloatToStr(value), cell, GISDataTypeName(type), fileName));
}

// Values that have a nearest integer in 64 bits (not a number, the infinities and
// larger values have none).
inline bool HasWholeNumber(Single value) { return std::fabs(value) < 0x1p63f; }

// The nearest integer with halves to the even neighbour, as the low-order bits that
// a byte or integer record keeps (300 gives 44 in a byte). Only for values that
// HasWholeNumber.
inline uint64_t WholeNumberBits(Single value) {
  // Adding and removing 1.5 x 2^52 rounds to an integer in the default rounding
  // mode (halves to even); singles of 2^23 and more are integers already.
  const double x = value;
  const double r = std::fabs(x) < 0x1p23 ? (x + 0x1.8p52) - 0x1.8p52 : x;
  return static_cast<uint64_t>(static_cast<int64_t>(r));
}

[[noreturn]] void RaiseCannotStore(TGISDataType type, const std::string& fileName) {
  throw EInOutError(WithFileName(Format("Cells of the type \"%s\" cannot be written", GISDataTypeName(type)),
                                 fileName));
}

void CheckStorage(TGISFileType fileType, const std::string& fileName) {
  // Text and packed image files hold no fixed-width records: reading them as
  // binary would deliver garbage.
  if (fileType == iftASCII || fileType == iftPackedBinary)
    throw EInOutError(WithFileName(
        Format("Image files of the type \"%s\" are not supported: only binary image files are",
               GISFileTypeName(fileType)),
        fileName));
}

}  // namespace

// ---------------------------------------------------------------- block reading and writing

namespace idrisi_detail {

bool ReadBlock(TIdrisiFile& F) {
  if (F.Write) throw EInvalidOperation(WithFileName("The image file is open for writing, not reading", F.fFileName));
  if (!F.Tmp || !F.F.IsOpen()) {
    // Nothing to hand out from a record that is not open.
    F.eof = true;
    return false;
  }
  if (F.fCellsLeft <= 0) {
    F.eof = true;
    return false;
  }
  const Integer width = RecordWidth(F.typ);
  if (width == 0) {
    F.eof = true;
    F.fCellsLeft = 0;
    throw EInOutError(WithFileName(BadTypeMessage, F.fFileName));
  }
  const Int64 count = std::min<Int64>(F.fCellsLeft, F.Tmp->Rows());
  const Int64 bytes = count * width;
  Single* cells = F.Tmp->GetArray();  // index 1 of the buffer
  // Real records go straight into the buffer; the others are converted from a
  // block of their own.
  Byte* records = F.typ == idtReal ? reinterpret_cast<Byte*>(cells) : F.fRecords.data();
  const Int64 got = ReadFully(F.F.Handle(), records, bytes);
  if (got != bytes) {
    F.eof = true;
    F.fCellsLeft = 0;
    if (got < 0) throw EInOutError(Format("Error reading file \"%s\": %s", F.fFileName, SystemReason()));
    throw EInOutError(Format("The image file \"%s\" ended before its last cell", F.fFileName));
  }
  switch (F.typ) {
    case idtByte:
      for (Int64 k = 0; k < count; ++k) cells[k] = records[k];
      break;
    case idtInteger:
      for (Int64 k = 0; k < count; ++k) cells[k] = RecordToSingle(records + 2 * k, idtInteger);
      break;
    default:
      if constexpr (std::endian::native != std::endian::little)
        for (Int64 k = 0; k < count; ++k) cells[k] = RecordToSingle(records + 4 * k, idtReal);
      break;
  }
  F.lu = static_cast<Cardinal>(count);
  F.fBlockCells = static_cast<Cardinal>(count);
  F.fCellsLeft -= count;
  return true;
}

namespace {
// The first `count` cells of the buffer in the file's record format: the records
// block for bytes and integers, the buffer itself for reals.
const Byte* EncodeBlock(TIdrisiFile& F, Cardinal count) {
  Single* cells = F.Tmp->GetArray();
  if (F.typ == idtReal) {
    if constexpr (std::endian::native != std::endian::little)
      for (Cardinal k = 0; k < count; ++k) {
        const uint32_t word = LittleEndian(std::bit_cast<uint32_t>(cells[k]));
        std::memcpy(cells + k, &word, 4);
      }
    return reinterpret_cast<const Byte*>(cells);
  }
  Byte* records = F.fRecords.data();
  // The usual block holds only values below 2^22 in magnitude: they round without a
  // branch per cell (1.5 x 2^23 added and removed, halves to even), which the
  // compiler turns into vector code.
  Cardinal large = 0;
  for (size_t k = 0; k < count; ++k) large += (std::bit_cast<uint32_t>(cells[k]) & 0x7FFFFFFFu) >= 0x4A800000u;
  if (large == 0) {
    if (F.typ == idtByte) {
      for (size_t k = 0; k < count; ++k)
        records[k] = static_cast<Byte>(static_cast<int32_t>((cells[k] + 0x1.8p23f) - 0x1.8p23f));
    } else {
      for (size_t k = 0; k < count; ++k) {
        const int32_t whole = static_cast<int32_t>((cells[k] + 0x1.8p23f) - 0x1.8p23f);
        const uint16_t word = LittleEndian(static_cast<uint16_t>(whole));
        std::memcpy(records + 2 * k, &word, 2);
      }
    }
    return records;
  }
  for (Cardinal k = 0; k < count; ++k)
    if (!HasWholeNumber(cells[k])) RaiseNotWholeNumber(cells[k], F.fCellsWritten + k, F.typ, F.fFileName);
  if (F.typ == idtByte) {
    for (Cardinal k = 0; k < count; ++k) records[k] = static_cast<Byte>(WholeNumberBits(cells[k]));
  } else {
    for (Cardinal k = 0; k < count; ++k) {
      const uint16_t word = LittleEndian(static_cast<uint16_t>(WholeNumberBits(cells[k])));
      std::memcpy(records + 2 * k, &word, 2);
    }
  }
  return records;
}
}  // namespace

void WriteBlock(TIdrisiFile& F, Cardinal count) {
  const Byte* records = EncodeBlock(F, count);
  const Int64 bytes = static_cast<Int64>(count) * RecordWidth(F.typ);
  if (!WriteFully(F.F.Handle(), records, bytes))
    throw EInOutError(Format("Error writing file \"%s\": %s", F.fFileName, SystemReason()));
  F.fCellsWritten += count;
}

void RaiseNotOpenForWriting(const TIdrisiFile& F) {
  throw EInvalidOperation(WithFileName("The image file is not open for writing", F.fFileName));
}

}  // namespace idrisi_detail

void CloseRaster(TIdrisiFile& F) {
  const bool writing = F.Write;
  F.Write = false;
  F.eof = true;
  std::exception_ptr failure;
  bool writeFailed = false;
  if (writing && F.lu > 0) {
    try {
      const Byte* records = idrisi_detail::EncodeBlock(F, F.lu);
      const Int64 bytes = static_cast<Int64>(F.lu) * RecordWidth(F.typ);
      writeFailed = !WriteFully(F.F.Handle(), records, bytes);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  const bool closed = F.F.Close();
  if (writing && !closed) writeFailed = true;
  F.lu = 0;
  F.Tmp.reset();
  F.fCells = nullptr;
  F.fRecords = std::vector<Byte>();
  if (failure) std::rethrow_exception(failure);
  if (writeFailed)
    throw EInOutError(WithFileName("Writing error while closing. Last data may be missing.", F.fFileName));
}

// ---------------------------------------------------------------- tRaster: documentation

namespace {
// Keys are 14 characters: the name, blank padding and ": ".
const char* const kFileFormat = "file format : ";
const char* const kFileTitle = "file title  : ";
const char* const kDataType = "data type   : ";
const char* const kFileType = "file type   : ";
const char* const kColumns = "columns     : ";
const char* const kRows = "rows        : ";
const char* const kRefSystem = "ref. system : ";
const char* const kRefUnits = "ref. units  : ";
const char* const kUnitDist = "unit dist.  : ";
const char* const kMinX = "min. X      : ";
const char* const kMaxX = "max. X      : ";
const char* const kMinY = "min. Y      : ";
const char* const kMaxY = "max. Y      : ";
const char* const kPosnError = "pos'n error : ";
const char* const kResolution = "resolution  : ";
const char* const kMinValue = "min. value  : ";
const char* const kMaxValue = "max. value  : ";
const char* const kDisplayMin = "display min : ";
const char* const kDisplayMax = "display max : ";
const char* const kValueUnits = "value units : ";
const char* const kValueError = "value error : ";
const char* const kFlagValue = "flag value  : ";
const char* const kFlagDefinition = "flag def'n  : ";
const char* const kLegendCats = "legend cats : ";
const char* const kComment = "comment     : ";
const char* const kLineage = "lineage     : ";
const char* const kCompleteness = "completeness: ";
const char* const kConsistency = "consistency : ";

constexpr size_t KeyWidth = 14;

// Documentation values of single fields: finite values beyond the single range
// (a flag of -3.5e38 written by another program) keep the nearest single.
Single ToSingle(double value) {
  if (value > FLT_MAX && std::isfinite(value)) return FLT_MAX;
  if (value < -FLT_MAX && std::isfinite(value)) return -FLT_MAX;
  return static_cast<Single>(value);
}

// Numbers of documentation files follow the user's decimal separator; the readers
// take either.
std::string DocNumber(Extended value) {
  return FloatToStrF(value, tFloatFormat::ffGeneral, 15, 0, UserDecimalSeparator);
}

// The shortest text that reads back as the same single.
std::string SingleToText(Single value) {
  if (!std::isfinite(value)) return FloatToStr(value);
  for (int precision = 7; precision < 9; ++precision) {
    const std::string text = FloatToStrF(value, tFloatFormat::ffGeneral, precision, 0, UserDecimalSeparator);
    long double back;
    if (TryStrToFloat(text, back, UserDecimalSeparator) && static_cast<Single>(back) == value) return text;
  }
  return FloatToStrF(value, tFloatFormat::ffGeneral, 9, 0, UserDecimalSeparator);
}

TGISUnitType UnitTypeOf(const std::string& refUnits) {
  const std::string u = LowerCase(Trim(refUnits));
  TGISUnitType unit = utCustom;
  // "mètres" and its kin may be stored in either the Windows or the UTF-8 encoding.
  if (u == "m" || u == "meters" || u == "m\xE8tres" || u == "m\xC3\xA8tres") unit = utMeters;
  if (u == "km" || u == "kilometers" || u == "kilom\xE8tres" || u == "kilom\xC3\xA8tres") unit = utKilometers;
  if (u.compare(0, 3, "deg") == 0) unit = utDegrees;
  if (u == "yards") unit = utYards;
  if (u == "mi" || u == "miles" || u == "milles") unit = utMiles;
  return unit;
}

// Reads the documentation file line by line, naming the file and line in every
// failure.
class tDocReader {
public:
  explicit tDocReader(const std::string& fileName)
      : fFileName(fileName), fLines(TextLines(LoadTextFromFile(fileName))) {}

  bool NextLine(std::string& line) {
    if (fLineNumber >= static_cast<int>(fLines.size())) return false;
    line = fLines[fLineNumber++];
    return true;
  }

  double Number(const std::string& value) const {
    double v;
    if (!TryStrToFloatAnySeparator(value, v))
      throw EConvertError(Where(Format("'%s': %s", value, FloatProblemMessage)));
    return v;
  }

  Integer Count(const std::string& value) const {
    try {
      return StrToInt(value);
    } catch (const EConvertError& e) {
      throw EConvertError(Where(e.Message()));
    }
  }

  std::string Where(const std::string& text) const {
    return Format("%s, line %d: %s", fFileName, fLineNumber, text);
  }

private:
  std::string fFileName;
  tVectorOfString fLines;
  int fLineNumber = 0;  // of the line last read, from 1
};

void WriteLine(std::string& out, const char* key, const std::string& value) {
  out += key;
  out += value;
  out += "\r\n";
}
}  // namespace

tRaster::tRaster() {
  ClearDocumentation();
  FileType = iftBinary;
  DataType = idtReal;
  UnitDist = "1";
  RefSystem = "plane";
}

tRaster::tRaster(const std::string& FileName) {
  ClearDocumentation();
  ReadDoc(FileName);
}

tRaster tRaster::CreateFrom(const tRaster& Source) {
  tRaster raster(Source);
  // The statistics belong to Source's cells, which the new map does not have.
  raster.fMean = raster.fSD = 0;
  raster.fMeanComputed = raster.fSDComputed = false;
  raster.NotFound = false;
  return raster;
}

std::string tRaster::Name() const { return ExtractFileName(FileName); }

void tRaster::ClearDocumentation() {
  BackGround = bsUnchecked;
  BackGroundValue = 0;
  Category.clear();
  Columns = 0;
  Comment.clear();
  Completeness.clear();
  Consistency.clear();
  DataType = idtUnknown;
  DisplayMin = DisplayMax = 0;
  FileFormat = IdrisiVersion == ivIdrisi32 ? DefaultFileFormat : "";
  FileTitle.clear();
  FileType = iftUnknown;
  LegendCats = 0;
  Lineage.clear();
  minX = maxX = minY = maxY = 0;
  MinValue = MaxValue = 0;
  fHasMinValueLine = fHasMaxValueLine = false;
  PosnError.clear();
  Resolution.clear();
  ResolutionX = ResolutionY = 0;
  RefSystem.clear();
  RefUnits.clear();
  Rows = 0;
  Short.clear();
  UnitDist.clear();
  UnitType = utCells;
  ValueUnits.clear();
  ValueError.clear();
}

void tRaster::ReadDoc(const std::string& name) {
  fMeanComputed = false;
  fSDComputed = false;
  Category.clear();
  Comment.clear();
  Lineage.clear();
  Completeness.clear();
  Consistency.clear();

  const std::string extension = LowerCase(ExtractFileExt(name));
  const bool mapExtension = extension == LowerCase(ImageExtension) || extension == LowerCase(DocExtension);
  FileName = mapExtension ? ExtractShortName(name) : name;

  NotFound = false;
  // A map named with its own extension may hold further dots ("run1.5.rst"): its
  // documentation is the short name plus the documentation extension.
  const std::string docName = mapExtension ? FileName + DocExtension : ChangeFileExt(FileName, DocExtension);
  if (!FileExists(docName)) {
    NotFound = true;
    throw EInOutError(docName + " not found.");
  }
  tDocReader reader = WithinMemory(docName, [&] { return tDocReader(docName); });

  // Every field comes from this file alone, whatever the object held before.
  ClearDocumentation();
  BackGround = bsGrayed;
  bool haveDataType = false, haveColumns = false, haveRows = false;
  double flag = 0;
  std::string line;
  WithinMemory(docName, [&] {
    while (reader.NextLine(line)) {
      const std::string key = line.substr(0, KeyWidth);
      const std::string value = line.size() > KeyWidth ? line.substr(KeyWidth) : std::string();
      if (key == kFileFormat) FileFormat = value.empty() ? DefaultFileFormat : value;
      if (key == kFileTitle) FileTitle = value;
      if (key == kRefSystem) RefSystem = value;
      if (key == kUnitDist) UnitDist = value;
      if (key == kPosnError) PosnError = value;
      if (key == kResolution) Resolution = value;
      if (key == kValueUnits) ValueUnits = value;
      if (key == kValueError) ValueError = value;
      if (key == kDataType) {
        const std::string v = LowerCase(Trim(value));
        DataType = v == "byte" ? idtByte : v == "integer" ? idtInteger : v == "real" ? idtReal : idtUnknown;
        haveDataType = true;
      }
      if (key == kFileType) {
        const std::string v = LowerCase(Trim(value));
        FileType = v == "ascii"           ? iftASCII
                   : v == "binary"        ? iftBinary
                   : v == "packed binary" ? iftPackedBinary
                                          : iftUnknown;
      }
      if (key == kColumns || key == kRows) {
        const Integer n = reader.Count(value);
        if (n < 1)
          throw EInOutError(reader.Where(
              Format("a map needs at least one %s, not %d", key == kColumns ? "column" : "row", n)));
        (key == kColumns ? Columns : Rows) = n;
        (key == kColumns ? haveColumns : haveRows) = true;
      }
      if (key == kLegendCats) LegendCats = reader.Count(value);
      if (key == kRefUnits) {
        RefUnits = value;
        UnitType = UnitTypeOf(value);
      }
      if (key == kMinX) minX = reader.Number(value);
      if (key == kMaxX) maxX = reader.Number(value);
      if (key == kMinY) minY = reader.Number(value);
      if (key == kMaxY) maxY = reader.Number(value);
      if (key == kMinValue) {
        MinValue = ToSingle(reader.Number(value));
        fHasMinValueLine = true;
      }
      if (key == kMaxValue) {
        MaxValue = ToSingle(reader.Number(value));
        fHasMaxValueLine = true;
      }
      if (key == kDisplayMin) DisplayMin = ToSingle(reader.Number(value));
      if (key == kDisplayMax) DisplayMax = ToSingle(reader.Number(value));
      if (key == kFlagValue) flag = SameText(Trim(value), "none") ? 0.0 : reader.Number(value);
      if (key == kFlagDefinition) {
        const std::string v = LowerCase(Trim(value));
        if (v == "background" || v == "missing data") BackGround = bsChecked;
        if (v == "no background") BackGround = bsUnchecked;
      }
      if (line.compare(0, 8, "category") == 0 || line.compare(0, 4, "code") == 0) Category.push_back(line);
      if (key == kComment) Comment.push_back(value);
      if (key == kLineage) Lineage.push_back(value);
      if (key == kCompleteness) Completeness.push_back(value);
      if (key == kConsistency) Consistency.push_back(value);
    }
  });
  const char* missing = !haveDataType ? kDataType : !haveColumns ? kColumns : !haveRows ? kRows : nullptr;
  if (missing)
    throw EInOutError(Format("The documentation file %s has no line \"%s\"", docName, Trim(missing)));
  // Cells of byte and integer maps are whole numbers, so their flag is too; a real
  // map keeps its flag as written, or its missing cells would no longer match it.
  BackGroundValue = (DataType == idtByte || DataType == idtInteger) ? ToSingle(std::nearbyint(flag)) : ToSingle(flag);
  ComputeCellSize();
}

std::string tRaster::MissingValueRangeLine() const {
  // The key's name, without its padding and separator.
  const auto name = [](const char* key) { return Trim(std::string_view(key).substr(0, KeyWidth - 2)); };
  if (!fHasMinValueLine) return name(kMinValue);
  if (!fHasMaxValueLine) return name(kMaxValue);
  return {};
}

void tRaster::ComputeCellSize() {
  // A map without columns or rows has no cell size.
  ResolutionX = Columns != 0 ? static_cast<Single>((maxX - minX) / Columns) : 0;
  ResolutionY = Rows != 0 ? static_cast<Single>((maxY - minY) / Rows) : 0;
}

void tRaster::ComputeResolution() {
  ComputeCellSize();
  // The mean of the two cell sizes, from the bounding box itself so that a cell
  // size of 0.1 is written as such.
  const Extended x = Columns != 0 ? (maxX - minX) / Columns : 0;
  const Extended y = Rows != 0 ? (maxY - minY) / Rows : 0;
  Resolution = DocNumber((x + y) / 2);
}

void tRaster::WriteDoc() {
  if (DisplayMin == DisplayMax) {
    DisplayMin = MinValue;
    DisplayMax = MaxValue;
  }
  const bool newer = IdrisiVersion == ivIdrisi32;
  if (newer && FileFormat.empty()) FileFormat = DefaultFileFormat;
  if (RefSystem.empty()) RefSystem = "plane";
  if (RefUnits.empty()) RefUnits = "unspecified";
  if (UnitDist.empty()) UnitDist = "1";
  if (Resolution.empty()) ComputeResolution();
  if (ValueUnits.empty()) ValueUnits = "unspecified";
  if (ValueError.empty()) ValueError = "unknown";

  std::string out;
  if (newer) WriteLine(out, kFileFormat, FileFormat);
  WriteLine(out, kFileTitle, FileTitle);
  WriteLine(out, kDataType, GISDataTypeName(DataType));
  WriteLine(out, kFileType, GISFileTypeName(FileType));
  WriteLine(out, kColumns, IntToStr(Columns));
  WriteLine(out, kRows, IntToStr(Rows));
  WriteLine(out, kRefSystem, RefSystem);
  WriteLine(out, kRefUnits, RefUnits);
  WriteLine(out, kUnitDist, UnitDist);
  WriteLine(out, kMinX, DocNumber(minX));
  WriteLine(out, kMaxX, DocNumber(maxX));
  WriteLine(out, kMinY, DocNumber(minY));
  WriteLine(out, kMaxY, DocNumber(maxY));
  WriteLine(out, kPosnError, PosnError);
  WriteLine(out, kResolution, Resolution);
  WriteLine(out, kMinValue, SingleToText(MinValue));
  WriteLine(out, kMaxValue, SingleToText(MaxValue));
  if (newer) {
    WriteLine(out, kDisplayMin, SingleToText(DisplayMin));
    WriteLine(out, kDisplayMax, SingleToText(DisplayMax));
  }
  WriteLine(out, kValueUnits, ValueUnits);
  WriteLine(out, kValueError, ValueError);
  WriteLine(out, kFlagValue, BackGround == bsChecked ? SingleToText(BackGroundValue) : "none");
  WriteLine(out, kFlagDefinition,
            BackGround == bsUnchecked ? "no background" : BackGround == bsChecked ? "background" : "none");
  WriteLine(out, kLegendCats, IntToStr(static_cast<Int64>(Category.size())));
  for (const auto& category : Category) out += category + "\r\n";
  for (const auto& comment : Comment) WriteLine(out, kComment, comment);
  for (const auto& lineage : Lineage) WriteLine(out, kLineage, lineage);
  for (const auto& completeness : Completeness) WriteLine(out, kCompleteness, completeness);
  for (const auto& consistency : Consistency) WriteLine(out, kConsistency, consistency);
  SaveTextToFile(DocFileName(), out);
}

// ---------------------------------------------------------------- tRaster: cells

void tRaster::OpenR(TIdrisiFile& F) const {
  CloseRaster(F);  // a record is reused only from a clean state
  F.typ = DataType;
  F.Bak = BackGround == bsChecked;
  F.BkV = BackGroundValue;
  F.fFileName = ImageFileName();
  F.Write = false;
  F.lu = 0;
  F.fCellsWritten = 0;
  CheckStorage(FileType, F.fFileName);
  if (Rows < 0 || Columns < 0)
    throw EInOutError(WithFileName(Format("A map cannot have %d rows and %d columns", Rows, Columns), F.fFileName));
  const Int64 cells = static_cast<Int64>(Rows) * Columns;
  F.F.Attach(OpenImageFile(F.fFileName, O_RDONLY));
  const Integer width = RecordWidth(F.typ);
  Int64 bufferCells = 0;
  if (width > 0 && cells > 0) {
    // Checked before anything is allocated, so that a garbled size cannot ask for
    // more memory than the file could fill.
    const Int64 size = FileSizeOf(F.F.Handle());
    if (size / width < cells) {
      F.F.Close();
      throw EInOutError(Format(
          "The image file \"%s\" holds %d cells, fewer than the %d x %d = %d cells of its documentation", F.fFileName,
          std::max<Int64>(size, 0) / width, Rows, Columns, cells));
    }
    bufferCells = std::min<Int64>(cells, BufferSize);
  }
  F.Tmp = std::make_unique<TDynSngVector>();
  F.Tmp->Initialize(1, static_cast<Integer>(bufferCells));
  F.fCells = F.Tmp->GetArray();
  F.fRecords.assign(F.typ == idtReal ? 0 : static_cast<size_t>(bufferCells * width), 0);
  F.fBlockCells = 0;
  F.fCellsLeft = cells;
  F.eof = cells == 0;
}

void tRaster::OpenW(TIdrisiFile& F) const {
  CloseRaster(F);
  F.typ = DataType;
  F.Bak = BackGround == bsChecked;
  F.BkV = BackGroundValue;
  F.fFileName = ImageFileName();
  F.lu = 0;
  F.fCellsLeft = 0;
  F.fCellsWritten = 0;
  CheckStorage(FileType, F.fFileName);
  const Integer width = RecordWidth(F.typ);
  if (width == 0) RaiseCannotStore(F.typ, F.fFileName);
  F.F.Attach(OpenImageFile(F.fFileName, O_WRONLY | O_CREAT | O_TRUNC));
  F.Tmp = std::make_unique<TDynSngVector>();
  F.Tmp->Initialize(1, BufferSize);
  F.fCells = F.Tmp->GetArray();
  F.fRecords.assign(F.typ == idtReal ? 0 : static_cast<size_t>(BufferSize) * width, 0);
  F.eof = false;
  F.Write = true;
}

namespace {
// Reads the whole map into a Rows x Columns matrix of any cell type.
template <class tMatrix>
tMatrix ReadWholeMap(const tRaster& raster) {
  TIdrisiFile F;
  raster.OpenR(F);  // before sizing the matrix: the image file must hold the cells
  // Cells of one byte in the file may take eight in memory.
  const double bytes =
      static_cast<double>(raster.Rows) *
      (static_cast<double>(raster.Columns) * sizeof(typename tMatrix::value_type::value_type) +
       sizeof(typename tMatrix::value_type));
  if (!MemoryAvailable(static_cast<uint64_t>(bytes))) RaiseNotEnoughMemory(F.fFileName);
  tMatrix m = WithinMemory(F.fFileName, [&] {
    return tMatrix(static_cast<size_t>(raster.Rows),
                   typename tMatrix::value_type(static_cast<size_t>(raster.Columns)));
  });
  size_t row = 0, col = 0;
  ForEachBlock(F, [&](const Single* cells, Cardinal count) {
    while (count > 0) {
      const size_t n = std::min<size_t>(count, m[row].size() - col);
      std::copy(cells, cells + n, m[row].begin() + static_cast<std::ptrdiff_t>(col));
      cells += n;
      count -= static_cast<Cardinal>(n);
      col += n;
      if (col == m[row].size()) col = 0, ++row;
    }
  });
  CloseRaster(F);
  return m;
}
}  // namespace

tMatrixOfDouble tRaster::AsMatrix() const { return ReadWholeMap<tMatrixOfDouble>(*this); }

tMatrixOfSingle tRaster::AsMatrixOfSingle() const { return ReadWholeMap<tMatrixOfSingle>(*this); }

tMatrixOfDouble RasterToMatrix(const std::string& FileName) { return tRaster(FileName).AsMatrix(); }

bool tRaster::CellInRange(Integer Row, Integer Col) const {
  return Row >= 0 && Row < Rows && Col >= 0 && Col < Columns;
}

namespace {
[[noreturn]] void RaiseCoordinates() {
  throw ERangeError("Coordinates must be between 0 and number of columns or rows.");
}
}  // namespace

Single tRaster::GetCells(Integer Row, Integer Col) const {
  if (!CellInRange(Row, Col)) RaiseCoordinates();
  return Offset(Col + static_cast<Int64>(Row) * Columns);
}

Single tRaster::Offset(Int64 Index) const {
  const std::string fileName = ImageFileName();
  const Integer width = RecordWidth(DataType);
  if (width == 0) throw EInOutError(WithFileName(BadTypeMessage, fileName));
  tImageFileHandle file;
  const int handle = OpenOnce(fileName, O_RDONLY);
  if (handle < 0) throw EInOutError(WithFileName("File reading error #2", fileName + ": " + SystemReason()));
  file.Attach(handle);
  Byte record[4];
  // An index beyond any file reads no record.
  const bool possible = Index >= 0 && Index < (Int64{1} << 60);
  const Int64 got = possible ? ReadFully(handle, record, width, Index * width) : 0;
  if (got < 0) throw EInOutError(WithFileName("File reading error #2", fileName + ": " + SystemReason()));
  if (got != width) {
    const char* message = DataType == idtReal      ? "File reading error #1a"
                          : DataType == idtInteger ? "File reading error #1b"
                                                   : "File reading error #1c";
    throw EInOutError(WithFileName(message, fileName));
  }
  return RecordToSingle(record, DataType);
}

namespace {
// Overwrites one existing record in place: the file keeps its length.
void WriteRecord(const std::string& fileName, Int64 index, const Byte* record, Integer width) {
  tImageFileHandle file;
  const int handle = OpenOnce(fileName, O_WRONLY);
  if (handle < 0) throw EInOutError(WithFileName("File writing error", fileName + ": " + SystemReason()));
  file.Attach(handle);
  if (index < 0 || index >= (Int64{1} << 60) || index * width + width > FileSizeOf(handle))
    throw EInOutError(WithFileName("File writing error", Format("%s: no record %d", fileName, index)));
  if (!WriteFully(handle, record, width, index * width) || !file.Close())
    throw EInOutError(WithFileName("File writing error", fileName + ": " + SystemReason()));
}
}  // namespace

void tRaster::OffsetWrite(Int64 Index, Byte Value) { WriteRecord(ImageFileName(), Index, &Value, 1); }

void tRaster::OffsetWrite(Int64 Index, SmallInt Value) {
  const uint16_t word = LittleEndian(static_cast<uint16_t>(Value));
  Byte record[2];
  std::memcpy(record, &word, 2);
  WriteRecord(ImageFileName(), Index, record, 2);
}

void tRaster::OffsetWrite(Int64 Index, Single Value) {
  const uint32_t word = LittleEndian(std::bit_cast<uint32_t>(Value));
  Byte record[4];
  std::memcpy(record, &word, 4);
  WriteRecord(ImageFileName(), Index, record, 4);
}

void tRaster::SetCells(Integer Row, Integer Col, Single Value) {
  // The map-file manager writes maps only through the block writer.
  if (ToolkitVariant() == tToolkitVariant::tvMapFileManager)
    throw EInvalidOperation("Guru's meditaion: SetCells has not yet been implemented");
  if (!CellInRange(Row, Col)) RaiseCoordinates();
  const Int64 index = Col + static_cast<Int64>(Row) * Columns;
  const std::string fileName = ImageFileName();
  uint64_t bits = 0;
  if (DataType == idtByte || DataType == idtInteger) {
    if (!HasWholeNumber(Value)) RaiseNotWholeNumber(Value, index, DataType, fileName);
    bits = WholeNumberBits(Value);
  }
  switch (DataType) {
    case idtByte:
      OffsetWrite(index, static_cast<Byte>(bits));
      break;
    case idtInteger:
      OffsetWrite(index, static_cast<SmallInt>(static_cast<uint16_t>(bits)));
      break;
    case idtReal:
      OffsetWrite(index, Value);
      break;
    default:
      RaiseCannotStore(DataType, fileName);
  }
}

// ---------------------------------------------------------------- tRaster: statistics

namespace {
[[noreturn]] void RaiseNoData(const std::string& fileName) {
  throw EInvalidOp(WithFileName("Map contains no data", fileName));
}

// Running mean of f(x) over the present cells: mean := mean x n/(n+1) + f(x)/(n+1).
// The message pump is let through after every cell from the first present one on
// when asked.
template <bool tLetMessagesThrough, class tTransform>
double RunningMean(const tRaster& raster, tTransform f) {
  TIdrisiFile F;
  raster.OpenR(F);
  double mean = 0;
  double n = 0;
  ForEachCell(F, [&](Single x, bool present) {
    if (present) {
      if (n == 0)
        mean = f(x);
      else
        mean = mean * (n / (n + 1)) + f(x) / (n + 1);
      n += 1;
    }
    if constexpr (tLetMessagesThrough)
      if (n > 0) ProcessMessages();
  });
  CloseRaster(F);
  if (n == 0) RaiseNoData(raster.ImageFileName());
  return mean;
}
}  // namespace

void tRaster::ComputeMean() {
  fMean = RunningMean<true>(*this, [](Single x) { return static_cast<double>(x); });
  fMeanComputed = true;
}

void tRaster::ComputeSD() {
  const double squares = RunningMean<false>(*this, [](Single x) { return static_cast<double>(x) * x; });
  const double mean = GetMean();
  // On a constant map rounding can leave the difference a hair below zero.
  const double variance = squares - mean * mean;
  fSD = variance > 0 ? std::sqrt(variance) : 0.0;
  fSDComputed = true;
}

double tRaster::GetMean() {
  if (!fMeanComputed) ComputeMean();
  return fMean;
}

double tRaster::GetSD() {
  if (!fSDComputed) ComputeSD();
  return fSD;
}

namespace {
// Widens [lowest, highest] to the present cells of one block; true when it held
// any. A function of its own, so that the compiler keeps the bounds in registers
// over the block rather than in memory across the block reads.
[[gnu::noinline]] bool RangeOfBlock(const Single* cells, Cardinal count, bool flagged, Single flag, Single& lowest,
                                    Single& highest) {
  Single low = lowest, high = highest;
  bool seen = false;
  for (Cardinal k = 0; k < count; ++k) {
    const Single x = cells[k];
    if (flagged && x == flag) continue;
    seen = true;
    if (x < low) low = x;
    if (x > high) high = x;
  }
  lowest = low;
  highest = high;
  return seen;
}
}  // namespace

void tRaster::Recompute() {
  TIdrisiFile F;
  OpenR(F);
  Single lowest = 3.4e38f;
  Single highest = -3.4e38f;
  bool any = false;
  const bool flagged = F.Bak;
  const Single flag = F.BkV;
  ForEachBlock(F, [&](const Single* cells, Cardinal count) {
    any |= RangeOfBlock(cells, count, flagged, flag, lowest, highest);
  });
  CloseRaster(F);
  if (any) {
    MinValue = lowest;
    MaxValue = highest;
  }
}

bool IsByteValue(Single x) {
  const double r = std::nearbyint(static_cast<double>(x));
  return r >= 0 && r <= 255;
}

bool HasDecimals(Single x) {
  const double value = x;
  return !(std::fabs(value - std::trunc(value)) <= 1e-8);
}

}  // namespace utile
