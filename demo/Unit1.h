// The demonstration program's main form: the current order with its customer and items, and four
// buttons that search customers, orders, the order's items and all items with SearchDialog1.
#pragma once

#include "Forms.h"
#include "SearchDialog.h"
#include "ui_Unit1.h"

using namespace kv;

class TDataModule2;

class TForm1 : public TForm, public Ui::TForm1 {
  Q_OBJECT
 public:
  explicit TForm1(TComponent* AOwner = nullptr);
  ~TForm1() override;

  // Searches every item, every customer and every order with this component.
  TSearchDialog* SearchDialog1;

  // ---- event handlers
  void SpeedButton1Click(TObject* Sender);
  void SpeedButton2Click(TObject* Sender);
  void SpeedButton3Click(TObject* Sender);
  void SpeedButton4Click(TObject* Sender);
  void FormKeyDown(TObject* Sender, Word& Key, TShiftState Shift);

  // Points the navigator, the edits and the grid at the data module's sources (the form is
  // created before the data module; the program links them once both exist).
  void LinkDataModule(TDataModule2* Module);
};

// The program's main form, set when the application creates it.
extern TForm1* Form1;
