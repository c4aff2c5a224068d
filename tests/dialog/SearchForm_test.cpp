// The search form driven as a user drives it: the value editor each column type gets, the
// condition lists, wrong entries in the combo boxes, the incremental search and the step
// buttons, accumulating a filter with Y and O and its description, a filter that fails, clearing,
// ordering and its refusals, and the colours the user sees.
#include <QTest>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;

namespace {

std::vector<std::string> Items(TComboBox* C) {
  std::vector<std::string> Out;
  for (int I = 0; I < C->Items().Count(); ++I) Out.push_back(C->Items()[I]);
  return Out;
}

const std::vector<std::string> TextConditions = {"contiene",        "empieza por",    "igual a",
                                                 "distinto a",      "mayor que",      "menor que",
                                                 "mayor o igual a", "menor o igual a"};
const std::vector<std::string> OtherConditions(TextConditions.begin() + 2, TextConditions.end());

class SearchFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenTable(Clientes, "CLIENTES.DB");
    Dialog.SetDataSet(&Clientes);
    Since = Messages->Count();
  }
  // Runs Steps on the shown form, then cancels it.
  void Run(const std::function<void(TSearchDialogBox&)>& Steps) {
    OnForm(Dialog, Steps, TEnd::Cancel);
    EXPECT_FALSE(Dialog.Execute());
  }
  TTable Clientes;
  TSearchDialog Dialog;
  int Since = 0;
};

TEST(SearchFormCreation, CaptionControlsAndOwnedParts) {
  TSearchDialogBox F;
  EXPECT_EQ(F.Caption(), "Busquedas");
  EXPECT_EQ(F.WindowState(), wsMaximized);
  ASSERT_NE(F.Engine(), nullptr);
  EXPECT_EQ(F.Engine()->Owner(), &F);
  ASSERT_NE(F.ExportBox(), nullptr);
  EXPECT_EQ(F.ExportBox()->Owner(), &F);
  EXPECT_EQ(F.ExportBox()->Caption(), "Exportación de datos");
  EXPECT_EQ(F.CCampo->width(), 137);
  EXPECT_EQ(F.Label1->Caption(), "Columna:");
  EXPECT_EQ(F.Label2->Caption(), "Condicion:");
  EXPECT_EQ(F.Label3->Caption(), "Valor");
  EXPECT_EQ(F.CBValor->Caption(), "Seleccionado = cierto sino = falso");
  EXPECT_EQ(F.STFiltro->Caption(), "Filtro:");
  EXPECT_EQ(F.BTFiltrarY->Caption(), "Filtra en &Y");
  EXPECT_EQ(F.BTFiltrarO->Caption(), "Filtrar en &O");
  EXPECT_EQ(F.BTBorrarFiltro->Caption(), "&Borrar filtro");
  EXPECT_EQ(F.BTOrdenar->Caption(), "O&rdenar");
  EXPECT_EQ(F.BTExportar->Caption(), "&Exportar");
  EXPECT_EQ(F.BTImprimir->Caption(), "&Imprimir");
  EXPECT_EQ(F.BTAceptar->ModalResult(), mrOk);
  EXPECT_EQ(F.BTCancelar->ModalResult(), mrCancel);
  EXPECT_EQ(F.CBOrdenDescendente->Caption(), "Orden descendente");
  EXPECT_EQ(F.CBDistinguirMayusculas->Caption(), "Distinguir mayúsculas");
  EXPECT_FALSE(F.CBOrdenDescendente->Checked());
  // Before a column is chosen the date picker shows; the other editors wait.
  EXPECT_TRUE(F.ETValor->Visible());
  EXPECT_TRUE(F.DTValor->Visible());
  EXPECT_FALSE(F.CBValor->Visible());
  EXPECT_FALSE(F.DT1Valor->Visible());
  EXPECT_FALSE(F.HT1Valor->Visible());
  EXPECT_FALSE(F.Animate1->Active());
  EXPECT_EQ(F.Animate1->StopFrame(), 8);
  EXPECT_EQ(F.DBGrid1->Options(), SearchGridOptions);
  EXPECT_EQ(F.DBGrid1->DataSource(), F.DataSource1);
}

