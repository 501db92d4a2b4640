#include "app/SensitivityPage.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <exception>
#include <map>

#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/gui/StringOps.h"
#include "app/ModelForm.h"
#include "app/FormControls.h"
#include "app/WindowServices.h"

namespace vandrel {

namespace {
const char* const BatchFilter = "Batch file (*.batch)|*.batch|All files (*.*)|*.*";
const char* const ValueListHint = "List of values, separated by \",\"";

// A double-click on a value edit asks for file names.
class tDoubleClickFilter : public QObject {
 public:
  tDoubleClickFilter(QObject* parent, tModelForm* form) : QObject(parent), fForm(form) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonDblClick) {
      Guarded(fForm, [&] { fForm->DoSensitivityDoubleClick(static_cast<QWidget*>(watched)); });
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  tModelForm* fForm;
};

// The odometer over the lists: each combination's values, each followed by ",",
// the last character then replaced by ")".
template <class tVisit>
void EachCombination(const std::string& keyword, const std::vector<utile::tVectorOfString>& lists,
                     tVisit visit) {
  std::vector<size_t> counters(lists.size(), 0);
  for (;;) {
    std::string line = keyword;
    for (size_t i = 0; i < lists.size(); ++i) line += lists[i][counters[i]] + ",";
    line.back() = ')';
    visit(line);
    size_t k = lists.size();
    while (k > 0) {
      --k;
      if (++counters[k] < lists[k].size()) break;
      counters[k] = 0;
      if (k == 0) return;
    }
    if (lists.empty()) return;
  }
}

long double Combinations(const std::vector<utile::tVectorOfString>& lists) {
  long double count = 1;
  for (const utile::tVectorOfString& list : lists) count *= static_cast<long double>(list.size());
  return count;
}
}  // namespace

// ------------------------------------------------------------ entries

std::string NameCaption(const QWidget* component, const std::string& prefix) {
  return utile::ReplaceFirst(component->objectName().toStdString(), prefix, "") + ":";
}

std::string TypePrefixCaption(const QWidget* component) {
  switch (ControlKind(component)) {
    case tControlKind::ckSpinEdit:
      return NameCaption(component, "se");
    case tControlKind::ckComboBox:
      return NameCaption(component, "cb");
    default:
      return NameCaption(component, "ed");
  }
}

bool ShownWithParent(const QWidget* component) {
  const QWidget* parent = component->parentWidget();
  if (!parent) return !component->isHidden();
  if (!component->isVisibleTo(parent)) return false;
  const QWidget* grandParent = parent->parentWidget();
  if (!grandParent || qobject_cast<const QStackedWidget*>(grandParent)) return true;
  return parent->isVisibleTo(grandParent);
}

tSensitivityEntries TaggedEntries(const tTaggedComponents& list, int32_t tag,
                                  bool (*accept)(const QWidget*)) {
  tSensitivityEntries entries;
  for (QWidget* component : list.WithTag(tag)) {
    if (accept && !accept(component)) continue;
    tSensitivityEntry entry;
    entry.Component = component;
    entry.Caption = TypePrefixCaption(component);
    entry.Hint = component->toolTip().toStdString();
    entries.push_back(entry);
  }
  return entries;
}

tSensitivityEntries LandscapeEntries(const tTaggedComponents& mainWindowList) {
  tSensitivityEntries landscape = TaggedEntries(mainWindowList, 1, IsEditControl);
  for (tSensitivityEntry& entry : landscape)
    if (ControlKind(entry.Component) == tControlKind::ckLabeledEdit) {
      entry.Caption = "";
      entry.WidthFactor = 3;
      entry.FilterKeys = false;
      entry.Tag = 2;
    }
  return landscape;
}

// ------------------------------------------------------------ the generator

std::vector<std::string> MakeBatch(const std::vector<utile::tVectorOfString>& LanList,
                                   const std::vector<utile::tVectorOfString>& ParamList, int32_t NbLandscapes,
                                   int32_t NbRuns) {
  for (const auto* lists : {&LanList, &ParamList})
    for (const utile::tVectorOfString& list : *lists)
      utile::Assert(!list.empty(), "Value list without values");
  const long double copies = std::max(NbLandscapes, 0), runs = std::max(NbRuns, 0);
  const long double total = Combinations(LanList) * copies * (1 + Combinations(ParamList) * runs);
  if (total > MaxBatchLines)
    throw utile::EConvertError(
        utile::Format("These lists make a batch of %.0f lines; at most %d lines can be made at once.",
                      static_cast<double>(total), static_cast<int32_t>(MaxBatchLines)));

  std::vector<std::string> simulations;
  EachCombination("Simulation(", ParamList, [&](const std::string& line) {
    for (int32_t k = 0; k < NbRuns; ++k) simulations.push_back(line);
  });
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(total));
  EachCombination("MakeLandscape(", LanList, [&](const std::string& line) {
    for (int32_t k = 0; k < NbLandscapes; ++k) {
      lines.push_back(line);
      lines.insert(lines.end(), simulations.begin(), simulations.end());
    }
  });
  return lines;
}

