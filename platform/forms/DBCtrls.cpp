// TDBNavigator and TDBEdit, each following its data source through a data link.
#include "DBCtrls.h"

#include <stdexcept>

#include <QHBoxLayout>

#include "Glyphs.h"

namespace kv {

// Every notification means the same to these controls: look at the dataset again.
class TRefreshLink : public TDataLink {
 public:
  explicit TRefreshLink(std::function<void()> Refresh) : FRefresh(std::move(Refresh)) {}
  void ActiveChanged() override { FRefresh(); }
  void DataSetChanged() override { FRefresh(); }
  void DataSetScrolled() override { FRefresh(); }

 private:
  std::function<void()> FRefresh;
};

TDBNavigator::TDBNavigator(QWidget* Parent)
    : TControl<QWidget>(Parent),
      FLink(std::make_unique<TRefreshLink>([this] { UpdateButtons(); })) {
  auto* Layout = new QHBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  static const TGlyph Glyphs[] = {TGlyph::First, TGlyph::Prior, TGlyph::Next, TGlyph::Last,
                                  TGlyph::Refresh};
  static const char* Hints[] = {"Primer registro", "Registro anterior", "Registro siguiente",
                                "Último registro", "Actualizar"};
  for (int B = nbFirst; B <= nbRefresh; ++B) {
    auto* Btn = new QToolButton(this);
    Btn->setIcon(QIcon(DrawGlyph(Glyphs[B], 16)));
    Btn->setToolTip(QString::fromUtf8(Hints[B]));
    Btn->setMinimumSize(25, 25);
    Btn->setFocusPolicy(Qt::NoFocus);
    Layout->addWidget(Btn);
    connect(Btn, &QToolButton::clicked, this,
            [this, B] { BtnClick(static_cast<TNavigateBtn>(B)); });
    FButtons[static_cast<size_t>(B)] = Btn;
  }
  UpdateButtons();
}

TDBNavigator::~TDBNavigator() {
  FLink.reset();
}

TDataSource* TDBNavigator::DataSource() const {
  return FLink->DataSource();
}

void TDBNavigator::SetDataSource(TDataSource* V) {
  FLink->SetDataSource(V);
}

void TDBNavigator::SetVisibleButtons(TButtonSet V) {
  FVisible = V;
  for (int B = nbFirst; B <= nbRefresh; ++B)
    FButtons[static_cast<size_t>(B)]->setVisible(V & NavButton(static_cast<TNavigateBtn>(B)));
}

void TDBNavigator::BtnClick(TNavigateBtn B) {
  SafeCall([&] {
    TDataSet* DS = FLink->DataSet();
    if (!DS || !DS->Active()) return;
    switch (B) {
      case nbFirst:
        DS->First();
        break;
      case nbPrior:
        DS->Prior();
        break;
      case nbNext:
        DS->Next();
        break;
      case nbLast:
        DS->Last();
        break;
      case nbRefresh:
        DS->Refresh();
        break;
    }
  });
  Fire(OnClick, this, B);
}

void TDBNavigator::UpdateButtons() {
  const TDataSet* DS = FLink ? FLink->DataSet() : nullptr;
  const bool Open = DS && DS->Active();
  const bool AtFirst = !Open || DS->RecNo() <= 1;
  // Over a database not counted yet, whether a record follows (the window read already, as a
  // rule) rather than a count of every record.
  bool AtLast = !Open;
  if (Open) {
    const int Known = DS->KnownRecordCount();
    if (Known >= 0) {
      AtLast = DS->RecNo() >= Known;
    } else {
      try {
        (void)DS->RowAt(DS->RecNo());
      } catch (const std::out_of_range&) {
        AtLast = true;
      }
    }
  }
  FButtons[nbFirst]->setEnabled(!AtFirst);
  FButtons[nbPrior]->setEnabled(!AtFirst);
  FButtons[nbNext]->setEnabled(!AtLast);
  FButtons[nbLast]->setEnabled(!AtLast);
  FButtons[nbRefresh]->setEnabled(Open);
}

TDBEdit::TDBEdit(QWidget* Parent)
    : TControl<QLineEdit>(Parent), FLink(std::make_unique<TRefreshLink>([this] { UpdateText(); })) {
  setReadOnly(true);
}

TDBEdit::~TDBEdit() {
  FLink.reset();
}

TDataSource* TDBEdit::DataSource() const {
  return FLink->DataSource();
}

void TDBEdit::SetDataSource(TDataSource* V) {
  FLink->SetDataSource(V);
}

void TDBEdit::SetDataField(std::string V) {
  FDataField = std::move(V);
  UpdateText();
}

TField* TDBEdit::Field() const {
  const TDataSet* DS = FLink ? FLink->DataSet() : nullptr;
  return DS && DS->Active() ? DS->FindField(FDataField) : nullptr;
}

void TDBEdit::UpdateText() {
  const TField* F = Field();
  const TDataSet* DS = FLink ? FLink->DataSet() : nullptr;
  QString T;
  if (F && DS && !DS->IsEmpty()) {
    try {
      T = QStr(F->DisplayText());
    } catch (const std::exception&) {
      T = QStringLiteral("#Error");
    }
  }
  setText(T);
  setAlignment(F && F->Alignment() == taRightJustify ? Qt::AlignRight : Qt::AlignLeft);
}

}  // namespace kv
