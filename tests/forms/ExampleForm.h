// A form laid out in Qt Designer with the toolkit's controls as promoted widgets, declared the
// way the package's forms are: TForm plus the generated Ui class, set up in the constructor.
#pragma once

#include "Forms.h"
#include "ui_ExampleForm.h"

using namespace kv;

class TExampleForm : public TForm, public Ui::TExampleForm {
  Q_OBJECT
 public:
  explicit TExampleForm(TComponent* AOwner = nullptr) : TForm(AOwner) {
    setupUi(this);
    OnCreate = [this](TObject*) {
      ++Created;
      ControlsReadyAtCreate = CCampo != nullptr && DBGrid1 != nullptr;
    };
    DoCreate();
  }
  ~TExampleForm() override { DoDestroy(); }
  int Created = 0;
  bool ControlsReadyAtCreate = false;
};