TEST_F(SearchFormTest, EachColumnTypeGetsItsEditor) {
  auto Shown = [](TSearchDialogBox& F) {
    std::string S;
    const std::pair<QWidget*, const char*> Editors[] = {
        {F.ETValor, "E"}, {F.DTValor, "D"}, {F.CBValor, "C"}, {F.DT1Valor, "1"}, {F.HT1Valor, "H"}};
    for (auto [W, N] : Editors)
      if (!W->isHidden()) S += N;
    return S;
  };
  Run([&](TSearchDialogBox& F) {
    EXPECT_EQ(Shown(F), "E") << "the first column is the initial search column";
    EXPECT_EQ(F.CCampo->Text(), "CustNo");
    Type(F.ETValor, "12");
    Pick(F.CCampo, "Since");
    EXPECT_EQ(Shown(F), "D");
    EXPECT_EQ(F.DTValor->Kind(), dtkDate);
    EXPECT_EQ(F.DTValor->DateFormat(), dfLong);
    EXPECT_EQ(F.DTValor->Date().Val, Date().Val);
    Pick(F.CCampo, "Opens");
    EXPECT_EQ(Shown(F), "D");
    EXPECT_EQ(F.DTValor->Kind(), dtkTime);
    EXPECT_EQ(F.DTValor->DateFormat(), dfShort);
    EXPECT_NEAR(F.DTValor->Time().Val, TimeOf(Now()).Val, 10.0 / 86400);
    Pick(F.CCampo, "Active");
    EXPECT_EQ(Shown(F), "C");
    QTest::mouseClick(F.CBValor, Qt::LeftButton, {}, QPoint(8, F.CBValor->height() / 2));
    ASSERT_TRUE(F.CBValor->Checked());
    Pick(F.CCampo, "Active");
    EXPECT_TRUE(F.CBValor->Checked()) << "choosing the flag column again keeps the box";
    Pick(F.CCampo, "Joined");
    EXPECT_EQ(Shown(F), "1H");
    EXPECT_EQ(F.DT1Valor->Date().Val, Date().Val);
    EXPECT_EQ(F.DT1Valor->DateFormat(), dfShort);
    EXPECT_EQ(F.HT1Valor->Time().Val, 0.0);
    Pick(F.CCampo, "Company");
    EXPECT_EQ(Shown(F), "E");
    EXPECT_EQ(F.ETValor->Text(), "12") << "the text editor keeps its text";
    Pick(F.CCampo, "Todas las columnas");
    EXPECT_EQ(Shown(F), "E");
  });
}

TEST_F(SearchFormTest, ConditionListsFollowTheColumn) {
  Run([&](TSearchDialogBox& F) {
    EXPECT_EQ(Items(F.CCampo),
              (std::vector<std::string>{"Todas las columnas", "CustNo", "Company", "City", "Limit",
                                        "Since", "Active", "Joined", "Opens"}));
    EXPECT_EQ(Items(F.CCondicion), OtherConditions) << "the design-time phrases are gone";
    EXPECT_EQ(F.CCondicion->Text(), "igual a");
    Pick(F.CCampo, "Company");
    EXPECT_EQ(Items(F.CCondicion), TextConditions);
    EXPECT_EQ(F.CCondicion->Text(), "empieza por");
    Pick(F.CCondicion, "menor que");
    Pick(F.CCampo, "Limit");
    EXPECT_EQ(Items(F.CCondicion), OtherConditions);
    EXPECT_EQ(F.CCondicion->Text(), "igual a");
    Pick(F.CCampo, "Todas las columnas");
    EXPECT_EQ(Items(F.CCondicion), TextConditions);
    EXPECT_EQ(F.CCondicion->Text(), "empieza por");
  });
}

TEST_F(SearchFormTest, WrongColumnOrConditionIsRefusedAndItemZeroComesBack) {
  Run([&](TSearchDialogBox& F) {
    Type(F.CCampo->lineEdit(), "Z");
    EXPECT_EQ(MessagesSince(Since), std::vector<std::string>{"Valor de campo no válido"});
    EXPECT_EQ(Messages->Last().Kind, mtError);
    EXPECT_EQ(F.CCampo->Text(), "Todas las columnas");
    EXPECT_EQ(F.CCondicion->Text(), "empieza por");
    QTest::keyClick(F.CCampo->lineEdit(), Qt::Key_A, Qt::ControlModifier);
    Type(F.CCampo->lineEdit(), "Ci");
    EXPECT_EQ(F.CCampo->Text(), "City") << "a typed prefix completes to the item";
    EXPECT_EQ(Messages->Count(), Since + 1);
    QTest::keyClick(F.CCondicion->lineEdit(), Qt::Key_A, Qt::ControlModifier);
    Type(F.CCondicion->lineEdit(), "x");
    EXPECT_EQ(Messages->Last().Msg, "Valor de condicion no válido");
    EXPECT_EQ(Messages->Last().Kind, mtError);
    EXPECT_EQ(F.CCondicion->Text(), "contiene");
  });
}

