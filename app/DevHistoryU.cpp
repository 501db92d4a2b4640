#include "app/DevHistoryU.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/FormControls.h"

namespace vandrel {

TDevHistory* DevHistory = nullptr;

namespace {
const char* const History =
    "Vandrel 1.3.6.36\n"
    "- Batches keep the case of their values, so that file names reach the models as written.\n"
    "- A combo-box value outside its list fails only its own batch line.\n"
    "- Nothing that rebuilds a model is offered while that model runs; closing waits for the run to stop.\n"
    "\n"
    "Vandrel 1.3\n"
    "- Individual-based module 1.7: pedigree analyses, genomes generated along the pedigree, "
    "FSTAT and Genepop outputs, approximate Bayesian computation batches.\n"
    "- Big-matrix module 1.3: power iterations on matrices too large to store, sensitivity batches.\n"
    "- Graph module: connected groups of patches over a range of flux thresholds.\n"
    "\n"
    "Vandrel 1.2\n"
    "- Simple demographic module: metapopulation capacity, patch values and contributions to colonisation.\n"
    "- Permeability maps and least-cost links between patches.\n"
    "\n"
    "Vandrel 1.1\n"
    "- Demogenetic matrix module with coancestries and Fst.\n"
    "- Landscape files, background maps and the patch database.\n"
    "\n"
    "Vandrel 1.0\n"
    "- Landscapes of habitat patches generated on random, square, triangular, hexagonal and circular "
    "layouts.\n";
}  // namespace

TDevHistory::TDevHistory(QWidget* parent) : QDialog(parent) {
  setObjectName("DevHistory");
  setWindowTitle("Development history");
  mmHistory = new QPlainTextEdit(History, this);
  mmHistory->setObjectName("mmHistory");
  mmHistory->setReadOnly(true);
  btOK = NewButton(this, "btOK", "OK");
  btOK->setDefault(true);
  connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mmHistory);
  layout->addWidget(btOK, 0, Qt::AlignRight);
  resize(520, 380);
}

}  // namespace vandrel
