#include "mapfiles/GraphMap.h"

#include <QContextMenuEvent>
#include <QPainter>

#include "Utile/MapExports.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

namespace kelvora {

tGraphMap::tGraphMap(QWidget* parent) : QWidget(parent), fPalette(utile::gui::ChartProperties().Palette) {
  setObjectName("GraphMap");
  setMinimumSize(32, 32);
  if (!parent) {
    setWindowTitle("Map");
    resize(400, 400);
    show();
  }
}

void tGraphMap::SetMatrix(utile::tMatrixOfDouble matrix) { fMatrix = std::move(matrix); }

void tGraphMap::SetRange(double min, double max) {
  fMin = min;
  fMax = max;
}

void tGraphMap::SetBackGroundValue(double value) { fBackGroundValue = value; }

void tGraphMap::SetBackGroundColor(utile::TColor color) { fBackGroundColor = color; }

void tGraphMap::SetAxesMode(utile::gui::tMapOrientation mode) { fAxesMode = mode; }

void tGraphMap::SetPalette(const utile::tPalette& palette) { fPalette = palette; }

void tGraphMap::Draw() {
  if (fMatrix.empty() || fMatrix[0].empty() || fPalette.empty()) {
    fPicture = QImage();
  } else {
    utile::gui::MatrixToBitmap(fMatrix, utile::ColorToRGBtriple(fPalette), fPicture, fMin, fMax, fAxesMode, false,
                               fBackGroundValue, utile::ColorToRGBtriple(fBackGroundColor));
  }
  fScaled = QPixmap();
  update();
}

void tGraphMap::Clear() {
  fMatrix = {};
  fPicture = QImage();
  fScaled = QPixmap();
  update();
}

void tGraphMap::KeepPictureOnly() { fMatrix = {}; }

namespace {

// The pixels of a picture drawn by MatrixToBitmap (three bytes a pixel, blue first).
utile::tPixelBuffer PixelsOf(const QImage& picture, const std::string& fileName) {
  if (picture.isNull())
    throw utile::EInvalidOperation(utile::Format("The map image has no picture to save as \"%s\"", fileName));
  // Draw makes every picture in this form.
  utile::Assert(picture.format() == QImage::Format_BGR888, "The map image's picture has 24 bits a pixel.");
  return {picture.constBits(), picture.width(), picture.height(),
          static_cast<size_t>(picture.bytesPerLine())};
}

}  // namespace

void tGraphMap::SaveToBitmapFile(const std::string& fileName) const {
  utile::SaveBitmapFile(fileName, PixelsOf(fPicture, fileName));
}

void tGraphMap::SaveToJpegFile(const std::string& fileName, utile::Integer quality, bool progressive) const {
  utile::SaveJpegFile(fileName, PixelsOf(fPicture, fileName), quality, progressive);
}

void tGraphMap::SaveMatrixToFile(const std::string& fileName, bool binary) const {
  if (fMatrix.empty())
    throw utile::EInvalidOperation(utile::Format("The map image has no matrix to save as \"%s\"", fileName));
  utile::MatSaveToFile(fMatrix, fileName, binary);
}

void tGraphMap::paintEvent(QPaintEvent*) {
  if (fPicture.isNull()) return;
  const QSize target = fPicture.size().scaled(size(), Qt::KeepAspectRatio);
  if (target.isEmpty()) return;
  // Cells stay sharp squares when a small map is enlarged.
  if (fScaled.size() != target)
    fScaled = QPixmap::fromImage(fPicture.scaled(target, Qt::IgnoreAspectRatio, Qt::FastTransformation));
  QPainter painter(this);
  painter.drawPixmap((width() - target.width()) / 2, (height() - target.height()) / 2, fScaled);
}

void tGraphMap::contextMenuEvent(QContextMenuEvent* event) {
  utile::gui::GraphMapPopUp().PopupFor(this, event->globalPos());
}

}  // namespace kelvora
