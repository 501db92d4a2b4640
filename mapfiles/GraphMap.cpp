#include "mapfiles/GraphMap.h"

#include <QContextMenuEvent>
#include <QPainter>

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
