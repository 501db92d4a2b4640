#include "Utile/MapFileOps.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"

namespace utile {

namespace {
// The extension of a file name: from its last dot, when no "_" follows that dot.
size_t ExtensionStart(const std::string& file) {
  const size_t dot = file.rfind('.');
  const size_t underscore = file.rfind('_');
  if (dot == std::string::npos || (underscore != std::string::npos && underscore > dot)) return file.size();
  return dot;
}

void DeleteIfPresent(const std::string& fileName) {
  if (!FileExists(fileName)) return;
  if (std::remove(fileName.c_str()) != 0)
    throw EInOutError(Format("Cannot delete file \"%s\": %s", fileName, std::strerror(errno)));
}
}  // namespace

std::string ExtractMapName(const std::string& Name) { return ChangeFileExt(ExtractFileName(Name), ""); }

void DeleteMap(const std::string& Name) {
  DeleteIfPresent(ChangeFileExt(Name, ImageExtension));
  DeleteIfPresent(ChangeFileExt(Name, DocExtension));
}

std::string ReplaceSuffix(const std::string& Name, const std::string& Suffix) {
  const std::string folder = ExtractFilePath(Name);
  const std::string file = ExtractFileName(Name);
  const size_t extension = ExtensionStart(file);
  const size_t underscore = file.rfind('_');
  const size_t cut = underscore != std::string::npos ? underscore : extension;
  return folder + file.substr(0, cut) + Suffix + file.substr(extension);
}

std::string UnderscoreSuffix(const std::string& Name) {
  const std::string file = ExtractFileName(Name);
  const size_t underscore = file.rfind('_');
  if (underscore == std::string::npos) return {};
  return file.substr(underscore, ExtensionStart(file) - underscore);
}

std::string InsertSuffix(const std::string& Name, const std::string& Suffix) {
  return ReplaceSuffix(Name, Suffix + UnderscoreSuffix(Name));
}

}  // namespace utile
