// What the tests of the map-file manager share: maps written through the raster
// routines into a temporary folder, the folder's bytes, and the list selection.
#pragma once

#include <QListWidget>
#include <QPlainTextEdit>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport/MapFiles.h"
#include "TestSupport/ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Idrisi.h"
#include "Utile/Platform.h"
#include "mapfiles/CustomPalometDialogs.h"
#include "mapfiles/dlgKelvoraU.h"

namespace testsupport {

inline std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : FolderFiles(folder)) names.push_back(name);
  return names;
}

// A map of Rows x Columns cells (row by row), written through tRaster.
inline void WriteMap(const std::string& name, utile::TGISDataType type, utile::Integer rows, utile::Integer columns,
                     const std::vector<utile::Single>& cells, double minValue, double maxValue,
                     utile::tBackgroundState background = utile::bsUnchecked, double flag = 0) {
  utile::tRaster map;
  map.FileName = name;
  map.DataType = type;
  map.Rows = rows;
  map.Columns = columns;
  map.maxX = columns;
  map.maxY = rows;
  map.MinValue = static_cast<utile::Single>(minValue);
  map.MaxValue = static_cast<utile::Single>(maxValue);
  map.BackGround = background;
  map.BackGroundValue = static_cast<utile::Single>(flag);
  map.FileTitle = "Test map";
  map.Comment = {"original"};
  map.Lineage = {"written by the test"};
  map.WriteDoc();
  utile::TIdrisiFile f;
  map.OpenW(f);
  for (utile::Single cell : cells) utile::WriteRaster(f, cell);
  utile::CloseRaster(f);
}

// Byte, integer and real maps of 2 x 2 cells.
inline void WriteSmallMap(const std::string& name, utile::TGISDataType type) {
  WriteMap(name, type, 2, 2, {0, 1, 2, 3}, 0, 3);
}

// Selects exactly the files named; the first of them gets the focus.
inline void Select(kelvora::TdlgKelvora& window, const QStringList& names) {
  window.cbMaps->clearSelection();
  bool first = true;
  for (int i = 0; i < window.cbMaps->count(); ++i) {
    QListWidgetItem* item = window.cbMaps->item(i);
    if (!names.contains(item->text())) continue;
    if (first) window.cbMaps->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    first = false;
    item->setSelected(true);
  }
}

inline QStringList Listed(const kelvora::TdlgKelvora& window) {
  QStringList names;
  for (int i = 0; i < window.cbMaps->count(); ++i) names << window.cbMaps->item(i)->text();
  return names;
}

inline QStringList LogLines(const kelvora::TdlgKelvora& window) {
  const QString text = window.mmOutput->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}


// What a window test of the map-file manager holds: a program folder (in the
// build tree, where the map viewer a test writes may run), a map folder that
// Kelvora is started on, scripted dialogs, and the window once opened. Call
// Start from init and Stop from cleanup.
class tKelvoraSession {
 protected:
  std::unique_ptr<tTempFolder> fProgram, fMaps;
  std::unique_ptr<kelvora::TdlgKelvora> fWindow;
  tScriptedDialogs* fDialogs = nullptr;

  void Start() {
    fProgram = std::make_unique<tTempFolder>(utile::ExecutableFolder());
    fMaps = std::make_unique<tTempFolder>();
    kelvora::SetProgramFolder(fProgram->Path());
    kelvora::SetProgramArguments({"call", fMaps->Path()});
    fDialogs = &InstallScriptedDialogs();
  }
  void Stop() {
    fWindow.reset();
    std::filesystem::current_path("/");
    fMaps.reset();
    fProgram.reset();
  }
  std::string M(const std::string& name) const { return fMaps->File(name); }
  // A window on the map folder showing every file.
  kelvora::TdlgKelvora& OpenWindow() {
    fWindow = std::make_unique<kelvora::TdlgKelvora>();
    fWindow->cbFilter->setCurrentIndex(fWindow->cbFilter->findText("All files (*.*)"));
    return *fWindow;
  }
};

}  // namespace testsupport
