// Raster maps made and read back byte by byte in tests, without the raster unit:
// documentation files in the format's published form, image files of
// little-endian records, and a strict reader of documentation files.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testsupport {

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The names in a folder, sorted.
inline std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// The contents of the files in a folder by name (folders left out).
inline std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
  return files;
}

// Marks a file or folder immutable (nothing moves in or out, whoever asks);
// false where the file system or the process cannot.
inline bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return done;
}

// Makes a folder one in which nothing can be made, renamed or removed: immutable,
// or, for a process without the right to that (not the superuser), without write
// permission, which binds it all the same. False where neither can be done.
inline bool SetUnwritableFolder(const std::string& folder, bool on) {
  if (SetImmutable(folder, on)) return true;
  struct stat status;
  if (::geteuid() == 0 || ::stat(folder.c_str(), &status) != 0) return false;
  const mode_t mode = on ? status.st_mode & ~mode_t{0222} : status.st_mode | S_IWUSR;
  return ::chmod(folder.c_str(), mode & 07777) == 0;
}

// Writes past `bytes` fail in its scope (SIGXFSZ ignored: the write reports it).
class tFileSizeLimit {
public:
  explicit tFileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &fSaved);
    rlimit limit = fSaved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~tFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &fSaved); }

private:
  rlimit fSaved;
};

// Records of "byte", "integer" or "real" cells (little-endian, as this machine).
inline std::string EncodeCells(const std::string& type, const std::vector<double>& cells) {
  std::string bytes;
  for (double v : cells) {
    const auto b = static_cast<uint8_t>(v);
    const auto i = static_cast<int16_t>(v);
    const auto f = static_cast<float>(v);
    if (type == "byte") bytes.append(reinterpret_cast<const char*>(&b), 1);
    if (type == "integer") bytes.append(reinterpret_cast<const char*>(&i), 2);
    if (type == "real") bytes.append(reinterpret_cast<const char*>(&f), 4);
  }
  return bytes;
}

inline std::vector<double> DecodeCells(const std::string& type, const std::string& bytes) {
  std::vector<double> cells;
  const size_t width = type == "byte" ? 1 : type == "integer" ? 2 : 4;
  for (size_t at = 0; at + width <= bytes.size(); at += width) {
    uint8_t b;
    int16_t i;
    float f;
    std::memcpy(width == 1 ? static_cast<void*>(&b) : width == 2 ? static_cast<void*>(&i) : &f, &bytes[at], width);
    cells.push_back(width == 1 ? b : width == 2 ? i : f);
  }
  return cells;
}

// A map of one row (or of the given columns) as the format's other programs write
// it; `flag` and `definition` are the values of the flag lines.
inline void MakeMapFiles(const std::string& stem, const std::string& type, const std::vector<double>& cells,
                         double min, double max, const std::string& flag = "none",
                         const std::string& definition = "none", int columns = 0) {
  if (columns == 0) columns = static_cast<int>(cells.size());
  std::ostringstream doc;
  doc.precision(9);
  doc << "file format : IDRISI Raster A.1\r\nfile title  : made by hand\r\n"
      << "data type   : " << type << "\r\nfile type   : binary\r\n"
      << "columns     : " << columns << "\r\nrows        : " << cells.size() / columns << "\r\n"
      << "ref. system : plane\r\nref. units  : m\r\nunit dist.  : 1\r\n"
      << "min. X      : 0\r\nmax. X      : " << columns
      << "\r\nmin. Y      : 0\r\nmax. Y      : " << cells.size() / columns
      << "\r\npos'n error : unknown\r\nresolution  : 1\r\n"
      << "min. value  : " << min << "\r\nmax. value  : " << max << "\r\n"
      << "display min : " << min << "\r\ndisplay max : " << max << "\r\n"
      << "value units : unspecified\r\nvalue error : unknown\r\n"
      << "flag value  : " << flag << "\r\nflag def'n  : " << definition << "\r\n"
      << "legend cats : 0\r\ncomment     : kept\r\nlineage     : made by hand\r\n";
  WriteFileBytes(stem + ".rdc", doc.str());
  WriteFileBytes(stem + ".rst", EncodeCells(type, cells));
}

// A documentation file read strictly: CR LF after every line, every key one of the
// format's in the format's order. Values by trimmed key, in file order.
using tDocValues = std::map<std::string, std::vector<std::string>>;

inline tDocValues ReadDocStrictly(const std::string& path) {
  static const char* const Keys[] = {
      "file format : ", "file title  : ", "data type   : ", "file type   : ", "columns     : ",
      "rows        : ", "ref. system : ", "ref. units  : ", "unit dist.  : ", "min. X      : ",
      "max. X      : ", "min. Y      : ", "max. Y      : ", "pos'n error : ", "resolution  : ",
      "min. value  : ", "max. value  : ", "display min : ", "display max : ", "value units : ",
      "value error : ", "flag value  : ", "flag def'n  : ", "legend cats : ", "comment     : ",
      "lineage     : ", "completeness: ", "consistency : "};
  tDocValues values;
  const std::string text = ReadFileBytes(path);
  size_t at = 0, order = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << path << ": a line without CR LF";
      break;
    }
    const std::string line = text.substr(at, end - at);
    at = end + 2;
    size_t k = order;
    while (k < std::size(Keys) && line.compare(0, 14, Keys[k]) != 0) ++k;
    if (k == std::size(Keys)) {
      ADD_FAILURE() << path << ": key out of place in \"" << line << "\"";
      continue;
    }
    order = k;
    std::string key = std::string(Keys[k]).substr(0, 12);
    key.erase(key.find_last_not_of(' ') + 1);
    values[key].push_back(line.substr(14));
  }
  return values;
}

}  // namespace testsupport
