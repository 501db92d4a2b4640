#include "app/dlgFileExistsU.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vandrel {

TdlgFileExists* dlgFileExists = nullptr;

TdlgFileExists::TdlgFileExists(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgFileExists");
  setWindowTitle("File exists");
  setModal(true);

  lblMessage = new QLabel(this);
  lblMessage->setObjectName("lblMessage");
  lblMessage->setAlignment(Qt::AlignCenter);
  lblMessage->setWordWrap(true);
  lblMessage->setMinimumWidth(320);

  auto makeButton = [this](const char* name, const char* caption, const char* hint) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setToolTip(hint);
    button->setAutoDefault(false);
    return button;
  };
  btAppend = makeButton("btAppend", "&Append", "Append the new results at the end of the existing file");
  btReplace = makeButton("btReplace", "&Replace", "Replace the existing file (Warning! Data will be lost)");
  btCancel = makeButton("btCancel", "Cancel", "Stop! Don't do anything!");
  btCancel->setDefault(true);

  connect(btAppend, &QPushButton::clicked, this, [this] {
    fResult = tDialogResult::drAppend;
    accept();
  });
  connect(btReplace, &QPushButton::clicked, this, [this] {
    fResult = tDialogResult::drReplace;
    accept();
  });
  connect(btCancel, &QPushButton::clicked, this, [this] {
    fResult = tDialogResult::drCancel;
    reject();
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btAppend);
  buttons->addWidget(btReplace);
  buttons->addWidget(btCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblMessage);
  layout->addLayout(buttons);
}

tDialogResult TdlgFileExists::Execute(const std::string& Message) {
  lblMessage->setText(QString::fromStdString(Message));
  fResult = tDialogResult::drCancel;  // Escape and closing the window mean Cancel
  btCancel->setFocus();
  exec();
  return fResult;
}

}  // namespace vandrel
