// TStringList: lookup ignoring case and conversion to and from line-broken text.
#include "core/Classes.h"

#include "core/Unicode.h"

int TStringList::IndexOf(std::string_view S) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (AnsiSameText(FItems[i], S)) return static_cast<int>(i);
  return -1;
}

std::string TStringList::Text() const {
  std::string r;
  for (const auto& s : FItems) {
    r += s;
    r += '\n';
  }
  return r;
}

void TStringList::SetText(std::string_view S) {
  FItems.clear();
  size_t start = 0;
  const size_t n = S.size();
  size_t i = 0;
  while (i < n) {
    if (S[i] == '\r' || S[i] == '\n') {
      FItems.emplace_back(S.substr(start, i - start));
      if (S[i] == '\r' && i + 1 < n && S[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  // A final line break closes the last line; it does not open an empty one.
  if (start < n) FItems.emplace_back(S.substr(start));
}

void TStringList::SetDelimitedText(std::string_view S, char Delimiter) {
  FItems.clear();
  if (S.empty()) return;
  size_t start = 0;
  for (;;) {
    const size_t p = S.find(Delimiter, start);
    if (p == std::string_view::npos) {
      FItems.emplace_back(S.substr(start));
      break;
    }
    FItems.emplace_back(S.substr(start, p - start));
    start = p + 1;
  }
}
