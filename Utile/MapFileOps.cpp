#include "Utile/MapFileOps.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <unistd.h>

#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"

namespace utile {

namespace {

// The map extension the name ends with, as written there; "" for another name.
std::string MapExtensionOf(const std::string& name) {
  const std::string extension = ExtractFileExt(name);
  const std::string lower = LowerCase(extension);
  if (!extension.empty() && (lower == LowerCase(DocExtension) || lower == LowerCase(ImageExtension))) return extension;
  return {};
}

// A stem that would put the file elsewhere, or nowhere, is refused before
// anything moves.
void CheckStem(const std::string& stem, const std::string& fileName) {
  if (stem.empty() || stem == "." || stem == ".." || stem.find('/') != std::string::npos ||
      stem.find('\0') != std::string::npos)
    throw EInOutError(Format("Cannot rename %s: \"%s\" is not a valid file name", ExtractFileName(fileName), stem));
}

// The stem and the extension that a rename keeps.
void SplitName(const std::string& fileName, std::string& stem, std::string& extension) {
  const std::string name = ExtractFileName(fileName);
  extension = IsRasterFile(fileName) ? MapExtensionOf(name) : ExtractFileExt(name);
  stem = name.substr(0, name.size() - extension.size());
}

void RequireRaster(const std::string& fileName) {
  if (!IsRasterFile(fileName))
    throw EInOutError(Format("%s is not a raster map: its documentation cannot be changed", ExtractFileName(fileName)));
}

}  // namespace

// ---------------------------------------------------------------- map names

bool IsRasterFile(const std::string& fileName) {
  const std::string extension = LowerCase(ExtractFileExt(fileName));
  return extension == LowerCase(DocExtension) || extension == LowerCase(ImageExtension);
}

std::string MapBaseName(const std::string& name) {
  const std::string extension = MapExtensionOf(name);
  return name.substr(0, name.size() - extension.size());
}

std::string ExtractMapName(const std::string& fileName) {
  const std::string name = ExtractFileName(fileName);
  return IsRasterFile(name) ? MapBaseName(name) : ChangeFileExt(name, "");
}

std::string DocumentationFileOf(const std::string& fileName) { return MapBaseName(fileName) + DocExtension; }

void DeleteMap(const std::string& name) {
  const std::string base = MapBaseName(name);
  bool found = false;
  for (const std::string& file : {base + ImageExtension, base + DocExtension}) {
    if (!EntryExists(file)) continue;
    found = true;
    if (::unlink(file.c_str()) != 0)
      throw EInOutError(Format("Cannot delete %s: %s", ExtractFileName(file), SystemReason(errno)));
  }
  if (!found) throw EInOutError(Format("%s: neither %s nor %s exists", ExtractFileName(base),
                                       ExtractFileName(base + DocExtension), ExtractFileName(base + ImageExtension)));
}

std::string ReplaceSuffix(const std::string& name, const std::string& suffix) {
  const std::string folder = ExtractFilePath(name);
  const std::string file = ExtractFileName(name);
  const std::string extension = MapExtensionOf(file);
  const std::string stem = file.substr(0, file.size() - extension.size());
  const size_t cut = stem.rfind('_');
  return folder + stem.substr(0, cut == std::string::npos ? stem.size() : cut) + suffix + extension;
}

std::string UnderscoreSuffix(const std::string& name) {
  const std::string stem = ExtractFileName(MapBaseName(name));
  const size_t cut = stem.rfind('_');
  return cut == std::string::npos ? std::string() : stem.substr(cut);
}

std::string InsertSuffix(const std::string& name, const std::string& suffix) {
  return ReplaceSuffix(name, suffix + UnderscoreSuffix(name));
}

// ---------------------------------------------------------------- deleting and renaming

std::vector<std::string> MapFiles(const std::string& fileName) {
  if (!IsRasterFile(fileName)) return EntryExists(fileName) ? std::vector<std::string>{fileName} : std::vector<std::string>{};
  const std::string base = MapBaseName(fileName);
  std::vector<std::string> files;
  for (const std::string& file : {base + DocExtension, base + ImageExtension})
    if (EntryExists(file)) files.push_back(file);
  return files;
}

void DeleteMapFile(const std::string& fileName) {
  if (IsRasterFile(fileName)) return DeleteMap(fileName);
  if (::unlink(fileName.c_str()) != 0)
    throw EInOutError(Format("Cannot delete %s: %s", ExtractFileName(fileName), SystemReason(errno)));
}

void RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  int error = errno;
  // File systems that cannot rename without replacing still link without
  // replacing.
  if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return;
      error = errno;
      ::unlink(to.c_str());
    } else {
      error = errno;
    }
  }
  if (error == EEXIST)
    throw EInOutError(Format("Cannot rename %s to %s: a file of that name exists already", ExtractFileName(from),
                             ExtractFileName(to)));
  throw EInOutError(
      Format("Cannot rename %s to %s: %s", ExtractFileName(from), ExtractFileName(to), SystemReason(error)));
}