TEST_F(SearchFormTest, TypingSearchesMovesTheGridAndEnablesTheSteps) {
  Run([&](TSearchDialogBox& F) {
    EXPECT_FALSE(F.SPSiguiente->isEnabled());
    Pick(F.CCampo, "Company");
    Type(F.ETValor, "Dia");
    EXPECT_EQ(Clientes.FieldByName("Company")->AsString(), "Diana Buceo");
    EXPECT_EQ(F.DBGrid1->currentIndex().row(), 3);
    EXPECT_EQ(F.DBGrid1->SelectedIndex(), 1) << "choosing the column moved the grid to it";
    EXPECT_TRUE(F.SPSiguiente->isEnabled());
    EXPECT_TRUE(F.SPAnterior->isEnabled());
    EXPECT_EQ(Clientes.RecordCount(), 6) << "the search moves, it does not filter";
    Type(F.ETValor, "x");
    EXPECT_FALSE(F.SPSiguiente->isEnabled());
    EXPECT_EQ(Clientes.FieldByName("Company")->AsString(), "Diana Buceo") << "no match: stays";
    Erase(F.ETValor);
    EXPECT_FALSE(F.SPAnterior->isEnabled());
    Type(F.ETValor, "ana");
    EXPECT_EQ(Clientes.FieldByName("Company")->AsString(), "Ana Náutica") << "case ignored";
    QTest::mouseClick(F.CBDistinguirMayusculas, Qt::LeftButton, {},
                      QPoint(8, F.CBDistinguirMayusculas->height() / 2));
    EXPECT_FALSE(F.SPSiguiente->isEnabled()) << "the same search again, now with case";
    Erase(F.ETValor);
    Pick(F.CCondicion, "contiene");
    Type(F.ETValor, "Bu");
    EXPECT_FALSE(F.SPSiguiente->isEnabled()) << "contains never searches as you type";
    Pick(F.CCampo, "Todas las columnas");
    Type(F.ETValor, "A");
    EXPECT_FALSE(F.SPSiguiente->isEnabled());
    EXPECT_EQ(Clientes.FieldByName("Company")->AsString(), "Ana Náutica");
  });
}

TEST_F(SearchFormTest, DistinguirAcentosUntickedSearchesAgainWithoutAccents) {
  Run([&](TSearchDialogBox& F) {
    EXPECT_EQ(F.CBDistinguirAcentos->Caption(), "Distinguir acentos");
    EXPECT_TRUE(F.CBDistinguirAcentos->Checked()) << "accents count by default";
    Pick(F.CCampo, "Company");
    Type(F.ETValor, "ana nau");
    EXPECT_FALSE(F.SPSiguiente->isEnabled()) << "'nau' is not 'Náu' while accents count";
    QTest::mouseClick(F.CBDistinguirAcentos, Qt::LeftButton, {},
                      QPoint(8, F.CBDistinguirAcentos->height() / 2));
    EXPECT_FALSE(F.Engine()->AccentSensitive());
    EXPECT_TRUE(F.SPSiguiente->isEnabled()) << "the same search again, accents ignored";
    EXPECT_EQ(Clientes.FieldByName("Company")->AsString(), "Ana Náutica");
  });
  // The component's property opens the next search with the box unticked.
  Dialog.SetAccentSensitive(false);
  Run([&](TSearchDialogBox& F) {
    EXPECT_FALSE(F.CBDistinguirAcentos->Checked());
    Pick(F.CCampo, "Company");
    Type(F.ETValor, "ANA NAUTICA");
    EXPECT_EQ(Clientes.FieldByName("Company")->AsString(), "Ana Náutica");
    EXPECT_TRUE(F.SPSiguiente->isEnabled());
  });
}

