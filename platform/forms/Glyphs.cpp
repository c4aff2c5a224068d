// The toolkit's own pictures, drawn with QPainter so nothing is taken from elsewhere.
#include "Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace kv {

namespace {
constexpr double Pi = 3.14159265358979323846;

void DrawTriangle(QPainter& P, double S, double X, bool Left) {
  QPainterPath T;
  const double W = S * 0.35;
  if (Left) {
    T.moveTo(X, S / 2);
    T.lineTo(X + W, S * 0.2);
    T.lineTo(X + W, S * 0.8);
  } else {
    T.moveTo(X + W, S / 2);
    T.lineTo(X, S * 0.2);
    T.lineTo(X, S * 0.8);
  }
  T.closeSubpath();
  P.fillPath(T, QColor(30, 30, 30));
}
// A triangle pointing up or down, centred.
void DrawVerticalTriangle(QPainter& P, double S, bool Up) {
  QPainterPath T;
  const double Top = S * 0.3, Bottom = S * 0.7;
  if (Up) {
    T.moveTo(S / 2, Top);
    T.lineTo(S * 0.2, Bottom);
    T.lineTo(S * 0.8, Bottom);
  } else {
    T.moveTo(S / 2, Bottom);
    T.lineTo(S * 0.2, Top);
    T.lineTo(S * 0.8, Top);
  }
  T.closeSubpath();
  P.fillPath(T, QColor(30, 30, 30));
}
}  // namespace

