// How batch values reach the controls of a window. Every window that takes batch
// values keeps one explicit list of its tagged controls in component order (the
// order in which a batch line hands out its values), filled in one place when
// the window is built. The rules by which each kind of control takes a value are
// written here once, for every window.
#pragma once

#include <QLineEdit>
#include <cstdint>
#include <string>
#include <vector>

#include "Utile/RunTime.h"

class QLabel;

namespace vandrel {

// An edit with its caption (a label that the layout places beside it).
class tLabeledEdit : public QLineEdit {
  Q_OBJECT
 public:
  tLabeledEdit(const QString& caption, const QString& text, QWidget* parent);
  // The edit and its caption together.
  void SetShown(bool shown);
  void SetEnabledWithLabel(bool enabled);
  QLabel* EditLabel;
};

// A batch value that a control cannot take (a combo-box item that does not exist).
class EBatchValueError : public utile::EConvertError {
  using utile::EConvertError::EConvertError;
};

struct tTaggedComponent {
  QWidget* Component;
  int32_t Tag;
};

// The tagged controls of one window in component order. Controls with Tag 0 are
// not listed: they take no batch values.
class tTaggedComponents {
 public:
  void Add(QWidget* component, int32_t tag);
  const std::vector<tTaggedComponent>& Items() const { return fItems; }
  auto begin() const { return fItems.begin(); }
  auto end() const { return fItems.end(); }
  size_t size() const { return fItems.size(); }
  // The controls with exactly this Tag, in order.
  std::vector<QWidget*> WithTag(int32_t tag) const;

 private:
  std::vector<tTaggedComponent> fItems;
};

// The kinds of control that take batch values differently.
enum class tControlKind { ckSpinEdit, ckEdit, ckLabeledEdit, ckComboBox, ckStringGrid, ckOther };
tControlKind ControlKind(const QWidget* component);
// Spin edits, edits, labelled edits and memos: the controls a value list can stand for.
bool IsEditControl(const QWidget* component);
// The text a control shows (its value for a spin edit, the chosen item's index for a combo box).
std::string ControlText(const QWidget* component);

// What a batch line is.
enum class tBatchLineKind { blOther, blLandscape, blSimulation };
// A landscape line begins "MakeLandscape(", a simulation line "Simulation(", in any
// case, at the very start of the line; any other line is none of them.
tBatchLineKind BatchLineKind(const std::string& line);
// The values of a batch line: the keyword (in any case) and every ")" removed, and
// in a simulation line every ":" too, then split at ",". Values keep their case.
std::vector<std::string> BatchLineValues(const std::string& line, tBatchLineKind kind);

// Who is taking values: a landscape line gives one value to every tagged control
// and uses it in spin edits and edits only; a simulation line also chooses
// combo-box items and fills string grids (one value per row, into column 1).
enum class tBatchTarget { btLandscape, btSimulation };

// Hands the values from values[next] on to the component by the rules of its kind
// and advances next past what it took; each value taken is appended to taken,
// followed by a TAB. EBatchValueError for a combo-box value that is not the
// index of an item.
void TakeBatchValues(QWidget* component, tBatchTarget target, const std::vector<std::string>& values,
                     size_t& next, std::string& taken);

// Walks the simulation values over the Tag 1 and 2 controls as a simulation line
// hands them out, without handing them out: EBatchValueError naming the first
// spin edit whose value (rounded, unreadable text as 0) lies outside its range,
// and the range. A workbench that refuses such a line calls it before any
// control takes a value; the others let the spin edit hold the value to its range.
void CheckSpinEditRanges(const tTaggedComponents& components, const std::vector<std::string>& values);

}  // namespace vandrel
