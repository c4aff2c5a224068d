// TStringList: the ordered list of strings the engine keeps its per-condition data in,
// plus the small component base class the engine and datasets derive from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TStringList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  void Add(std::string S) { FItems.push_back(std::move(S)); }
  void Clear() { FItems.clear(); }
  void Delete(int Index) { FItems.erase(FItems.begin() + Index); }
  void Insert(int Index, std::string S) { FItems.insert(FItems.begin() + Index, std::move(S)); }
  // Index of the first entry equal to S ignoring case, -1 when absent.
  int IndexOf(std::string_view S) const;
  std::string& operator[](int Index) { return FItems.at(Index); }
  const std::string& operator[](int Index) const { return FItems.at(Index); }
  const std::string& Strings(int Index) const { return FItems.at(Index); }
  // The whole text: every entry followed by a line break.
  std::string Text() const;
  // Replaces the entries with the lines of S (split at CR LF, LF or CR).
  void SetText(std::string_view S);
  // Replaces the entries with the parts of S split at Delimiter.
  void SetDelimitedText(std::string_view S, char Delimiter);
  const std::vector<std::string>& Items() const { return FItems; }

 private:
  std::vector<std::string> FItems;
};

// Base of non-visual components. Ownership is explicit (unique_ptr members), so the owner
// is recorded only for inspection.
class TComponent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr) : FOwner(AOwner) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(std::string N) { FName = std::move(N); }

 private:
  TComponent* FOwner;
  std::string FName;
};
