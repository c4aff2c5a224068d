// TBitBtn kinds and TSpeedButton glyphs.
#include "Buttons.h"

#include "Forms.h"
#include "Glyphs.h"

namespace kv {

TBitBtn::TBitBtn(QWidget* Parent) : TButton(Parent) {
  // A close button closes its form after the click's handler has run.
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (auto* F = qobject_cast<TForm*>(window()); F && FKind == bkClose) F->Close();
  });
}

void TBitBtn::SetKind(TBitBtnKind V) {
  FKind = V;
  const char* Caption = nullptr;
  switch (V) {
    case bkOK:
      SetGlyph(DrawGlyph(TGlyph::Ok));
      SetModalResult(mrOk);
      SetDefault(true);
      Caption = "&Aceptar";
      break;
    case bkCancel:
      SetGlyph(DrawGlyph(TGlyph::Cancel));
      SetModalResult(mrCancel);
      SetCancel(true);
      Caption = "&Cancelar";
      break;
    case bkHelp:
      SetGlyph(DrawGlyph(TGlyph::Help));
      Caption = "A&yuda";
      break;
    case bkClose:
      SetGlyph(DrawGlyph(TGlyph::Close));
      Caption = "&Cerrar";
      break;
    case bkCustom:
      break;
  }
  if (Caption && text().isEmpty()) setText(QString::fromUtf8(Caption));
}

TSpeedButton::TSpeedButton(QWidget* Parent) : TControl<QToolButton>(Parent) {
  setAutoRaise(true);
  connect(this, &QAbstractButton::clicked, this, [this] { Fire(OnClick, this); });
  UpdateStyle();
}

void TSpeedButton::SetCaption(const std::string& V) {
  setText(QStr(V));
  UpdateStyle();
}

void TSpeedButton::SetGlyph(const QPixmap& V) {
  FGlyph = V;
  setIcon(QIcon(V));
  if (!V.isNull()) setIconSize(V.deviceIndependentSize().toSize());
  UpdateStyle();
}

void TSpeedButton::UpdateStyle() {
  setToolButtonStyle(text().isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
}

}  // namespace kv
