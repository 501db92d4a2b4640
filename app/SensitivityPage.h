// The sensitivity page that the workbenches share: one value list per batch
// parameter (the landscape's and the workbench's), the generator that turns the
// lists into batch lines, and the batch memo with its commands. Each workbench
// says which controls its lists stand for and how they are captioned; the page
// knows nothing of any model.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "app/TaggedControls.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QGridLayout;
class QHBoxLayout;
class QVBoxLayout;

namespace vandrel {

class tModelForm;

// One value list: the control it stands for and how its label and edit look.
struct tSensitivityEntry {
  QWidget* Component = nullptr;  // its current text starts the list
  std::string Caption;           // of the label: "Fecundity:"
  std::string Hint;              // of the label; empty: none
  bool FilterKeys = true;        // typing goes through the real-list key filter
  int WidthFactor = 1;           // the edit's width in template widths
  int32_t Tag = 0;               // the value edit's own Tag (property "Tag")
  bool Visible = true;
  bool AllowEmpty = false;  // an empty list stands for one empty value (a file name not in use)
  // The list's first text when the component's own text is not it (a row of a
  // string grid); without it, the component's text.
  std::optional<std::string> Text;
};
using tSensitivityEntries = std::vector<tSensitivityEntry>;

// The component's name with the first occurrence of prefix removed, then ":".
std::string NameCaption(const QWidget* component, const std::string& prefix);
// The name less its type prefix ("se" for a spin edit, "cb" for a combo box,
// "ed" for anything else), then ":".
std::string TypePrefixCaption(const QWidget* component);
// Whether the component shows when its window does: neither it nor its parent
// is hidden (a page of a tab control counts as shown: it shows when chosen).
bool ShownWithParent(const QWidget* component);
// One entry per component of the list with this Tag (and accepted, when accept
// is given), in component order: captioned by TypePrefixCaption, hinted with the
// component's hint, keys filtered.
tSensitivityEntries TaggedEntries(const tTaggedComponents& list, int32_t tag,
                                  bool (*accept)(const QWidget*) = nullptr);
// The landscape list of the workbenches' pages: the main window's Tag-1 edit
// controls in order (exactly what a landscape line fills first, so that a
// generated line puts each value where its label says); the labelled edits get
// an empty caption and a wide value edit of Tag 2 that takes any text.
tSensitivityEntries LandscapeEntries(const tTaggedComponents& mainWindowList);

// The batch lines of every combination of the value lists: a landscape line per
// combination of LanList (the last list changing fastest), NbLandscapes times,
// each copy followed by a simulation line per combination of ParamList, each
// NbRuns times. Without lists a keyword ends in ")" alone ("MakeLandscape)"),
// which the batch skips. EConvertError for a batch of more than MaxBatchLines.
constexpr int64_t MaxBatchLines = 1000000;
std::vector<std::string> MakeBatch(const std::vector<utile::tVectorOfString>& LanList,
                                   const std::vector<utile::tVectorOfString>& ParamList, int32_t NbLandscapes,
                                   int32_t NbRuns);

// A titled scroll box of value lists: one label and one value edit per entry,
// stacked under hidden templates that give the edits their hint and width.
class tValueListBox : public QWidget {
  Q_OBJECT
 public:
  tValueListBox(const QString& title, QWidget* parent);

  QLabel* lblTitle;
  QScrollArea* sbox;
  QLabel* lblTemplate;    // hidden
  QLineEdit* edTemplate;  // hidden; "0.5", the value lists' hint
  std::vector<QLabel*> Labels;
  std::vector<QLineEdit*> Edits;

  // Replaces the lists by one per entry; a double-click on a value edit lets
  // the user pick file names through form (nullptr: none). A list that the user
  // changed since it was built keeps its text when the new entries have a list
  // of the same (non-empty) caption.
  void Build(const tSensitivityEntries& entries, tModelForm* form);
  // The labels' captions in order.
  utile::tVectorOfString Captions() const;
  // Each edit's text split at ","; EConvertError naming the list for an empty one
  // (unless its entry allows it).
  std::vector<utile::tVectorOfString> Lists() const;

 private:
  QWidget* fContent;
  QGridLayout* fGrid;
};

// How a workbench's page differs from the others'.
struct tSensitivityPageStyle {
  std::string OutputFile = "BatchResults.txt";
  bool FileButtonEllipsis = true;  // "&Load batch..." rather than "&Load batch"
  bool ButtonHints = true;
  std::string CopiesHint;  // hint of both copy counts; empty: none
};

class tSensitivityPage : public QWidget {
  Q_OBJECT
 public:
  tSensitivityPage(tModelForm* form, const tSensitivityPageStyle& style, QWidget* parent);

  tValueListBox* sboxLanSensitivity;  // "Landscape geometry"
  tValueListBox* sboxSensitivity;     // "Model parameters"
  QSpinBox* seNbLandscapes;
  QSpinBox* seNbRuns;
  tLabeledEdit* edOutputFile;
  QPushButton *btMakeBatch, *btAppendToBatch, *btRunBatch, *btLoadBatch, *btSaveBatch, *btClearBatch;
  QPlainTextEdit* mmBatch;
  // After a batch with failed lines, the line that ends its result file ("******* n
  // errors encountered"); empty otherwise and while a batch runs.
  QLabel* lblBatchErrors;
  // Where a workbench puts its own controls of the page: a column beside the
  // lists, and the row of batch buttons (after "&Run batch").
  QVBoxLayout* OptionsLayout;
  QHBoxLayout* ButtonLayout;

  // The split value lists of the last MakeBatch.
  std::vector<utile::tVectorOfString> LanList, ParamList;

  // The generated edits and labels, model side and landscape side.
  const std::vector<QLineEdit*>& edParams() const { return sboxSensitivity->Edits; }
  const std::vector<QLineEdit*>& edLanParams() const { return sboxLanSensitivity->Edits; }
  const std::vector<QLabel*>& lblParams() const { return sboxSensitivity->Labels; }
  const std::vector<QLabel*>& lblLanParams() const { return sboxLanSensitivity->Labels; }

  // Fills both sides, each in the order given.
  void BuildSensitivityPage(const tSensitivityEntries& landscape, const tSensitivityEntries& model);

  // Splits the edits into LanList and ParamList and returns their batch.
  std::vector<std::string> MakeBatch();
  std::vector<std::string> BatchLines() const;
  void SetBatchLines(const std::vector<std::string>& lines);
  void AppendBatchLines(const std::vector<std::string>& lines);

  // The commands of the page's buttons (an error leaves the memo as it was).
  void btMakeBatchClick();
  void btAppendToBatchClick();
  void btClearBatchClick();
  void btLoadBatchClick();
  void btSaveBatchClick();

 signals:
  // The memo's lines were replaced, extended or cleared.
  void BatchChanged(int lineCount);

 private:
  // Runs a button's command; a failure is shown to the user.
  void Guarded(void (tSensitivityPage::*command)());
  tModelForm* fForm;
};

}  // namespace vandrel
