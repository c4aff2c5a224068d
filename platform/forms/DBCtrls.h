// Data-aware controls besides the grid: TDBNavigator (buttons that move a data source's dataset)
// and TDBEdit (the display text of one field in the current record, read-only).
#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "Controls.h"
#include "DB.h"

#pragma GCC visibility push(default)
namespace kv {

enum TNavigateBtn { nbFirst, nbPrior, nbNext, nbLast, nbRefresh };
// A set of navigator buttons, as bit flags (1 << TNavigateBtn).
using TButtonSet = unsigned;
constexpr TButtonSet NavButton(TNavigateBtn B) {
  return 1u << B;
}
constexpr TButtonSet AllNavButtons = NavButton(nbFirst) | NavButton(nbPrior) | NavButton(nbNext) |
                                     NavButton(nbLast) | NavButton(nbRefresh);

class TRefreshLink;

// A row of buttons: first, prior, next and last record, and refresh (read the rows again). A
// button that cannot move (at the first or last record, no open dataset) is disabled.
class TDBNavigator : public TControl<QWidget> {
  Q_OBJECT
 public:
  explicit TDBNavigator(QWidget* Parent = nullptr);
  ~TDBNavigator() override;
  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* V);
  TButtonSet VisibleButtons() const { return FVisible; }
  void SetVisibleButtons(TButtonSet V);
  // Does what button B does (as if clicked).
  void BtnClick(TNavigateBtn B);
  // The button itself (for layouts and tests).
  QToolButton* Button(TNavigateBtn B) const { return FButtons[B]; }
  // Runs after a button's action, with the button.
  std::function<void(TObject* Sender, TNavigateBtn Button)> OnClick;

 private:
  void UpdateButtons();
  std::unique_ptr<TRefreshLink> FLink;
  std::array<QToolButton*, 5> FButtons{};
  TButtonSet FVisible = AllNavButtons;
};

// The display text of DataField in the data source's current record; follows every move.
class TDBEdit : public TControl<QLineEdit> {
  Q_OBJECT
 public:
  explicit TDBEdit(QWidget* Parent = nullptr);
  ~TDBEdit() override;
  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* V);
  const std::string& DataField() const { return FDataField; }
  void SetDataField(std::string V);
  // The field shown, null when the dataset is closed or lacks it.
  TField* Field() const;
  std::string Text() const { return StdStr(text()); }

 private:
  void UpdateText();
  std::unique_ptr<TRefreshLink> FLink;
  std::string FDataField;
};

}  // namespace kv
#pragma GCC visibility pop
