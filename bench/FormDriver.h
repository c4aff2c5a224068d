// Driving the real search form from a benchmark as a user does: steps run once the form shows,
// list items picked, cells clicked, the grid painted. Shared by kvdialogbench and kvpgbench.
#pragma once

#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "SearchDialog.h"

namespace kv {

// Runs Steps on the search form of D once Execute (or Find, with Accept) shows it; Steps ends
// the form itself or it is cancelled afterwards. Program names the benchmark in its messages.
inline void OnForm(kv::TSearchDialog& D, std::function<void(kv::TSearchDialogBox&)> Steps,
                   const char* Program) {
  kv::TSearchDialogBox* F = D.SearchForm();
  auto Poll = std::make_shared<std::function<void()>>();
  *Poll = [F, Program, Steps = std::move(Steps),
           Weak = std::weak_ptr<std::function<void()>>(Poll)] {
    if (!F->isVisible()) {
      if (auto P = Weak.lock()) QTimer::singleShot(1, [P] { (*P)(); });
      return;
    }
    try {
      Steps(*F);
    } catch (const std::exception& E) {
      std::fprintf(stderr, "%s: %s\n", Program, E.what());
    }
    if (F->isVisible()) F->SetModalResult(kv::mrCancel);
  };
  QTimer::singleShot(0, [Poll] { (*Poll)(); });
}

// Chooses Item of a list as the user does (the activation included).
inline void Pick(kv::TComboBox* C, const std::string& Item) {
  const int I = C->findText(kv::QStr(Item), Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (I < 0) throw kv::Exception("'" + Item + "' no está en la lista");
  C->setCurrentIndex(I);
  emit C->activated(I);
}

// The result grid's column showing Field.
inline int ColumnOf(kv::TSearchDialogBox& F, const std::string& Field) {
  for (int I = 0; I < F.DBGrid1->Columns().Count(); ++I)
    if (F.DBGrid1->Columns()[I]->FieldName() == Field) return I;
  throw kv::Exception("Sin columna " + Field);
}

inline void ClickCell(kv::TDBGrid* G, int Row, int Col, Qt::KeyboardModifiers Mods = {}) {
  const QModelIndex I = G->model()->index(Row, Col);
  G->scrollTo(I);
  QTest::mouseClick(G->viewport(), Qt::LeftButton, Mods, G->visualRect(I).center());
}

}  // namespace kv