tRenameResult RenameMap(const std::string& fileName, const tStemRule& newStem) {
  std::string stem, extension;
  SplitName(fileName, stem, extension);
  const std::string folder = ExtractFilePath(fileName);
  const std::string stemOut = newStem(stem);
  tRenameResult result;
  result.NewFileName = fileName;
  if (stemOut == stem) return result;
  CheckStem(stemOut, fileName);

  const std::vector<std::string> files = MapFiles(fileName);
  if (files.empty()) throw EInOutError(Format("%s does not exist", ExtractFileName(fileName)));
  std::vector<std::string> targets;
  for (const std::string& file : files) {
    std::string fileStem, fileExtension;
    SplitName(file, fileStem, fileExtension);
    targets.push_back(folder + stemOut + fileExtension);
  }
  // Every new name is checked free before the first file moves.
  for (size_t i = 0; i < files.size(); ++i)
    if (EntryExists(targets[i]))
      throw EInOutError(Format("Cannot rename %s to %s: a file of that name exists already",
                               ExtractFileName(files[i]), ExtractFileName(targets[i])));
  for (size_t i = 0; i < files.size(); ++i) {
    try {
      RenameWithoutReplacing(files[i], targets[i]);
    } catch (...) {
      // The files already moved go back, so that the map stays whole.
      for (size_t j = i; j > 0; --j) {
        try {
          RenameWithoutReplacing(targets[j - 1], files[j - 1]);
        } catch (...) {
        }
      }
      throw;
    }
  }
  result.Renamed = true;
  result.NewFileName = folder + stemOut + extension;
  return result;
}

std::string PatternStem(const std::string& pattern, Integer counter) {
  const std::string number = Format("%.3d", counter);
  std::string stem;
  for (const char c : pattern) {
    if (c == '#')
      stem += number;
    else
      stem += c;
  }
  return stem;
}

std::string WithoutUnderscores(const std::string& stem) {
  std::string result = stem;
  result.erase(std::remove(result.begin(), result.end(), '_'), result.end());
  return result;
}

std::string WithoutBadCharacters(const std::string& stem) {
  std::string result = stem;
  std::replace(result.begin(), result.end(), '(', '-');
  std::replace(result.begin(), result.end(), ')', '-');
  return result;
}

// ---------------------------------------------------------------- documentation

void AddComments(const std::string& fileName, const tVectorOfString& lines) {
  RequireRaster(fileName);
  tRaster map(fileName);
  map.Comment.insert(map.Comment.end(), lines.begin(), lines.end());
  map.WriteDoc();
}

void CleanMetadata(const std::string& fileName) {
  RequireRaster(fileName);
  tRaster map(fileName);
  map.Comment.clear();
  map.Lineage.clear();
  map.Completeness.clear();
  map.Consistency.clear();
  map.WriteDoc();
}

