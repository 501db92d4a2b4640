// Pictures of windows (and files) for a person to look at, never checked: saved
// only when READABLE_GRABS names a folder, so that a test writes nothing of the
// kind by default and never fails for want of a place to write it.
#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

namespace testsupport {

// The folder READABLE_GRABS names, or "" when pictures are not asked for.
inline QString GrabFolder() { return QString::fromLocal8Bit(qgetenv("READABLE_GRABS")); }

// Saves the widget's picture (or that of a part of it) as name.png in that folder.
inline void SaveGrab(QWidget* widget, const QString& name,
                     const QRect& part = QRect(QPoint(0, 0), QSize(-1, -1))) {
  const QString folder = GrabFolder();
  if (!folder.isEmpty()) widget->grab(part).save(folder + "/" + name + ".png");
}

}  // namespace testsupport
