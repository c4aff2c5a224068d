// The application's own Variant, under the same header name as one of the library's.
#pragma once
#include <string>

class Variant {
 public:
  explicit Variant(std::string Text) : FText(std::move(Text)) {}
  const std::string& Text() const { return FText; }

 private:
  std::string FText;
};