namespace {
// The lines whose values are numbers, each key in its 14 characters.
const char* const NumberKeys[] = {"unit dist.  : ", "min. X      : ", "max. X      : ", "min. Y      : ",
                                  "max. Y      : ", "pos'n error : ", "resolution  : ", "min. value  : ",
                                  "max. value  : ", "display min : ", "display max : ", "value error : ",
                                  "flag value  : "};
constexpr size_t KeyWidth = 14;

bool IsNumberLine(std::string_view line) {
  if (line.size() <= KeyWidth) return false;
  const std::string_view key = line.substr(0, KeyWidth);
  return std::any_of(std::begin(NumberKeys), std::end(NumberKeys), [key](const char* k) { return key == k; });
}
}  // namespace

bool RewriteDecimalSeparator(const std::string& fileName, char separator) {
  Assert(separator == '.' || separator == ',', "The decimal separator is \".\" or \",\".");
  RequireRaster(fileName);
  // The documentation must read as such before anything of it is rewritten.
  tRaster map(fileName);
  const std::string docName = map.DocFileName();
  const std::string text = LoadTextFromFile(docName);
  const char other = separator == '.' ? ',' : '.';

  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) end = text.size();
    size_t contentEnd = end;
    if (contentEnd > start && text[contentEnd - 1] == '\r') --contentEnd;
    const std::string_view line(text.data() + start, contentEnd - start);
    std::string content(line);
    if (IsNumberLine(line)) {
      double value;
      std::string v = content.substr(KeyWidth);
      if (TryStrToFloatAnySeparator(Trim(v), value)) {
        std::replace(v.begin(), v.end(), other, separator);
        content = content.substr(0, KeyWidth) + v;
      }
    }
    out += content;
    out.append(text, contentEnd, next - contentEnd);  // the line's own end, CR LF or LF
    start = next;
  }
  if (out == text) return false;
  SaveTextToFile(docName, out);
  return true;
}

// ---------------------------------------------------------------- the map viewer

tStartResult StartMapViewer(const std::string& programFolder, const std::string& fileName) {
  return StartDetached(IncludeTrailingPathDelimiter(programFolder) + "Orbisk", {"call", fileName});
}

std::string MapViewerFailureMessage(tStartResult result) {
  switch (result) {
    case tStartResult::srStarted:
      return {};
    case tStartResult::srNoResources:
      return "Out of memory error";
    default:
      return "Orbisk was not found or is corrupt";
  }
}

// ---------------------------------------------------------------- the walk

std::vector<std::string> MapsToWalk(const std::vector<tListedFile>& files, tWalkOrder order) {
  std::vector<std::string> maps;
  std::set<std::string> seen;
  auto visit = [&](const tListedFile& file) {
    if (!file.Selected) return;
    // Both files of a raster stand for one map.
    const std::string key = IsRasterFile(file.FileName) ? "map:" + MapBaseName(file.FileName) : "file:" + file.FileName;
    if (seen.insert(key).second) maps.push_back(file.FileName);
  };
  if (order == tWalkOrder::woFirstToLast)
    std::for_each(files.begin(), files.end(), visit);
  else
    std::for_each(files.rbegin(), files.rend(), visit);
  return maps;
}

std::string MapErrorLine(const std::string& fileName) {
  return Format("%s generated an error. Check it.", ExtractMapName(fileName));
}

std::string MapErrorReasonLine(const std::string& reason) { return "    " + reason; }

Integer WalkMaps(const std::vector<std::string>& fileNames, const tMapWalk& walk) {
  Integer failed = 0;
  Integer n = 0;
  for (const std::string& fileName : fileNames) {
    ++n;
    try {
      walk.Action(fileName, n);
    } catch (const std::exception& error) {
      ++failed;
      if (walk.Failed) walk.Failed(fileName, error.what());
    } catch (...) {
      ++failed;
      if (walk.Failed) walk.Failed(fileName, "An unknown error occurred.");
    }
  }
  return failed;
}

}  // namespace utile
