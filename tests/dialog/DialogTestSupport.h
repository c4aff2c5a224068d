// Helpers of the search-dialog tests: a scratch database of small tables written once per run,
// the search form operated from its own modal loop and then accepted or cancelled, picks and
// typing as a user makes them, and pixels of what the form shows.
#pragma once

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "DBTables.h"
#include "FormsTestSupport.h"
#include "MessageBoxes.h"
#include "SearchDialog.h"

using namespace kv;

namespace dialogtest {

// The recorder main() installs: every message box of the run lands here.
inline TMessageRecorder* Messages = nullptr;

// The folder of the scratch database, written on first use:
//   CLIENTES.DB  CustNo int (key), Company, City, Limit float, Since date, Active logical,
//                Joined timestamp, Opens time: 6 customers
//   PEDIDOS.DB   OrderNo int (key), CustNo int, Amount currency, SaleDate timestamp: 6 orders
//   LINEAS.DB    OrderNo, ItemNo (key), PartNo, Qty int, Discount float: 8 order items
//   ARTICULOS.DB PartNo int (key), Description: 4 parts
//   PRUEBA.DB    NOMBRE, CIUDAD, PRECIO float, FECHA date, ACTIVO logical, ALTA timestamp
//   NUMEROS.DB   N int, X float: no text column
const std::string& DatabaseDir();
// Removes the scratch database (main() at the end of the run).
void RemoveDatabase();
// Opens a table of the scratch database.
void OpenTable(TTable& T, const std::string& Name);
// PRUEBA.DB opened with the labels Nombre, Ciudad, Precio, Fecha, Activo, Alta.
void OpenPrueba(TTable& T);

enum class TEnd { Accept, Cancel, Leave };

// Runs Steps on the search form of D once Execute or Find shows it, then accepts or cancels
// the form (Leave: Steps ends the form itself). An exception in Steps fails the test.
void OnForm(TSearchDialog& D, std::function<void(TSearchDialogBox& F)> Steps,
            TEnd End = TEnd::Accept);
// Runs Action once Find() gives the modal form shown (for a form shown from inside another one,
// or a dialog that exists only while shown).
void WhenModalIs(std::function<QWidget*()> Find, std::function<void(QWidget*)> Action);
// Runs Action once W is the modal form shown.
inline void WhenShown(QWidget* W, std::function<void()> Action) {
  WhenModalIs([W] { return W; }, [Action = std::move(Action)](QWidget*) { Action(); });
}

// Order items (LINEAS) as the detail of orders (PEDIDOS, through Src) linked by OrderNo, in
// OrderNo;ItemNo order: the master on order 100, the detail on its first item.
void OpenOrderItems(TTable& Pedidos, TDataSource& Src, TTable& Lineas);

// Order items with a lookup field Description (from ARTICULOS): the columns OrderNo, ItemNo,
// PartNo, Qty, Discount, Description.
void OpenItemsWithDescription(TTable& Articulos, TTable& Lineas);

// Picks Item from the list of a combo box, as the user does.
void Pick(TComboBox* C, const std::string& Item);
// Types Text key by key into a control.
inline void Type(QWidget* W, const std::string& Text) {
  QTest::keyClicks(W, QString::fromStdString(Text));
}
// Empties an edit the way the user does: select everything and delete.
void Erase(QWidget* W);
// Builds a condition in the form's upper row as the user does (column and condition picked,
// the value typed into an emptied box) and adds it with "Filtra en Y", or "Filtrar en O".
void AddToFilter(TSearchDialogBox& F, const std::string& Column, const std::string& Condition,
                 const std::string& Value, bool Or = false);
// Clicks a cell of the grid (Mods: ctrl or shift to pick rows).
void ClickCell(TDBGrid* G, int Row, int Col, Qt::KeyboardModifiers Mods = {});
// Colours as the grid paints them: a cell's background, a title's background.
QColor CellColor(TDBGrid* G, const QImage& Shot, int Row, int Col);
QColor TitleColor(TDBGrid* G, const QImage& Shot, int Col);
// The background of a static text (a point inside its frame, away from its text).
QColor BackColor(QWidget* W);
// The texts of the recorded messages from Since on.
std::vector<std::string> MessagesSince(int Since);
// Values of one field over every record of DS (from the first; DS goes back to its record).
std::string Column(TDataSet* DS, const std::string& Field);

}  // namespace dialogtest
