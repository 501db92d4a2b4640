// The about box of both programs: an icon beside the product's name, version
// and line of description, a paragraph of comments and an OK button.
#pragma once

#include <QDialog>
#include <QStyle>

class QLabel;
class QPushButton;

namespace utile::gui {

class tAboutDialog : public QDialog {
  Q_OBJECT
 public:
  tAboutDialog(QStyle::StandardPixmap icon, const QString& productName, const QString& version,
               const QString& copyright, const QString& comments, QWidget* parent);
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Copyright;
  QLabel* Comments;
  QPushButton* OKButton;
};

}  // namespace utile::gui
