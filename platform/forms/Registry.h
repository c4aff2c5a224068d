// The design-time registry: component classes by palette page, each with its palette picture,
// filled by RegisterComponents and readable by code (a designer, a package's tests).
#pragma once

#include <QImage>
#include <functional>
#include <string>
#include <vector>

#include "Classes.h"

#pragma GCC visibility push(default)
namespace kv {

// A component class as the palette offers it.
struct TComponentClass {
  std::string ClassName;
  QImage Icon;  // the palette picture; may be null
  // Creates an instance with the given owner; may be empty.
  std::function<TComponent*(TComponent* Owner)> Create;
};

// The class entry for T: its name, picture and a factory.
template <class T>
TComponentClass ComponentClass(std::string ClassName, QImage Icon = {}) {
  return {std::move(ClassName), std::move(Icon), [](TComponent* Owner) { return new T(Owner); }};
}

// Puts Classes on the palette page Page (created when new). A class already registered (by
// name, on any page) is replaced, so registering twice does not duplicate it. Raises Exception
// for an empty page or class name.
void RegisterComponents(const std::string& Page, const std::vector<TComponentClass>& Classes);
// The palette pages in the order first registered.
std::vector<std::string> PalettePages();
// The classes on a page in registration order (empty for an unknown page).
std::vector<TComponentClass> PaletteClasses(const std::string& Page);
// The class registered under ClassName, or null.
const TComponentClass* FindComponentClass(const std::string& ClassName);
// The page a class is on, empty when it is not registered.
std::string PageOfClass(const std::string& ClassName);
// Empties the registry (for tests).
void ClearComponentRegistry();

}  // namespace kv
#pragma GCC visibility pop
