#include "app/TaggedControls.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextEdit>
#include <algorithm>
#include <limits>

#include "Utile/StringOps.h"

namespace vandrel {

tLabeledEdit::tLabeledEdit(const QString& caption, const QString& text, QWidget* parent)
    : QLineEdit(text, parent) {
  EditLabel = new QLabel(caption, parent);
  EditLabel->setBuddy(this);
}

void tLabeledEdit::SetShown(bool shown) {
  setVisible(shown);
  EditLabel->setVisible(shown);
}

void tLabeledEdit::SetEnabledWithLabel(bool enabled) {
  setEnabled(enabled);
  EditLabel->setEnabled(enabled);
}

void tTaggedComponents::Add(QWidget* component, int32_t tag) {
  utile::Assert(component != nullptr, "Tagged component missing");
  fItems.push_back({component, tag});
}

std::vector<QWidget*> tTaggedComponents::WithTag(int32_t tag) const {
  std::vector<QWidget*> components;
  for (const tTaggedComponent& item : fItems)
    if (item.Tag == tag) components.push_back(item.Component);
  return components;
}

tControlKind ControlKind(const QWidget* component) {
  if (qobject_cast<const QSpinBox*>(component)) return tControlKind::ckSpinEdit;
  if (qobject_cast<const tLabeledEdit*>(component)) return tControlKind::ckLabeledEdit;
  if (qobject_cast<const QLineEdit*>(component) || qobject_cast<const QPlainTextEdit*>(component) ||
      qobject_cast<const QTextEdit*>(component))
    return tControlKind::ckEdit;
  if (qobject_cast<const QComboBox*>(component)) return tControlKind::ckComboBox;
  if (qobject_cast<const QTableWidget*>(component)) return tControlKind::ckStringGrid;
  return tControlKind::ckOther;
}

bool IsEditControl(const QWidget* component) {
  const tControlKind kind = ControlKind(component);
  return kind == tControlKind::ckSpinEdit || kind == tControlKind::ckEdit ||
         kind == tControlKind::ckLabeledEdit;
}

std::string ControlText(const QWidget* component) {
  if (auto* spin = qobject_cast<const QSpinBox*>(component)) return std::to_string(spin->value());
  if (auto* edit = qobject_cast<const QLineEdit*>(component)) return edit->text().toStdString();
  if (auto* memo = qobject_cast<const QPlainTextEdit*>(component)) return memo->toPlainText().toStdString();
  if (auto* memo = qobject_cast<const QTextEdit*>(component)) return memo->toPlainText().toStdString();
  if (auto* combo = qobject_cast<const QComboBox*>(component)) return std::to_string(combo->currentIndex());
  return {};
}

// ------------------------------------------------------------ batch lines

namespace {
constexpr std::string_view LandscapeKeyword = "makelandscape(";
constexpr std::string_view SimulationKeyword = "simulation(";

// Every occurrence of keyword, compared without regard to case, removed.
std::string RemoveKeyword(const std::string& text, std::string_view keyword) {
  const std::string lower = utile::LowerCase(text);
  std::string result;
  size_t from = 0;
  for (size_t at = lower.find(keyword); at != std::string::npos; at = lower.find(keyword, from)) {
    result.append(text, from, at - from);
    from = at + keyword.size();
  }
  result.append(text, from, std::string::npos);
  return result;
}
}  // namespace

tBatchLineKind BatchLineKind(const std::string& line) {
  const std::string lower = utile::LowerCase(line.substr(0, LandscapeKeyword.size()));
  if (lower.starts_with(LandscapeKeyword)) return tBatchLineKind::blLandscape;
  if (lower.starts_with(SimulationKeyword)) return tBatchLineKind::blSimulation;
  return tBatchLineKind::blOther;
}

std::vector<std::string> BatchLineValues(const std::string& line, tBatchLineKind kind) {
  std::string text =
      RemoveKeyword(line, kind == tBatchLineKind::blSimulation ? SimulationKeyword : LandscapeKeyword);
  std::erase(text, ')');
  if (kind == tBatchLineKind::blSimulation) std::erase(text, ':');
  // The line end of a batch file written with CR LF is no part of the last value.
  if (!text.empty() && text.back() == '\r') text.pop_back();
  std::vector<std::string> values;
  utile::Tabulate(text, ',', values, false, 0);
  return values;
}

// ------------------------------------------------------- assignment rules

namespace {
int SpinValue(const std::string& value) {
  double number = 0;
  if (!utile::TryStrToFloatAnySeparator(value, number) || !(number == number)) return 0;
  constexpr double Lowest = std::numeric_limits<int>::min(), Highest = std::numeric_limits<int>::max();
  if (number <= Lowest) return std::numeric_limits<int>::min();
  if (number >= Highest) return std::numeric_limits<int>::max();
  return static_cast<int>(utile::Round(number));
}

void SetEditText(QWidget* component, const std::string& value) {
  const QString text = QString::fromStdString(value);
  if (auto* edit = qobject_cast<QLineEdit*>(component))
    edit->setText(text);
  else if (auto* memo = qobject_cast<QPlainTextEdit*>(component))
    memo->setPlainText(text);
  else if (auto* rich = qobject_cast<QTextEdit*>(component))
    rich->setPlainText(text);
}

void ChooseComboItem(QComboBox* combo, const std::string& value) {
  int64_t index = 0;
  if (!utile::TryStrToInt(value, index))
    throw EBatchValueError(
        utile::Format("\"%s\" is not an item number of %s.", value, combo->objectName().toStdString()));
  if (index < 0 || index >= combo->count())
    throw EBatchValueError(utile::Format("%s has no item %d (its items are numbered 0 to %d).",
                                         combo->objectName().toStdString(), index, combo->count() - 1));
  combo->setCurrentIndex(static_cast<int>(index));
}

void Took(const std::string& value, std::string& taken) {
  taken += value;
  taken += '\t';
}
}  // namespace

void TakeBatchValues(QWidget* component, tBatchTarget target, const std::vector<std::string>& values,
                     size_t& next, std::string& taken) {
  if (next >= values.size()) return;
  const tControlKind kind = ControlKind(component);
  if (target == tBatchTarget::btSimulation && kind == tControlKind::ckStringGrid) {
    auto* grid = static_cast<QTableWidget*>(component);
    for (int row = 0; row < grid->rowCount() && next < values.size(); ++row) {
      const std::string& value = values[next++];
      QTableWidgetItem* cell = grid->item(row, 1);
      if (cell)
        cell->setText(QString::fromStdString(value));
      else
        grid->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(value)));
      Took(value, taken);
    }
    return;
  }
  const std::string& value = values[next];
  switch (kind) {
    case tControlKind::ckSpinEdit:
      static_cast<QSpinBox*>(component)->setValue(SpinValue(value));
      break;
    case tControlKind::ckEdit:
    case tControlKind::ckLabeledEdit:
      SetEditText(component, value);
      break;
    case tControlKind::ckComboBox:
      if (target == tBatchTarget::btSimulation) ChooseComboItem(static_cast<QComboBox*>(component), value);
      break;
    default:
      break;  // taken, not used
  }
  ++next;
  Took(value, taken);
}

void CheckSpinEditRanges(const tTaggedComponents& components, const std::vector<std::string>& values) {
  size_t next = 0;
  for (const tTaggedComponent& item : components) {
    if (item.Tag != 1 && item.Tag != 2) continue;
    if (next >= values.size()) return;
    if (auto* grid = qobject_cast<const QTableWidget*>(item.Component)) {
      next += std::min<size_t>(size_t(std::max(grid->rowCount(), 0)), values.size() - next);
      continue;
    }
    const std::string& value = values[next++];
    const auto* spin = qobject_cast<const QSpinBox*>(item.Component);
    if (!spin) continue;
    const int number = SpinValue(value);
    if (number < spin->minimum() || number > spin->maximum())
      throw EBatchValueError(utile::Format("%s takes values from %d to %d: \"%s\" is outside that range.",
                                           spin->objectName().toStdString(), spin->minimum(), spin->maximum(),
                                           value));
  }
}

}  // namespace vandrel