TEST_F(SearchFormTest, StepsGoToTheNextAndPreviousMatch) {
  Run([&](TSearchDialogBox& F) {
    Pick(F.CCampo, "Company");
    Type(F.ETValor, "Ana");
    EXPECT_EQ(Clientes.FieldByName("CustNo")->AsInteger(), 1);
    QTest::mouseClick(F.SPSiguiente, Qt::LeftButton);
    EXPECT_EQ(Clientes.FieldByName("CustNo")->AsInteger(), 5);
    EXPECT_EQ(F.DBGrid1->currentIndex().row(), 4);
    QTest::mouseClick(F.SPSiguiente, Qt::LeftButton);
    EXPECT_EQ(MessagesSince(Since),
              std::vector<std::string>{"No se puede pasar al registro siguiente"});
    EXPECT_EQ(Messages->Last().Kind, mtCustom) << "a plain box";
    QTest::mouseClick(F.SPAnterior, Qt::LeftButton);
    EXPECT_EQ(Clientes.FieldByName("CustNo")->AsInteger(), 1);
    QTest::mouseClick(F.SPAnterior, Qt::LeftButton);
    EXPECT_EQ(Messages->Last().Msg, "No se puede pasar al registro anterior");
  });
}

TEST_F(SearchFormTest, ClickingAnotherColumnResetsTheConditionAndKeepsTheValue) {
  Run([&](TSearchDialogBox& F) {
    Pick(F.CCampo, "Company");
    Pick(F.CCondicion, "distinto a");
    Type(F.ETValor, "Ana");
    ClickCell(F.DBGrid1, 2, 3);
    EXPECT_EQ(F.CCampo->Text(), "Limit");
    EXPECT_EQ(F.CCondicion->Text(), "igual a");
    EXPECT_EQ(F.ETValor->Text(), "Ana");
    EXPECT_FALSE(F.SPSiguiente->isEnabled());
    ClickCell(F.DBGrid1, 2, 2);
    EXPECT_EQ(F.CCondicion->Text(), "empieza por");
    // The keyboard moves only the text of the column box.
    Pick(F.CCondicion, "menor que");
    F.DBGrid1->setFocus();
    QTest::keyClick(F.DBGrid1, Qt::Key_Left);
    EXPECT_EQ(F.CCampo->Text(), "Company");
    EXPECT_EQ(F.CCondicion->Text(), "menor que");
  });
}

TEST_F(SearchFormTest, FilterWithYAndODescribesItself) {
  Run([&](TSearchDialogBox& F) {
    Pick(F.CCampo, "Company");
    Type(F.ETValor, "Ana");
    QTest::mouseClick(F.BTFiltrarO, Qt::LeftButton);
    EXPECT_EQ(F.Engine()->Filter(), "(Company=='Ana')") << "a first O acts as a Y";
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:Company empieza por \"Ana\"");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    AddToFilter(F, "City", "igual a", "Vigo");
    EXPECT_EQ(F.Engine()->Filter(), "(Company=='Ana') and (City='Vigo')");
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:Company empieza por \"Ana\" Y City igual a \"Vigo\"");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:1");
    Pick(F.CCampo, "Active");
    QTest::mouseClick(F.CBValor, Qt::LeftButton, {}, QPoint(8, F.CBValor->height() / 2));
    QTest::mouseClick(F.BTFiltrarO, Qt::LeftButton);
    EXPECT_EQ(F.Engine()->Filter(), "(Company=='Ana') and (City='Vigo') or (Active='true')");
    EXPECT_EQ(F.STFiltro->Caption(),
              "Filtro:Company empieza por \"Ana\" Y City igual a "
              "\"Vigo\" O Active igual a \"Cierto\"");
    QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
    EXPECT_EQ(F.Engine()->Filter(), "");
    EXPECT_FALSE(F.Engine()->Filtered());
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:6");
    for (int I = 0; I < F.DBGrid1->Columns().Count(); ++I)
      EXPECT_EQ(F.DBGrid1->Columns()[I]->Color(), clWhite);
  });
}

TEST_F(SearchFormTest, DatesAndTimesAreDescribedInTheLocale) {
  Run([&](TSearchDialogBox& F) {
    Pick(F.CCampo, "Since");
    Pick(F.CCondicion, "mayor que");
    F.DTValor->SetDate(EncodeDate(2000, 1, 1));
    QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:Since mayor que \"01/01/2000\"");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    Pick(F.CCampo, "Joined");
    Pick(F.CCondicion, "menor que");
    F.DT1Valor->SetDate(EncodeDate(2002, 5, 5));
    F.HT1Valor->SetTime(EncodeTime(18, 0, 0));
    QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
    EXPECT_EQ(F.Engine()->Filter(), "(Since>'01/01/2000') and (Joined<'05/05/2002 18:00:00')");
    EXPECT_EQ(F.STFiltro->Caption(),
              "Filtro:Since mayor que \"01/01/2000\" Y Joined menor que \"05/05/2002 18:00:00\"");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:1");
  });
}

