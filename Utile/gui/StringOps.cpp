#include "Utile/gui/StringOps.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>
#include <QStringList>

namespace utile::gui {

namespace {

bool IsCommonKey(char key) {
  return key == 8 || key == 13 || key == 16 || key == '-' || key == '.' || (key >= '0' && key <= '9');
}

class tKeyFilterObject : public QObject {
 public:
  tKeyFilterObject(QObject* parent, tKeyFilter filter) : QObject(parent), fFilter(filter) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    for (const QChar c : key->text()) {
      // Characters beyond ASCII are none of the kept ones.
      char typed = c.unicode() < 128 ? static_cast<char>(c.unicode()) : char(127);
      fFilter(typed);
      if (typed == 0) return true;
    }
    return false;
  }

 private:
  tKeyFilter fFilter;
};

}  // namespace

void EditReal(char& key) {
  if (!IsCommonKey(key)) key = 0;
}

void EditRealList(char& key) {
  if (!IsCommonKey(key) && key != ',') key = 0;
}

void EditScientific(char& key) {
  if (!IsCommonKey(key) && key != '+' && key != 'E' && key != 'e') key = 0;
}

void InstallKeyFilter(QLineEdit* edit, tKeyFilter filter) {
  edit->installEventFilter(new tKeyFilterObject(edit, filter));
}

QString JoinLines(const tVectorOfString& lines) {
  QStringList list;
  list.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) list << QString::fromStdString(line);
  return list.join('\n');
}

}  // namespace utile::gui
