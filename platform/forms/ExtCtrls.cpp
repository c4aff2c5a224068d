// TPanel and TImage.
#include "ExtCtrls.h"

#include <QPainter>

#include "SysUtils.h"

namespace kv {

TPanel::TPanel(QWidget* Parent) : TControl<QFrame>(Parent) {
  SetBevelOuter(bvRaised);
}

void TPanel::SetCaption(const std::string& V) {
  FCaption = V;
  update();
}

void TPanel::SetBevelOuter(TPanelBevel V) {
  FBevel = V;
  setFrameShape(V == bvNone ? QFrame::NoFrame : QFrame::Panel);
  setFrameShadow(V == bvLowered ? QFrame::Sunken : QFrame::Raised);
}

void TPanel::paintEvent(QPaintEvent* E) {
  QFrame::paintEvent(E);
  if (FCaption.empty()) return;
  QPainter P(this);
  P.drawText(contentsRect(), Qt::AlignCenter, QStr(FCaption));
}

TImage::TImage(QWidget* Parent) : TControl<QLabel>(Parent) {
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TImage::SetPicture(const QPixmap& V) {
  FPicture = V;
  setPixmap(V);
}

void TImage::LoadFromFile(const std::string& FileName) {
  QPixmap P;
  if (!P.load(QStr(FileName)))
    throw Exception("No se ha podido cargar la imagen '" + FileName + "'");
  SetPicture(P);
}

void TImage::SetCenter(bool V) {
  FCenter = V;
  setAlignment(V ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignTop));
}

}  // namespace kv