// A value of the wrong type is refused when the filter is assigned: the error reaches the user,
// the description and counter stay, and the next condition builds on the applied filter.
TEST_F(SearchFormTest, RejectedValueLeavesTheAppliedFilterInPlace) {
  Run([&](TSearchDialogBox& F) {
    AddToFilter(F, "City", "igual a", "Madrid");
    ASSERT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    Pick(F.CCampo, "Limit");
    Pick(F.CCondicion, "mayor que");
    Erase(F.ETValor);
    Type(F.ETValor, "abc");
    const int Before = Messages->Count();
    QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
    ASSERT_EQ(Messages->Count(), Before + 1);
    EXPECT_EQ(Messages->Last().Msg, "El valor:'abc' no es de tipo válido");
    EXPECT_EQ(Messages->Last().Kind, mtError);
    EXPECT_EQ(F.Engine()->Filter(), "(City='Madrid')");
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:City igual a \"Madrid\"");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
    EXPECT_FALSE(F.Animate1->Active());
    EXPECT_FALSE(F.SPSiguiente->isEnabled());
    Erase(F.ETValor);
    Type(F.ETValor, "5");
    QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
    EXPECT_EQ(F.Engine()->Filter(), "(City='Madrid') and (Limit>'5')");
    EXPECT_EQ(F.STFiltro->Caption(), "Filtro:City igual a \"Madrid\" Y Limit mayor que \"5\"");
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:1");
  });
}

// A lookup field the SQL cannot reach makes the search itself fail: the plain box, the filter
// and description as before, and the result shown before still shown and counted.
TEST(SearchFormFailure, FailedSearchRestoresFilterDescriptionAndResult) {
  TMemDataSet Names;
  Names.FieldDefs().Add("CustNo", ftInteger);
  Names.FieldDefs().Add("Name", ftString, 20);
  Names.CreateDataSet();
  Names.AppendRecord({1, "Uno"});
  TTable Pedidos;
  Pedidos.AddField<TIntegerField>("OrderNo");
  Pedidos.AddField<TIntegerField>("CustNo");
  Pedidos.AddField<TCurrencyField>("Amount");
  Pedidos.AddField<TDateTimeField>("SaleDate");
  Pedidos.AddLookupField("Cliente", ftString, &Names, "CustNo", "CustNo", "Name", 20);
  OpenTable(Pedidos, "PEDIDOS.DB");
  TSearchDialog D;
  D.SetDataSet(&Pedidos);
  OnForm(
      D,
      [&](TSearchDialogBox& F) {
        Type(F.ETValor, "101");
        Pick(F.CCondicion, "mayor que");
        QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
        ASSERT_EQ(F.STRegistros->Caption(), "Registros encontrados:4");
        Pick(F.CCampo, "Cliente");
        Erase(F.ETValor);
        Type(F.ETValor, "Uno");
        const int Before = Messages->Count();
        QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
        ASSERT_EQ(MessagesSince(Before),
                  std::vector<std::string>{"Tipo de dato incorrecto, posiblemente este buscando "
                                           "texto en un campo numérico o fecha"});
        EXPECT_EQ(Messages->Last().Kind, mtCustom);
        EXPECT_EQ(F.Engine()->Filter(), "(OrderNo>'101')");
        EXPECT_EQ(F.FilterText(), "OrderNo mayor que \"101\"");
        EXPECT_EQ(F.STFiltro->Caption(), "Filtro:OrderNo mayor que \"101\"");
        EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:4");
        EXPECT_EQ(F.Engine()->Results(), &Pedidos);
        EXPECT_EQ(F.DataSource1->DataSet(), &Pedidos);
        EXPECT_EQ(Pedidos.RecordCount(), 4);
        EXPECT_EQ(F.DBGrid1->model()->rowCount(), 4);
        // The next condition extends the filter as it was, with no trace of the failed one.
        AddToFilter(F, "Amount", "menor que", "50", true);
        EXPECT_EQ(F.Engine()->Filter(), "(OrderNo>'101') or (Amount<'50')");
        EXPECT_EQ(F.STFiltro->Caption(),
                  "Filtro:OrderNo mayor que \"101\" O Amount menor que \"50\"");
      },
      TEnd::Cancel);
  EXPECT_FALSE(D.Execute());
}

