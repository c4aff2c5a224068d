// The searchdemo program run as a user runs it: the guided tour writes one picture per step and
// an index of them; bad arguments, a missing display or database and a folder that cannot be
// made are told.
#include <gmock/gmock.h>

#include <QImage>
#include <cstdlib>
#include <optional>
#include <set>

#include "Tour.h"
#include "tools/ToolTestUtil.h"

namespace {

using namespace tooltest;
using ::testing::HasSubstr;

const std::string Searchdemo = KV_BINARY_DIR "/demo/searchdemo";

// Sets or removes an environment variable while it lives.
class TEnv {
 public:
  TEnv(const char* Name, const char* Value) : FName(Name) {
    if (const char* Old = std::getenv(Name)) FOld = Old;
    if (Value)
      setenv(Name, Value, 1);
    else
      unsetenv(Name);
  }
  ~TEnv() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }
  TEnv(const TEnv&) = delete;
  TEnv& operator=(const TEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Colours in an image (counted up to Limit).
size_t Colours(const QImage& I, size_t Limit = 50) {
  std::set<QRgb> C;
  for (int Y = 0; Y < I.height() && C.size() < Limit; Y += 3)
    for (int X = 0; X < I.width(); X += 3) C.insert(I.pixel(X, Y));
  return C.size();
}

TEST(SearchdemoTour, WritesOneNonEmptyPicturePerStepAndSaysWhereTheyAre) {
  TScratch S;
  const fs::path Dir = S.Dir / "recorrido";
  // The tour draws on an offscreen screen of its own size.
  const TEnv Platform("QT_QPA_PLATFORM", "offscreen");
  const TRunResult R = RunProgram(Searchdemo, {"--tour", Dir.string()}, S.Dir);
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_THAT(R.Err, Not(HasSubstr("mensaje")));
  std::vector<std::string> Lines = R.Lines();
  ASSERT_GE(Lines.size(), 2u);
  const std::string Last = Lines.back();
  Lines.pop_back();
  EXPECT_EQ(Last, "searchdemo: " + std::to_string(Lines.size()) + " imágenes en " + Dir.string() +
                      " (índice: " + (Dir / TourIndexName).string() + ")");
  // The index holds the same lines as standard output.
  std::string Index;
  for (const std::string& L : Lines) Index += L + "\n";
  EXPECT_EQ(ReadFile(Dir / TourIndexName), Index);
  // Each line: a picture of the folder, two blanks, what it shows.
  std::set<std::string> Named;
  std::string Captions;
  for (const std::string& L : Lines) {
    SCOPED_TRACE(L);
    const size_t Gap = L.find("  ");
    ASSERT_NE(Gap, std::string::npos);
    const std::string File = L.substr(0, Gap);
    EXPECT_GT(L.size(), Gap + 10) << "a line says what the picture shows";
    Captions += L.substr(Gap + 2) + "\n";
    EXPECT_TRUE(Named.insert(File).second) << "named twice";
    const QImage I(QString::fromStdString((Dir / File).string()));
    ASSERT_FALSE(I.isNull()) << "not a picture";
    EXPECT_GE(Colours(I), 10u) << "a blank picture";
  }
  size_t Pictures = 0;
  for (const auto& E : fs::directory_iterator(Dir)) Pictures += E.path().extension() == ".png";
  EXPECT_EQ(Pictures, Named.size());
  // The four searches, each accepted, and the help.
  for (const char* Word : {"«Search in all Orders»", "«Search Customer»", "«Search in all Items»",
                           "«Search Items in Order»", "«Filtra en Y»", "«Ordenar»",
                           "Suma de Items total", "«Aceptar»", "F1"})
    EXPECT_THAT(Captions, HasSubstr(Word));
  EXPECT_GE(Lines.size(), 4u * 6 + 2);
  // Maximised forms fill the tour's screen.
  const QImage First(QString::fromStdString((Dir / *Named.begin()).string()));
  EXPECT_EQ(First.size(), QSize(TourScreenWidth, TourScreenHeight));
}

TEST(SearchdemoProgram, BadArgumentsAMissingDisplayOrDatabaseAndUnwritableFoldersAreTold) {
  TScratch S;
  const struct {
    std::vector<std::string> Args;
    int Status;
    const char* Message;
  } Cases[] = {
      {{"--tour"}, 2, "searchdemo: falta la carpeta de --tour"},
      {{"--colour"}, 2, "searchdemo: argumento no válido '--colour'"},
      {{"pedidos"}, 2, "searchdemo: argumento no válido 'pedidos'"},
      {{"--tour", "/proc/no/se/puede"}, 1, "No se ha podido crear la carpeta '/proc/no/se/puede'"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Args[0]);
    const TRunResult R = RunProgram(Searchdemo, C.Args, S.Dir);
    EXPECT_EQ(R.Status, C.Status);
    EXPECT_THAT(R.Err, HasSubstr(C.Message));
  }
  {
    // A database that is not there: the error names it, and the program ends cleanly.
    const TEnv Aliases("KV_ALIASES", "DBDEMOS=/no/existe");
    const TRunResult R = RunProgram(Searchdemo, {"--tour", (S.Dir / "t").string()}, S.Dir);
    EXPECT_EQ(R.Status, 1);
    EXPECT_THAT(R.Err, HasSubstr("searchdemo: El directorio '/no/existe' del alias 'DBDEMOS'"));
  }
  const TRunResult Help = RunProgram(Searchdemo, {"--help"}, S.Dir);
  EXPECT_EQ(Help.Status, 0);
  EXPECT_THAT(Help.Out, HasSubstr("uso: searchdemo [--tour CARPETA]"));
  // Without any display the form cannot show: the program says so instead of failing in Qt.
  const TEnv Platform("QT_QPA_PLATFORM", nullptr), X("DISPLAY", nullptr),
      Wayland("WAYLAND_DISPLAY", nullptr);
  const TRunResult R = RunProgram(Searchdemo, {}, S.Dir);
  EXPECT_EQ(R.Status, 1);
  EXPECT_THAT(R.Err, HasSubstr("no hay pantalla (ni DISPLAY ni WAYLAND_DISPLAY)"));
}

}  // namespace