// ------------------------------------------------------------ value lists

tValueListBox::tValueListBox(const QString& title, QWidget* parent) : QWidget(parent) {
  lblTitle = new QLabel(title, this);
  QFont bold = lblTitle->font();
  bold.setBold(true);
  lblTitle->setFont(bold);
  sbox = new QScrollArea(this);
  sbox->setWidgetResizable(true);
  fContent = new QWidget;
  fGrid = new QGridLayout(fContent);
  fGrid->setContentsMargins(4, 4, 4, 4);
  fGrid->setVerticalSpacing(2);
  lblTemplate = NewLabel(fContent, "lblParam", "lblParam");
  edTemplate = new QLineEdit("0.5", fContent);
  edTemplate->setObjectName("edParam");
  edTemplate->setToolTip(ValueListHint);
  lblTemplate->hide();
  edTemplate->hide();
  fGrid->setColumnStretch(1, 1);
  fGrid->setRowStretch(0, 1);
  sbox->setWidget(fContent);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(lblTitle);
  layout->addWidget(sbox, 1);
}

void tValueListBox::Build(const tSensitivityEntries& entries, tModelForm* form) {
  std::map<QString, QString> edited;
  for (size_t i = 0; i < Edits.size(); ++i)
    if (!Labels[i]->text().isEmpty() && Edits[i]->text() != Edits[i]->property("BuiltText").toString())
      edited[Labels[i]->text()] = Edits[i]->text();
  for (QLabel* label : Labels) delete label;
  for (QLineEdit* edit : Edits) delete edit;
  Labels.clear();
  Edits.clear();
  fGrid->setRowStretch(0, 0);
  int row = 0;
  for (const tSensitivityEntry& entry : entries) {
    auto* label = new QLabel(QString::fromStdString(entry.Caption), fContent);
    label->setObjectName(QString("lblParam%1").arg(row));
    label->setToolTip(QString::fromStdString(entry.Hint));
    const QString text = QString::fromStdString(entry.Text ? *entry.Text : ControlText(entry.Component));
    auto* edit = new QLineEdit(text, fContent);
    edit->setProperty("BuiltText", text);
    if (const auto kept = edited.find(label->text()); kept != edited.end()) edit->setText(kept->second);
    edit->setObjectName(QString("edParam%1").arg(row));
    edit->setToolTip(edTemplate->toolTip());
    edit->setProperty("Tag", entry.Tag);
    edit->setProperty("AllowEmpty", entry.AllowEmpty);
    if (entry.WidthFactor > 1) edit->setMinimumWidth(edTemplate->sizeHint().width() * entry.WidthFactor);
    if (entry.FilterKeys) utile::gui::InstallKeyFilter(edit, utile::gui::EditRealList);
    if (form) edit->installEventFilter(new tDoubleClickFilter(edit, form));
    label->setBuddy(edit);
    label->setVisible(entry.Visible);
    edit->setVisible(entry.Visible);
    fGrid->addWidget(label, row, 0);
    fGrid->addWidget(edit, row, 1);
    Labels.push_back(label);
    Edits.push_back(edit);
    ++row;
  }
  // The lists stand at the top; the empty rows below take the height.
  fGrid->addWidget(lblTemplate, row, 0);
  fGrid->addWidget(edTemplate, row, 1);
  fGrid->setRowStretch(row, 1);
}

utile::tVectorOfString tValueListBox::Captions() const {
  utile::tVectorOfString captions;
  for (const QLabel* label : Labels) captions.push_back(label->text().toStdString());
  return captions;
}