TEST(SearchFormOrder, OrdersByTheGridColumnAndRefusesWhatCannotBeOrdered) {
  TTable Articulos, Lineas;
  OpenItemsWithDescription(Articulos, Lineas);
  TSearchDialog D;
  D.SetDataSet(&Lineas);
  OnForm(
      D,
      [&](TSearchDialogBox& F) {
        const int Since = Messages->Count();
        Pick(F.CCampo, "Todas las columnas");
        QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
        EXPECT_EQ(MessagesSince(Since),
                  std::vector<std::string>{"No se puede ordenar por todas las columnas"});
        EXPECT_EQ(Messages->Last().Kind, mtError);
        ClickCell(F.DBGrid1, 0, 5);
        ASSERT_EQ(F.CCampo->Text(), "Description");
        QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
        EXPECT_EQ(Messages->Last().Msg, "No se puede ordenar por este tipo de campos");
        EXPECT_EQ(F.Engine()->OrderBy(), "") << "a refusal leaves the engine alone";
        ClickCell(F.DBGrid1, 0, 3);
        Type(F.ETValor, "9");
        QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
        EXPECT_EQ(F.ETValor->Text(), "");
        EXPECT_EQ(F.Engine()->OrderBy(), "Qty");
        EXPECT_EQ(Column(F.Engine()->Results(), "Qty"), ",1,2,3,4,5,7,9");
        const QImage Shot = F.DBGrid1->grab().toImage();
        EXPECT_EQ(CellColor(F.DBGrid1, Shot, 3, 3), ToQColor(clAqua));
        EXPECT_EQ(CellColor(F.DBGrid1, Shot, 3, 1), ToQColor(clWhite));
        EXPECT_EQ(TitleColor(F.DBGrid1, Shot, 5), ToQColor(clAqua)) << "a lookup column's title";
        EXPECT_EQ(TitleColor(F.DBGrid1, Shot, 1), ToQColor(clSilver));
        QTest::mouseClick(F.CBOrdenDescendente, Qt::LeftButton, {},
                          QPoint(8, F.CBOrdenDescendente->height() / 2));
        EXPECT_TRUE(F.Engine()->Descendant());
        EXPECT_EQ(Column(F.Engine()->Results(), "Qty"), ",1,2,3,4,5,7,9") << "not until ordered";
        QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
        EXPECT_EQ(Column(F.Engine()->Results(), "Qty"), "9,7,5,4,3,2,1,");
        QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
        EXPECT_EQ(F.Engine()->OrderBy(), "Qty") << "clearing keeps the order field";
        const QImage Cleared = F.DBGrid1->grab().toImage();
        EXPECT_EQ(CellColor(F.DBGrid1, Cleared, 3, 3), ToQColor(clWhite));
      },
      TEnd::Cancel);
  EXPECT_FALSE(D.Execute());
}

TEST_F(SearchFormTest, CounterAndTitleColoursAsPainted) {
  Run([&](TSearchDialogBox& F) {
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:6");
    EXPECT_EQ(BackColor(F.STRegistros), ToQColor(clSilver));
    const QImage Shot = F.DBGrid1->grab().toImage();
    EXPECT_EQ(TitleColor(F.DBGrid1, Shot, 2), ToQColor(clSilver));
    ClickCell(F.DBGrid1, 0, 3);
    ClickCell(F.DBGrid1, 0, 3, Qt::ControlModifier);
    ClickCell(F.DBGrid1, 1, 3, Qt::ControlModifier);
    EXPECT_EQ(F.STRegistros->Caption(), "Suma de Limit: 11");
    EXPECT_EQ(BackColor(F.STRegistros), ToQColor(clBlack));
    const QImage Summed = F.DBGrid1->grab().toImage();
    EXPECT_EQ(TitleColor(F.DBGrid1, Summed, 3), ToQColor(clBlack));
    // A key released with no row picked: the count on silver and the titles back.
    ClickCell(F.DBGrid1, 2, 2);
    QTest::keyClick(F.DBGrid1, Qt::Key_Down);
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:6");
    EXPECT_EQ(BackColor(F.STRegistros), ToQColor(clSilver));
    EXPECT_EQ(F.DBGrid1->Columns()[3]->Title().Caption(), "Limit");
    EXPECT_EQ(TitleColor(F.DBGrid1, F.DBGrid1->grab().toImage(), 3), ToQColor(clSilver));
  });
}

}  // namespace
