#include "mapfiles/KelvoraHelp.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "Utile/gui/FormControls.h"

namespace kelvora {

TfKelvoraHelp* fKelvoraHelp = nullptr;

namespace {
const char* const HelpText =
    "Kelvora manages raster maps in the Idrisi format. A map is a pair of files: a text documentation file "
    "(.rdc, or .doc in the older convention) and a binary image file (.rst, or .img) of byte, integer or real "
    "cells. The older convention is in force when a file idrisi.env lies beside the program.\n"
    "\n"
    "MAP FILES\n"
    "Pick a drive and double-click a folder to enter it; the file list shows the files of that folder that match "
    "the filter below it. Select one or more files (Ctrl and Shift add to the selection). Every operation acts on "
    "the selected files; a map selected by both of its files is handled once. A map is always handled as its two "
    "files together. After each operation the list is read again from the disk, and the log at the bottom says what "
    "was done to each map. A map that fails is reported there and the operation goes on with the next one.\n"
    "\n"
    "FILE MANAGEMENT\n"
    "Delete...: deletes the selected maps and files, after a question.\n"
    "Add prefix, Add suffix: put the text of the box in front of the name, or at its end. The suffix goes in front "
    "of an existing suffix of the map's kind: forest_QT with _v2 becomes forest_v2_QT.\n"
    "Rename: names the maps after the pattern, where each # stands for a number counted from 001: Forest# gives "
    "Forest001, Forest002 and so on, in list order.\n"
    "Remove \"_\", Remove bad characters: take the underscores out of the names, or turn brackets into dashes.\n"
    "No rename ever replaces a file: a name that is taken already is reported and the map keeps its name.\n"
    "Clean metadata...: empties the comments, lineage, completeness and consistency lines of the documentation.\n"
    "Decimal sep. to \".\" and to \",\": rewrite the decimal separator of the numbers of the documentation.\n"
    "Display...: opens the selected maps in the map viewer Orbisk, which must lie beside Kelvora.\n"
    "\n"
    "DATA TYPE MANAGEMENT\n"
    "Converts the cells of the maps to another type, or modifies their values; the result replaces the map or "
    "is saved under the map's name with a suffix.\n"
    "\n"
    "METADATA, COMMENTS\n"
    "The Metadata page shows the documentation of the map that has the focus in the list. On the Comments page, "
    "Add comments appends the lines typed to the comments of every selected map.\n"
    "\n"
    "CONVERSION\n"
    "Exports the maps as pictures or matrices. The preview shows the first selected map with the chosen palette; "
    "untick its box to hide it.\n"
    "\n"
    "Kelvora starts in the folder it last worked in. Started with the arguments call and a folder, it opens that "
    "folder instead.";
}  // namespace

TfKelvoraHelp::TfKelvoraHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("fKelvoraHelp");
  setWindowTitle("Kelvora help");
  mmHelp = utile::gui::NewMemo(this, "mmHelp", true);
  mmHelp->setPlainText(HelpText);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mmHelp);
  resize(560, 480);
}

TfKelvoraHelp::~TfKelvoraHelp() {
  if (fKelvoraHelp == this) fKelvoraHelp = nullptr;
}

}  // namespace kelvora
