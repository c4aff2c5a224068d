// The export options form: its controls come from ExportBox.ui; the file-name button runs the
// save-file dialog.
#include "ExportBox.h"

TFExportBox::TFExportBox(TComponent* AOwner) : TForm(AOwner) {
  setupUi(this);
  SetPosition(poScreenCenter);
  SaveDialog1 = new TSaveDialog(this);
  SaveDialog1->SetFilter(ExportFileFilter);
  Button1->OnClick = [this](TObject* Sender) { Button1Click(Sender); };
  DoCreate();
}

TFExportBox::~TFExportBox() {
  DoDestroy();
}

void TFExportBox::Button1Click(TObject*) {
  if (SaveDialog1->Execute()) Edit1->SetText(SaveDialog1->FileName());
}
