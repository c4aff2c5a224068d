// Hostile values in the searched table: a 64 KiB text, bytes that are no UTF-8, right-to-left
// text, emoji and combining accents, in values and in field labels. The form shows them (a
// picture is left in forms-shots to look at), searches them and counts them without a crash.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;
namespace fs = std::filesystem;

namespace {

const std::string Long = std::string(65536, 'l') + "fin";

std::string Read(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

// Writes Rows as table File in Dir, then puts bytes that are no UTF-8 in place of "MARCA".
void WriteTable(const std::string& Path, const std::vector<std::string>& Rows, int Size,
                bool BadBytes) {
  TMemDataSet M;
  M.FieldDefs().Add("Texto", ftString, Size);
  M.FieldDefs().Add("Importe", ftFloat);
  M.CreateDataSet();
  double N = 0;
  for (const std::string& R : Rows) M.AppendRecord({R, ++N});
  TTable T;
  T.SetTableName(Path);
  T.BatchMove(&M, batCopy);
  if (!BadBytes) return;
  std::string Bytes = Read(Path);
  const size_t At = Bytes.find("MARCA");
  ASSERT_NE(At, std::string::npos);
  Bytes.replace(At, 5, "\xFF\xFE\xC3(\x80");
  std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

// A fresh scratch folder for a test.
std::string FreshFolder(const std::string& Name) {
  const std::string Dir = TestFilePath(Name);
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  return Dir;
}

void OpenIn(TTable& T, const std::string& Dir, const std::string& Name) {
  T.SetDatabaseName(Dir);
  T.SetTableName(Name);
  T.Open();
}

const std::vector<std::string> Hostile = {Long,
                                          "שלום עולם",
                                          "مرحبا بالعالم 123",
                                          "🐟 pez 👩‍🔧 🇪🇸",
                                          "Jose\xCC\x81 y Zoe\xCC\x88",
                                          "mezcla abc אבג 🐟",
                                          "MARCA"};

TEST(HostileData, ValuesAndLabelsShowSearchAndCount) {
  const std::string Dir = FreshFolder("hostile");
  WriteTable(Dir + "/HOSTIL.txt", Hostile, 70000, false);
  TTable T;
  OpenIn(T, Dir, "HOSTIL.txt");
  ASSERT_EQ(T.RecordCount(), 7);
  T.FieldByName("Texto")->SetDisplayLabel("Texto ✍️ שם");
  T.FieldByName("Importe")->SetDisplayLabel("Importe e\xCC\x81 💶");
  TSearchDialog D;
  D.SetDataSet(&T);
  const int First = Messages->Count();
  OnForm(D, [&](TSearchDialogBox& F) {
    Shot(&F, "hostile-values");
    // Each value found by a piece of it ("contiene"), as SQL or as a filter alike.
    const std::pair<const char*, int> Pieces[] = {{"fin", 1}, {"שלום", 1},        {"مرحبا", 1},
                                                  {"🐟", 2},   {"👩‍🔧", 1}, {"e\xCC\x88", 1},
                                                  {"אבג", 1}};
    for (auto [Piece, Count] : Pieces) {
      QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
      Pick(F.CCampo, "Texto ✍️ שם");
      Pick(F.CCondicion, "contiene");
      F.ETValor->SetText(Piece);
      QTest::mouseClick(F.BTFiltrarY, Qt::LeftButton);
      EXPECT_EQ(F.Engine()->Results()->RecordCount(), Count) << Piece;
      EXPECT_EQ(F.STRegistros->Caption(), F.RecordCountText()) << Piece;
    }
    Shot(&F, "hostile-found");
    // The long value in the grid, clicked and typed after; the grid sums a pick of rows.
    QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
    ClickCell(F.DBGrid1, 0, 0);
    Pick(F.CCampo, "Texto ✍️ שם");
    Pick(F.CCondicion, "empieza por");
    F.ETValor->SetText(std::string(10000, 'l'));
    ClickCell(F.DBGrid1, 1, 1, Qt::ControlModifier);
    ClickCell(F.DBGrid1, 4, 1, Qt::ControlModifier);
    F.CCampo->setFocus();
    Shot(&F, "hostile-long");
    // Ordered by the odd column: as SQL, over the bytes that are no UTF-8 too.
    Pick(F.CCampo, "Texto ✍️ שם");
    QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
    EXPECT_EQ(F.Engine()->Results()->RecordCount(), 7);
  });
  EXPECT_TRUE(D.Execute());
  for (int I = First; I < Messages->Count(); ++I)
    ADD_FAILURE() << "message: " << Messages->Messages()[static_cast<size_t>(I)].Msg;
  fs::remove_all(Dir);
}

// Bytes that are no UTF-8: a Paradox table reads them through its code page and the form shows
// and searches them; an ASCII table (UTF-8) refuses to open, naming the line and the field.
TEST(HostileData, BytesThatAreNoUtf8) {
  const std::string Dir = FreshFolder("hostile-bytes");
  const std::vector<std::string> Rows = {"antes", "MARCA", "después"};
  WriteTable(Dir + "/BYTES.txt", Rows, 40, true);
  TTable Ascii;
  try {
    OpenIn(Ascii, Dir, "BYTES.txt");
    ADD_FAILURE() << "an ASCII table with bytes that are no UTF-8 opened";
  } catch (const Exception& E) {
    EXPECT_NE(std::string(E.what()).find("línea 2, campo 'Texto'"), std::string::npos) << E.what();
  }
  WriteTable(Dir + "/BYTES.DB", Rows, 40, true);
  TTable T;
  OpenIn(T, Dir, "BYTES.DB");
  ASSERT_EQ(T.RecordCount(), 3);
  TSearchDialog D;
  D.SetDataSet(&T);
  const int First = Messages->Count();
  OnForm(D, [&](TSearchDialogBox& F) {
    Shot(&F, "hostile-bytes");
    AddToFilter(F, "Texto", "contiene", "s");
    EXPECT_EQ(F.Engine()->Results()->RecordCount(), 2);
    QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
    EXPECT_EQ(F.Engine()->Results()->RecordCount(), 2);
    QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
    ClickCell(F.DBGrid1, 1, 0);
    EXPECT_EQ(F.Engine()->Results()->RecordCount(), 3);
  });
  EXPECT_TRUE(D.Find());
  EXPECT_EQ(T.RecNo(), 2) << "the record of the odd bytes was chosen";
  for (int I = First; I < Messages->Count(); ++I)
    ADD_FAILURE() << "message: " << Messages->Messages()[static_cast<size_t>(I)].Msg;
  fs::remove_all(Dir);
}

}  // namespace