std::vector<utile::tVectorOfString> tValueListBox::Lists() const {
  std::vector<utile::tVectorOfString> lists;
  for (size_t i = 0; i < Edits.size(); ++i) {
    const std::string text = Edits[i]->text().toStdString();
    if (QString::fromStdString(text).trimmed().isEmpty() && !Edits[i]->property("AllowEmpty").toBool())
      throw utile::EConvertError(utile::Format("The value list \"%s\" of \"%s\" is empty.",
                                               Labels[i]->text().toStdString(),
                                               lblTitle->text().toStdString()));
    utile::tVectorOfString values;
    utile::Tabulate(text, ',', values, false, 0);
    lists.push_back(std::move(values));
  }
  return lists;
}

// ------------------------------------------------------------ the page

tSensitivityPage::tSensitivityPage(tModelForm* form, const tSensitivityPageStyle& style, QWidget* parent)
    : QWidget(parent), fForm(form) {
  setObjectName("tsSensitivity");
  auto spin = [this, &style](const char* name) {
    QSpinBox* result = NewSpinEdit(this, name, 1, 10000000, 1);
    if (!style.CopiesHint.empty()) result->setToolTip(QString::fromStdString(style.CopiesHint));
    return result;
  };
  auto button = [this, &style](const char* name, const char* caption, bool ellipsis, const char* hint) {
    QPushButton* result = NewButton(this, name, caption);
    if (ellipsis && style.FileButtonEllipsis) result->setText(result->text() + "...");
    if (style.ButtonHints) result->setToolTip(hint);
    return result;
  };

  sboxLanSensitivity = new tValueListBox("Landscape geometry", this);
  sboxLanSensitivity->sbox->setObjectName("sboxLanSensitivity");
  sboxLanSensitivity->lblTemplate->setObjectName("lblLanParam");
  sboxLanSensitivity->edTemplate->setObjectName("edLanParam");
  sboxSensitivity = new tValueListBox("Model parameters", this);
  sboxSensitivity->sbox->setObjectName("sboxSensitivity");
  seNbLandscapes = spin("seNbLandscapes");
  seNbRuns = spin("seNbRuns");
  edOutputFile = new tLabeledEdit("&Output file:", QString::fromStdString(style.OutputFile), this);
  edOutputFile->setObjectName("edOutputFile");
  btMakeBatch = button("btMakeBatch", "&Make batch", false,
                       "Make sensitivity analysis batch following the values above");
  btAppendToBatch = button(
      "btAppendToBatch", "&Append to batch", false,
      "Make sensitivity analysis batch following the values above and append it to the existing batch");
  btRunBatch = button("btRunBatch", "&Run batch", false, "Run this batch");
  btLoadBatch = button("btLoadBatch", "&Load batch", true, "Load a previously saved batch");
  btSaveBatch = button("btSaveBatch", "&Save batch", true, "Save this batch to a file");
  btClearBatch = button("btClearBatch", "&Clear batch", true, "Clear the batch");
  mmBatch = new QPlainTextEdit(this);
  mmBatch->setObjectName("mmBatch");
  mmBatch->setLineWrapMode(QPlainTextEdit::NoWrap);
  // The failures of a batch show where it ran, not only in its result file.
  lblBatchErrors = NewLabel(this, "lblBatchErrors", "");
  lblBatchErrors->setStyleSheet("color: #c00000; font-weight: bold");
  lblBatchErrors->hide();
  connect(form, &tModelForm::BatchStarted, this, [this] {
    lblBatchErrors->clear();
    lblBatchErrors->hide();
  });
  connect(form, &tModelForm::BatchFinished, this, [this] {
    lblBatchErrors->setText(QString::fromStdString(fForm->BatchErrorLine()));
    lblBatchErrors->setVisible(!lblBatchErrors->text().isEmpty());
  });

  auto listColumn = [this](tValueListBox* box, QSpinBox* copies, const char* caption) {
    auto* column = new QVBoxLayout;
    column->addWidget(box, 1);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(caption, this);
    label->setBuddy(copies);
    row->addWidget(label);
    row->addWidget(copies);
    row->addStretch(1);
    column->addLayout(row);
    return column;
  };
  OptionsLayout = new QVBoxLayout;
  auto* lists = new QHBoxLayout;
  lists->addLayout(listColumn(sboxLanSensitivity, seNbLandscapes, "Number of landscapes:"), 1);
  lists->addLayout(listColumn(sboxSensitivity, seNbRuns, "Number of runs:"), 1);
  lists->addLayout(OptionsLayout);

  auto* output = new QHBoxLayout;
  output->addWidget(edOutputFile->EditLabel);
  output->addWidget(edOutputFile, 1);
  ButtonLayout = new QHBoxLayout;
  for (QPushButton* b : {btMakeBatch, btAppendToBatch, btClearBatch, btLoadBatch, btSaveBatch, btRunBatch})
    ButtonLayout->addWidget(b);
  ButtonLayout->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(lists, 3);
  layout->addLayout(output);
  layout->addLayout(ButtonLayout);
  layout->addWidget(lblBatchErrors);
  layout->addWidget(mmBatch, 2);

  connect(btMakeBatch, &QPushButton::clicked, this, [this] { Guarded(&tSensitivityPage::btMakeBatchClick); });
  connect(btAppendToBatch, &QPushButton::clicked, this,
          [this] { Guarded(&tSensitivityPage::btAppendToBatchClick); });
  connect(btClearBatch, &QPushButton::clicked, this,
          [this] { Guarded(&tSensitivityPage::btClearBatchClick); });
  connect(btLoadBatch, &QPushButton::clicked, this, [this] { Guarded(&tSensitivityPage::btLoadBatchClick); });
  connect(btSaveBatch, &QPushButton::clicked, this, [this] { Guarded(&tSensitivityPage::btSaveBatchClick); });
}

