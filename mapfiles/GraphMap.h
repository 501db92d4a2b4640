// The map image of the map-file manager: a matrix drawn through a palette, one
// pixel per cell, scaled to the widget with its proportions kept. Without a
// parent it is a window of its own. Its context menu is the shared map menu.
//
// Its picture is saved as a bitmap or a JPEG file, pixel for pixel, and its matrix
// as a text or binary matrix file; each file is written aside and renamed in once
// complete, so that a failure leaves an earlier file of that name as it was.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <string>

#include "Utile/ColorOps.h"
#include "Utile/CommonDecl.h"
#include "Utile/MapExports.h"
#include "Utile/gui/GraphicOps.h"

namespace kelvora {

class tGraphMap : public QWidget {
  Q_OBJECT
 public:
  // The value of no cell: a background that marks nothing.
  static constexpr double NoBackground = utile::NoBackgroundValue;

  // Without parent the map image shows itself at once in a window of its own.
  explicit tGraphMap(QWidget* parent = nullptr);

  void SetMatrix(utile::tMatrixOfDouble matrix);
  const utile::tMatrixOfDouble& Matrix() const { return fMatrix; }
  // The values drawn with the first and the last colour; Min = Max takes the
  // range of the present cells.
  void SetRange(double min, double max);
  // Cells within 1e-6 of the background value take the background colour.
  void SetBackGroundValue(double value);
  void SetBackGroundColor(utile::TColor color);
  void SetAxesMode(utile::gui::tMapOrientation mode);
  void SetPalette(const utile::tPalette& palette);

  // Draws the matrix into the picture and repaints.
  void Draw();
  // Forgets the matrix and the picture.
  void Clear();
  // Forgets the matrix and keeps the picture as drawn (a large map's matrix takes
  // far more memory than its picture).
  void KeepPictureOnly();
  bool IsEmpty() const { return fPicture.isNull(); }
  // One pixel per cell.
  const QImage& Picture() const { return fPicture; }

  // The picture as drawn: a 24-bit bitmap file, or a JPEG file (quality 1 to 100).
  // EInvalidOperation when nothing is drawn.
  void SaveToBitmapFile(const std::string& fileName) const;
  void SaveToJpegFile(const std::string& fileName, utile::Integer quality, bool progressive) const;
  // The matrix as a text or binary matrix file. EInvalidOperation without a matrix
  // (the picture alone is kept).
  void SaveMatrixToFile(const std::string& fileName, bool binary) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  utile::tMatrixOfDouble fMatrix;
  double fMin = 0;
  double fMax = 0;
  double fBackGroundValue = NoBackground;
  utile::TColor fBackGroundColor = 0x808080;
  utile::gui::tMapOrientation fAxesMode = utile::gui::tMapOrientation::moRowCol;
  utile::tPalette fPalette;
  QImage fPicture;
  // The picture at the size last painted, so that a repaint does not scale a
  // large map again.
  QPixmap fScaled;
};

}  // namespace kelvora
