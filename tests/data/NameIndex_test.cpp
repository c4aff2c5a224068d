// Looking names up by index answers exactly as comparing them one by one did: any letter case
// (Unicode included), the first of equal names, and no stale answer after a field, definition
// or column is removed, renamed or cleared.
#include <gtest/gtest.h>

#include "DB.h"

using namespace kv;

namespace {

TEST(NameIndex, FieldsDefinitionsAndColumnsFollowEveryChange) {
  // Fields: letter case, renames (also onto a name that was taken), removal, clearing.
  TMemDataSet DS;
  TField* Nombre = DS.AddField<TStringField>("Ñandú");
  TField* Edad = DS.AddField<TIntegerField>("Edad");
  EXPECT_EQ(Nombre, DS.FindField("ñANDÚ"));
  EXPECT_EQ(Edad, DS.FindField("EDAD"));
  EXPECT_THROW(DS.AddField<TIntegerField>("edad"), EDatabaseError);
  Nombre->SetFieldName("Apodo");
  EXPECT_EQ(nullptr, DS.FindField("ñandú"));
  EXPECT_EQ(Nombre, DS.FindField("apodo"));
  Edad->SetFieldName("APODO");  // two fields of one name: the first is found
  EXPECT_EQ(Nombre, DS.FindField("Apodo"));
  DS.RemoveField(Nombre);
  EXPECT_EQ(Edad, DS.FindField("apodo"));
  TField* Otro = DS.AddField<TStringField>("Otro");
  EXPECT_EQ(Otro, DS.FindField("OTRO"));
  DS.ClearFields();
  EXPECT_EQ(nullptr, DS.FindField("Otro"));
  EXPECT_EQ(nullptr, DS.FindField("Apodo"));

  // Definitions: a name changed through Items, a deletion shifting the rest, Assign.
  TFieldDefs Defs;
  Defs.Add("Uno", ftInteger);
  Defs.Add("Dos", ftInteger);
  Defs.Add("uno", ftString, 5);
  EXPECT_EQ(0, Defs.IndexOf("UNO"));
  Defs.Items(0).Name = "Cero";
  EXPECT_EQ(2, Defs.IndexOf("UNO"));
  Defs.Delete(0);
  EXPECT_EQ(0, Defs.IndexOf("dos"));
  EXPECT_EQ(1, Defs.IndexOf("Uno"));
  EXPECT_EQ(-1, Defs.IndexOf("Cero"));
  TFieldDefs Copy;
  Copy.Add("Dos", ftString);
  EXPECT_EQ(0, Copy.IndexOf("dos"));
  Copy.Assign(TFieldDefs());
  EXPECT_EQ(-1, Copy.IndexOf("dos"));

  // Columns: the first of equal names, names appended after a lookup, Defs filled again.
  TTableStore S;
  S.AddColumn({"Ciudad", ftString, 20});
  S.AddColumn({"CIUDAD", ftString, 20});
  EXPECT_EQ(0, S.ColumnIndex("ciudad"));
  S.AddColumn({"Año", ftInteger});
  EXPECT_EQ(2, S.ColumnIndex("AÑO"));
  S.Defs = {{"País", ftString, 10}};
  EXPECT_EQ(0, S.ColumnIndex("PAÍS"));
  EXPECT_EQ(-1, S.ColumnIndex("Año"));
  S.Defs = {{"Región", ftString, 10}, {"País", ftString, 10}};
  EXPECT_EQ(1, S.ColumnIndex("país"));
  EXPECT_EQ(0, S.ColumnIndex("REGIÓN"));
}

TEST(NameIndex, AWideDataSetBindsEveryFieldToItsOwnColumn) {
  auto S = std::make_shared<TTableStore>();
  constexpr int N = 5000;
  for (int I = 0; I < N; ++I) S->AddColumn({"F" + std::to_string(I), ftInteger});
  std::vector<Variant> Row;
  for (int I = 0; I < N; ++I) Row.emplace_back(I * 3);
  S->AppendRow(Row);
  TMemDataSet DS;
  DS.OpenStore(S);
  ASSERT_EQ(N, DS.FieldCount());
  for (int I = 0; I < N; I += 499) {
    TField* F = DS.FieldByName("f" + std::to_string(I));
    EXPECT_EQ(I, F->FieldNo());
    EXPECT_EQ(I * 3, F->AsInteger());
  }
}

}  // namespace
