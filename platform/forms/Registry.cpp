// The palette registry: pages in order, classes in order within a page.
#include "Registry.h"

#include <algorithm>

#include "SysUtils.h"

namespace kv {

namespace {
struct TPage {
  std::string Name;
  std::vector<TComponentClass> Classes;
};

std::vector<TPage>& Pages() {
  static std::vector<TPage> P;
  return P;
}

void Unregister(const std::string& ClassName) {
  for (TPage& P : Pages())
    std::erase_if(P.Classes, [&](const TComponentClass& C) { return C.ClassName == ClassName; });
}
}  // namespace

void RegisterComponents(const std::string& Page, const std::vector<TComponentClass>& Classes) {
  if (Trim(Page).empty()) throw Exception("No se puede registrar en una página sin nombre");
  for (const TComponentClass& C : Classes)
    if (Trim(C.ClassName).empty())
      throw Exception("No se puede registrar una clase sin nombre en la página '" + Page + "'");
  auto& All = Pages();
  auto It = std::find_if(All.begin(), All.end(), [&](const TPage& P) { return P.Name == Page; });
  if (It == All.end()) {
    All.push_back({Page, {}});
    It = All.end() - 1;
  }
  const size_t At = static_cast<size_t>(It - All.begin());
  for (const TComponentClass& C : Classes) {
    Unregister(C.ClassName);
    All[At].Classes.push_back(C);
  }
}

std::vector<std::string> PalettePages() {
  std::vector<std::string> Out;
  for (const TPage& P : Pages()) Out.push_back(P.Name);
  return Out;
}

std::vector<TComponentClass> PaletteClasses(const std::string& Page) {
  for (const TPage& P : Pages())
    if (P.Name == Page) return P.Classes;
  return {};
}

const TComponentClass* FindComponentClass(const std::string& ClassName) {
  for (const TPage& P : Pages())
    for (const TComponentClass& C : P.Classes)
      if (C.ClassName == ClassName) return &C;
  return nullptr;
}

std::string PageOfClass(const std::string& ClassName) {
  for (const TPage& P : Pages())
    for (const TComponentClass& C : P.Classes)
      if (C.ClassName == ClassName) return P.Name;
  return {};
}

void ClearComponentRegistry() {
  Pages().clear();
}

}  // namespace kv
