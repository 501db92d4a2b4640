#include "Utile/gui/WindowServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace utile::gui {

// ------------------------------------------------------------- the program

tApplication::tApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The window library has just set the C library's locale from the environment:
  // numbers are read and written alike in every locale, and only the raster
  // documentation files keep the user's decimal separator.
  utile::TakeUserNumericLocale();
}

bool tApplication::notify(QObject* receiver, QEvent* event) {
  // A handler's arithmetic would otherwise pay for the wide registers that the
  // last drawing left in use.
  utile::ClearUpperVectorState();
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    Dialogs().ShowMessage(activeWindow(), error.what(), tMessageKind::mkError);
  } catch (...) {
    Dialogs().ShowMessage(activeWindow(), "An unknown error occurred.", tMessageKind::mkError);
  }
  return false;
}

// ------------------------------------------------------------ message pump

namespace {
int gPumpDepth = 0;

void PumpWindowMessages() {
  ++gPumpDepth;
  try {
    QCoreApplication::processEvents();
  } catch (...) {
    --gPumpDepth;
    throw;
  }
  --gPumpDepth;
}
}  // namespace

void InstallMessagePump() {
  utile::SetMessagePump(&PumpWindowMessages);
}

int MessagePumpDepth() {
  return gPumpDepth;
}

// ---------------------------------------------------------- hour-glass cursor

tHourGlass::tHourGlass() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

tHourGlass::~tHourGlass() {
  QApplication::restoreOverrideCursor();
}

// ------------------------------------------------------------ user dialogs

QString DialogFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList pairs;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    if (!description.contains(patterns)) description += " (" + patterns + ")";
    pairs << description;
  }
  if (parts.size() % 2 == 1 && !parts.back().isEmpty()) pairs << parts.back();
  return pairs.join(";;");
}

void Guarded(QWidget* parent, const std::function<void()>& command, const std::function<bool()>& silent) {
  try {
    command();
  } catch (const std::exception& error) {
    if (!silent || !silent()) Dialogs().ShowMessage(parent, error.what(), tMessageKind::mkError);
  }
}

std::string WithDefaultExtension(const std::string& fileName, const std::string& defaultExtension) {
  if (fileName.empty() || defaultExtension.empty() || !utile::ExtractFileExt(fileName).empty())
    return fileName;
  return fileName + "." + defaultExtension;
}

std::optional<std::string> tUserDialogs::OpenFileName(QWidget* parent, const std::string& title,
                                                      const std::string& filter,
                                                      const std::string& defaultExtension) {
  const QString name =
      QFileDialog::getOpenFileName(parent, QString::fromStdString(title), QString(), DialogFilter(filter));
  if (name.isEmpty()) return std::nullopt;
  return WithDefaultExtension(name.toStdString(), defaultExtension);
}

std::vector<std::string> tUserDialogs::OpenFileNames(QWidget* parent, const std::string& title,
                                                     const std::string& filter) {
  std::vector<std::string> names;
  for (const QString& name :
       QFileDialog::getOpenFileNames(parent, QString::fromStdString(title), QString(), DialogFilter(filter)))
    names.push_back(name.toStdString());
  return names;
}

std::optional<std::string> tUserDialogs::SaveFileName(QWidget* parent, const std::string& title,
                                                      const std::string& filter,
                                                      const std::string& defaultExtension,
                                                      bool askOverwrite) {
  QFileDialog dialog(parent, QString::fromStdString(title), QString(), DialogFilter(filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !askOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return WithDefaultExtension(dialog.selectedFiles().front().toStdString(), defaultExtension);
}

namespace {
std::function<tDialogResult(const std::string&)>& FileExistsQuestion() {
  static std::function<tDialogResult(const std::string&)> question;
  return question;
}
}  // namespace

void SetFileExistsQuestion(std::function<tDialogResult(const std::string& message)> question) {
  FileExistsQuestion() = std::move(question);
}

tDialogResult tUserDialogs::FileExists(const std::string& message) {
  if (FileExistsQuestion()) return FileExistsQuestion()(message);
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(), QString::fromStdString(message));
  QPushButton* append = box.addButton("Append", QMessageBox::AcceptRole);
  QPushButton* replace = box.addButton("Replace", QMessageBox::DestructiveRole);
  box.addButton(QMessageBox::Cancel);
  box.exec();
  if (box.clickedButton() == append) return tDialogResult::drAppend;
  if (box.clickedButton() == replace) return tDialogResult::drReplace;
  return tDialogResult::drCancel;
}

void tUserDialogs::ShowMessage(QWidget* parent, const std::string& text, tMessageKind kind) {
  const QString title = QApplication::applicationName();
  const QString message = QString::fromStdString(text);
  switch (kind) {
    case tMessageKind::mkWarning:
      QMessageBox::warning(parent, title, message);
      break;
    case tMessageKind::mkError:
      QMessageBox::critical(parent, title, message);
      break;
    default:
      QMessageBox::information(parent, title, message);
      break;
  }
}

bool tUserDialogs::Confirm(QWidget* parent, const std::string& text) {
  return QMessageBox::question(parent, QApplication::applicationName(), QString::fromStdString(text),
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool tUserDialogs::ConfirmOkCancel(QWidget* parent, const std::string& text) {
  return QMessageBox::question(parent, QApplication::applicationName(), QString::fromStdString(text),
                               QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

namespace {
std::unique_ptr<tUserDialogs>& CurrentDialogs() {
  static std::unique_ptr<tUserDialogs> dialogs = std::make_unique<tUserDialogs>();
  return dialogs;
}
}  // namespace

tUserDialogs& Dialogs() {
  return *CurrentDialogs();
}

void SetDialogs(std::unique_ptr<tUserDialogs> dialogs) {
  CurrentDialogs() = dialogs ? std::move(dialogs) : std::make_unique<tUserDialogs>();
}

}  // namespace utile::gui
