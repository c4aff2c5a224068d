// The main form of the demonstration program: its settings as laid out, the four searches and
// the help key.
#include "Unit1.h"

#include "DemoResources.h"
#include "Unit2.h"

using namespace kv;

TForm1* Form1 = nullptr;

namespace {

// The search buttons: bold red captions beside their 32 x 32 pictures.
void SearchButton(TSpeedButton* B, TDemoPicture Glyph) {
  B->SetGlyph(DemoPicture(Glyph));
  B->Font().SetStyle(fsBold);
  B->Font().SetColor(clRed);
}

}  // namespace

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {
  setupUi(this);
  SetName("Form1");
  SetCaption("Form1");
  SetWindowState(wsMaximized);
  SetKeyPreview(true);
  SetBorderIcons(biSystemMenu | biMinimize | biMaximize | biHelp);

  DBNavigator1->SetVisibleButtons(AllNavButtons);
  DBEdit1->SetDataField("OrderNo");
  DBEdit2->SetDataField("SaleDate");
  DBEdit3->SetDataField("Company");
  DBEdit4->SetDataField("Country");
  SearchButton(SpeedButton1, TDemoPicture::SearchCustomer);
  Image1->SetPicture(DemoPicture(TDemoPicture::Banner));

  DBGrid1->SetReadOnly(true);
  DBGrid1->SetColor(clInfoBk);
  for (const char* Field : {"PartNo", "Qty", "Description", "Discount", "ItemNo", "ONHand"})
    DBGrid1->Columns().Add()->SetFieldName(Field);

  SearchButton(SpeedButton2, TDemoPicture::SearchOrders);
  SearchButton(SpeedButton3, TDemoPicture::SearchItemsInOrder);
  SearchButton(SpeedButton4, TDemoPicture::SearchAllItems);

  SearchDialog1 = new TSearchDialog(this);
  SearchDialog1->SetName("SearchDialog1");
  SearchDialog1->SetUseSQLAlways(false);
  SearchDialog1->SetDecimals(0);
  SearchDialog1->SetMasterSlave(false);

  SpeedButton1->OnClick = [this](TObject* S) { SpeedButton1Click(S); };
  SpeedButton2->OnClick = [this](TObject* S) { SpeedButton2Click(S); };
  SpeedButton3->OnClick = [this](TObject* S) { SpeedButton3Click(S); };
  SpeedButton4->OnClick = [this](TObject* S) { SpeedButton4Click(S); };
  OnKeyDown = [this](TObject* S, Word& K, TShiftState Sh) { FormKeyDown(S, K, Sh); };
  DoCreate();
}

TForm1::~TForm1() {
  DoDestroy();
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::LinkDataModule(TDataModule2* Module) {
  DBNavigator1->SetDataSource(Module->dsorders);
  DBEdit1->SetDataSource(Module->dsorders);
  DBEdit2->SetDataSource(Module->dsorders);
  DBEdit3->SetDataSource(Module->dsCustomer);
  DBEdit4->SetDataSource(Module->dsCustomer);
  DBGrid1->SetDataSource(Module->dsItems);
}

// ---- the searches: every customer, every order, the current order's items, every item

void TForm1::SpeedButton1Click(TObject*) {
  SearchDialog1->SetMasterSlave(false);
  SearchDialog1->SetDataSet(DataModule2->Customer);
  SearchDialog1->Find();
}

void TForm1::SpeedButton2Click(TObject*) {
  SearchDialog1->SetMasterSlave(false);
  SearchDialog1->SetDataSet(DataModule2->orders);
  SearchDialog1->Find();
}

void TForm1::SpeedButton3Click(TObject*) {
  SearchDialog1->SetMasterSlave(true);
  SearchDialog1->SetDataSet(DataModule2->Items);
  SearchDialog1->Find();
}

void TForm1::SpeedButton4Click(TObject*) {
  SearchDialog1->SetMasterSlave(false);
  SearchDialog1->SetDataSet(DataModule2->Items);
  SearchDialog1->Find();
}

// F1, with any shift keys, from any control: the help file's contents.
void TForm1::FormKeyDown(TObject*, Word& Key, TShiftState) {
  if (Key == 112) Application->HelpCommand(3, 0);
}
