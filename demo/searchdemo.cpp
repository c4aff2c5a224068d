// The demonstration program: the main form over the sample order-entry database, with its four
// searches. With --tour DIR it runs its guided tour instead (offscreen unless a Qt platform is
// chosen) and leaves a picture of each step in DIR.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DemoResources.h"
#include "Forms.h"
#include "Tour.h"
#include "Unit1.h"
#include "Unit2.h"

using namespace kv;

namespace {

const char* const Usage =
    "uso: searchdemo [--tour CARPETA]\n"
    "  sin argumentos   abre el formulario principal sobre la base de datos DBDEMOS\n"
    "  --tour CARPETA   recorre las cuatro búsquedas sin pantalla y guarda una imagen de cada\n"
    "                   paso en CARPETA\n";

}  // namespace

int main(int argc, char** argv) {
  std::string TourDir;
  bool Tour = false;
  // Our own options; single-dash ones (-platform, -style) are the toolkit's.
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    if (A == "--help" || A == "-h") {
      std::fputs(Usage, stdout);
      return 0;
    }
    if (A == "--tour") {
      if (I + 1 >= argc || argv[I + 1][0] == '\0') {
        std::fprintf(stderr, "searchdemo: falta la carpeta de --tour\n%s", Usage);
        return 2;
      }
      Tour = true;
      TourDir = argv[++I];
    } else if (A.rfind("--", 0) == 0 || A[0] != '-') {
      std::fprintf(stderr, "searchdemo: argumento no válido '%s'\n%s", A.c_str(), Usage);
      return 2;
    }
  }
  // The tour needs no display; the form does.
  std::string ScreenConfig;
  if (Tour) {
    ScreenConfig = PrepareTourPlatform();
  } else if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
             !std::getenv("WAYLAND_DISPLAY")) {
    std::fprintf(stderr,
                 "searchdemo: no hay pantalla (ni DISPLAY ni WAYLAND_DISPLAY); "
                 "searchdemo --tour CARPETA recorre las búsquedas sin ella\n");
    return 1;
  }

  int Status = 0;
  Application->Initialize(argc, argv);
  if (!ScreenConfig.empty()) std::remove(ScreenConfig.c_str());
  try {
    Application->SetTitle("TsearchDialog demo");
    Application->SetHelpFile(DemoHelpFile());
    Application->CreateForm(Form1);
    Application->CreateForm(DataModule2);
    Form1->LinkDataModule(DataModule2);
    if (Tour) StartTour(*Form1, TourDir, &Status);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "searchdemo: %s\n", E.what());
    if (!Tour) Application->HandleException(E);
    // Without a main form Run ends at once, taking the forms and the toolkit down in order
    // (left to the process's exit, they would outlive the toolkit).
    delete Form1;
    Application->Run();
    return 1;
  }
  Application->Run();
  return Status;
}
