// What the map-file manager does to map files without a window; here the names of
// raster maps: a map is the pair of its documentation and image files, named by
// either file or by the name without extension. Suffixes go in front of an existing
// map-kind suffix ("_QT"), so that forest_QT with the suffix "-mod" becomes
// forest-mod_QT.
#pragma once

#include <string>

namespace utile {

// The file name without folder and without extension: the name every message uses.
std::string ExtractMapName(const std::string& Name);
// Deletes the image file (Name with ImageExtension), then the documentation file
// (Name with DocExtension), each when it exists. EInOutError names a file that
// exists but cannot be deleted.
void DeleteMap(const std::string& Name);
// In the file-name part: cut at the last "_" (or, without one, at the extension),
// append Suffix, then the extension; the folder stays in front.
std::string ReplaceSuffix(const std::string& Name, const std::string& Suffix);
// The part of the file name from its last "_" up to its extension ("" without "_").
std::string UnderscoreSuffix(const std::string& Name);
// ReplaceSuffix(Name, Suffix + UnderscoreSuffix(Name)).
std::string InsertSuffix(const std::string& Name, const std::string& Suffix);

}  // namespace utile
