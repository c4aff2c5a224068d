// Helpers of the form tests: acting on a modal form from its own event loop, saving what a
// widget shows, reading a pixel, and small datasets.
#pragma once

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "DB.h"

using namespace kv;

// Runs Action on the modal widget once it is shown (posted now, run from the modal loop that
// the caller enters next). Action must end the modal loop (accept, reject, a click).
inline void WhenModal(std::function<void(QWidget* Modal)> Action, int Tries = 200) {
  QTimer::singleShot(0, [Action = std::move(Action), Tries]() mutable {
    QWidget* Modal = QApplication::activeModalWidget();
    if (Modal && Modal->isVisible())
      Action(Modal);
    else if (Tries > 0)
      WhenModal(std::move(Action), Tries - 1);
  });
}

// Where the tests leave the pictures they take (to be looked at, not compared).
inline QString ShotPath(const std::string& Name) {
  const QString Dir = QString(KV_BINARY_DIR) + "/forms-shots";
  QDir().mkpath(Dir);
  return Dir + "/" + QString::fromStdString(Name) + ".png";
}

// A scratch file path for a test.
inline std::string TestFilePath(const std::string& Name) {
  const QString Dir = QString(KV_BINARY_DIR) + "/forms-files";
  QDir().mkpath(Dir);
  return (Dir + "/" + QString::fromStdString(Name)).toStdString();
}

// What W shows now, as an image; saved under Name when given.
inline QImage Shot(QWidget* W, const std::string& Name = {}) {
  const QImage I = W->grab().toImage();
  if (!Name.empty()) I.save(ShotPath(Name));
  return I;
}

// Customers: CustNo (integer), Company (string), City (string), Amount (float), Since (date).
inline std::unique_ptr<TMemDataSet> MakeCustomers(int Extra = 0) {
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("CustNo", ftInteger);
  DS->FieldDefs().Add("Company", ftString, 30);
  DS->FieldDefs().Add("City", ftString, 15);
  DS->FieldDefs().Add("Amount", ftFloat);
  DS->FieldDefs().Add("Since", ftDate);
  DS->CreateDataSet();
  DS->AppendRecord({1221, "Velero Azul", "Cádiz", 10.5, EncodeDate(1998, 12, 25)});
  DS->AppendRecord({1231, "Corales del Sur", "Málaga", 20.0, EncodeDate(1999, 1, 2)});
  DS->AppendRecord({1351, "Pesca Tarifa", "Tarifa", Variant::Null(), Variant::Null()});
  DS->AppendRecord({1354, "Ángel Náutica", "Cádiz", 30.25, EncodeDate(2000, 6, 1)});
  DS->AppendRecord({1356, "Faro Norte", "Gijón", 40.0, EncodeDate(2001, 7, 7)});
  for (int I = 0; I < Extra; ++I)
    DS->AppendRecord({2000 + I, "Empresa " + std::to_string(I), "Vigo", I * 1.0, Variant::Null()});
  DS->First();
  return DS;
}