void tSensitivityPage::Guarded(void (tSensitivityPage::*command)()) {
  vandrel::Guarded(this, [this, command] { (this->*command)(); });
}

void tSensitivityPage::BuildSensitivityPage(const tSensitivityEntries& landscape,
                                            const tSensitivityEntries& model) {
  sboxLanSensitivity->Build(landscape, fForm);
  sboxSensitivity->Build(model, fForm);
}

std::vector<std::string> tSensitivityPage::MakeBatch() {
  // Both lists are read before either field changes, so that a refused list
  // leaves the last batch's lists in place.
  auto landscape = sboxLanSensitivity->Lists();
  auto model = sboxSensitivity->Lists();
  std::vector<std::string> lines =
      vandrel::MakeBatch(landscape, model, seNbLandscapes->value(), seNbRuns->value());
  LanList = std::move(landscape);
  ParamList = std::move(model);
  return lines;
}

std::vector<std::string> tSensitivityPage::BatchLines() const {
  std::vector<std::string> lines;
  const QString text = mmBatch->toPlainText();
  if (text.isEmpty()) return lines;
  for (const QString& line : text.split('\n')) lines.push_back(line.toStdString());
  return lines;
}

void tSensitivityPage::SetBatchLines(const std::vector<std::string>& lines) {
  mmBatch->setPlainText(utile::gui::JoinLines(lines));
  emit BatchChanged(static_cast<int>(BatchLines().size()));
}

void tSensitivityPage::AppendBatchLines(const std::vector<std::string>& lines) {
  std::vector<std::string> all = BatchLines();
  all.insert(all.end(), lines.begin(), lines.end());
  SetBatchLines(all);
}

void tSensitivityPage::btMakeBatchClick() {
  SetBatchLines(MakeBatch());
}

void tSensitivityPage::btAppendToBatchClick() {
  AppendBatchLines(MakeBatch());
}

void tSensitivityPage::btClearBatchClick() {
  SetBatchLines({});
}

void tSensitivityPage::btLoadBatchClick() {
  const auto name = Dialogs().OpenFileName(this, "Select batch file", BatchFilter, "batch");
  if (!name) return;
  const std::string text = utile::LoadTextFromFile(*name);
  std::vector<std::string> lines;
  utile::Tabulate(text, '\n', lines, false, 0);
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  // The end of the last line is no line of its own.
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  SetBatchLines(lines);
}

void tSensitivityPage::btSaveBatchClick() {
  const auto name = Dialogs().SaveFileName(this, "Save batch file", BatchFilter, "batch", true);
  if (!name) return;
  std::string text;
  for (const std::string& line : BatchLines()) text += line + "\r\n";
  utile::SaveTextToFile(*name, text);
}

}  // namespace vandrel