QPixmap DrawGlyph(TGlyph G, int Size) {
  QPixmap Pix(Size, Size);
  Pix.fill(Qt::transparent);
  QPainter P(&Pix);
  P.setRenderHint(QPainter::Antialiasing);
  const double S = Size;
  switch (G) {
    case TGlyph::Ok: {
      P.setPen(QPen(QColor(0, 128, 0), S / 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPainterPath Tick;
      Tick.moveTo(S * 0.18, S * 0.55);
      Tick.lineTo(S * 0.42, S * 0.78);
      Tick.lineTo(S * 0.84, S * 0.24);
      P.drawPath(Tick);
      break;
    }
    case TGlyph::Cancel:
      P.setPen(QPen(QColor(192, 0, 0), S / 7, Qt::SolidLine, Qt::RoundCap));
      P.drawLine(QPointF(S * 0.22, S * 0.22), QPointF(S * 0.78, S * 0.78));
      P.drawLine(QPointF(S * 0.78, S * 0.22), QPointF(S * 0.22, S * 0.78));
      break;
    case TGlyph::Help: {
      P.setPen(Qt::NoPen);
      P.setBrush(QColor(0, 70, 160));
      P.drawEllipse(QRectF(S * 0.08, S * 0.08, S * 0.84, S * 0.84));
      QFont F = P.font();
      F.setBold(true);
      F.setPixelSize(static_cast<int>(S * 0.7));
      P.setFont(F);
      P.setPen(Qt::white);
      P.drawText(QRectF(0, 0, S, S), Qt::AlignCenter, "?");
      break;
    }
    case TGlyph::Close:
      P.setPen(QPen(QColor(60, 60, 60), S / 12));
      P.setBrush(QColor(150, 100, 50));
      P.drawRect(QRectF(S * 0.25, S * 0.12, S * 0.5, S * 0.76));
      P.setBrush(QColor(230, 200, 80));
      P.drawEllipse(QPointF(S * 0.64, S * 0.52), S * 0.05, S * 0.05);
      break;
    case TGlyph::First:
      P.fillRect(QRectF(S * 0.2, S * 0.2, S * 0.1, S * 0.6), QColor(30, 30, 30));
      DrawTriangle(P, S, S * 0.35, true);
      break;
    case TGlyph::Prior:
      DrawTriangle(P, S, S * 0.3, true);
      break;
    case TGlyph::Next:
      DrawTriangle(P, S, S * 0.35, false);
      break;
    case TGlyph::Last:
      DrawTriangle(P, S, S * 0.3, false);
      P.fillRect(QRectF(S * 0.7, S * 0.2, S * 0.1, S * 0.6), QColor(30, 30, 30));
      break;
    case TGlyph::Up:
    case TGlyph::Down:
      DrawVerticalTriangle(P, S, G == TGlyph::Up);
      break;
    case TGlyph::Refresh: {
      P.setPen(QPen(QColor(0, 110, 0), S / 9, Qt::SolidLine, Qt::FlatCap));
      const QRectF Ring(S * 0.2, S * 0.2, S * 0.6, S * 0.6);
      P.drawArc(Ring, 60 * 16, 280 * 16);
      // Arrow head at the arc's open end.
      const QPointF End(S * 0.5 + S * 0.3 * std::cos(60 * Pi / 180),
                        S * 0.5 - S * 0.3 * std::sin(60 * Pi / 180));
      QPainterPath Head;
      Head.moveTo(End + QPointF(-S * 0.2, -S * 0.05));
      Head.lineTo(End + QPointF(S * 0.1, -S * 0.12));
      Head.lineTo(End + QPointF(S * 0.02, S * 0.18));
      Head.closeSubpath();
      P.fillPath(Head, QColor(0, 110, 0));
      break;
    }
  }
  return Pix;
}

void DrawSearchFrame(QPainter& P, const QRectF& Area, int Frame, int FrameCount) {
  P.save();
  P.setRenderHint(QPainter::Antialiasing);
  // The table: a header band and four rows of three cells, in the left two thirds.
  const double W = Area.width(), H = Area.height();
  const QRectF Table(Area.left() + W * 0.05, Area.top() + H * 0.12, W * 0.72, H * 0.76);
  const int Rows = 4, Cols = 3;
  const double RowH = Table.height() / (Rows + 1), ColW = Table.width() / Cols;
  P.fillRect(Table, Qt::white);
  P.fillRect(QRectF(Table.left(), Table.top(), Table.width(), RowH), QColor(192, 192, 192));
  // The lens sweeps the rows left to right, one row per quarter of the frames.
  const double T = FrameCount > 1 ? static_cast<double>(Frame) / (FrameCount - 1) : 0.0;
  const double RowPos = T * (Rows - 1);
  const int LensRow = static_cast<int>(std::lround(RowPos));
  const double Sweep = std::fmod(T * Rows, 1.0);
  const QPointF Lens(Table.left() + ColW * 0.5 + Sweep * (Table.width() - ColW),
                     Table.top() + RowH * (1.5 + RowPos));
  P.fillRect(QRectF(Table.left(), Table.top() + RowH * (1 + LensRow), Table.width(), RowH),
             QColor(255, 255, 160));
  P.setPen(QPen(QColor(128, 128, 128), 1));
  for (int R = 1; R <= Rows; ++R)
    P.drawLine(QPointF(Table.left(), Table.top() + RowH * R),
               QPointF(Table.right(), Table.top() + RowH * R));
  for (int C = 1; C < Cols; ++C)
    P.drawLine(QPointF(Table.left() + ColW * C, Table.top()),
               QPointF(Table.left() + ColW * C, Table.bottom()));
  P.drawRect(Table);
  // Little bars standing for the text of the cells.
  for (int R = 1; R <= Rows; ++R)
    for (int C = 0; C < Cols; ++C)
      P.fillRect(QRectF(Table.left() + ColW * C + ColW * 0.15, Table.top() + RowH * (R + 0.4),
                        ColW * (0.4 + 0.1 * ((R + C) % 3)), RowH * 0.2),
                 QColor(90, 90, 90));
  // The magnifier: a glass with a rim and a handle towards the lower right.
  const double Radius = std::min(W, H) * 0.18;
  P.setPen(QPen(QColor(110, 70, 30), Radius * 0.35, Qt::SolidLine, Qt::RoundCap));
  P.drawLine(Lens + QPointF(Radius * 0.7, Radius * 0.7),
             Lens + QPointF(Radius * 1.6, Radius * 1.6));
  P.setPen(QPen(QColor(40, 40, 40), Radius * 0.2));
  P.setBrush(QColor(170, 220, 255, 110));
  P.drawEllipse(Lens, Radius, Radius);
  P.restore();
}

}  // namespace kv
