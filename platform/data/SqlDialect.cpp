// What the SQL dialects share (see SqlDialect.h).
#include "SqlDialect.h"

#include "Unicode.h"

namespace kv {

namespace {

// The two arguments of a translate() that applies the accent table to the characters below
// Limit: the characters mapped, then the ones dropped (translate drops the characters of its
// first list that have no counterpart in the second), as quoted literals.
std::pair<std::string, std::string> TranslateLists(char32_t Limit) {
  std::string From, To, Dropped;
  for (const TAccentMapping& M : AccentTable()) {
    if (M.From >= Limit) continue;
    if (M.To) {
      AppendUtf8(M.From, From);
      AppendUtf8(M.To, To);
    } else {
      AppendUtf8(M.From, Dropped);
    }
  }
  // No character of the table is a quote or a backslash: the literals need no escapes.
  return {"'" + From + Dropped + "'", "'" + To + "'"};
}

}  // namespace

TSqlDialect::~TSqlDialect() = default;

std::string TSqlDialect::QuoteName(std::string_view Name) const {
  std::string R = "\"";
  for (char C : Name) {
    if (C == '"') R += '"';
    R += C;
  }
  return R + "\"";
}

std::string TSqlDialect::Unaccent(const std::string& Expr) const {
  return PortableUnaccent(Expr);
}

std::string PortableUnaccent(const std::string& Expr) {
  // translate() looks each character up in its lists one by one, so the Latin scripts and the
  // combining marks (nearly every text) get lists of their own, a few hundred long; ASCII texts
  // are left as they are, and only a text with a character of another script reads the whole
  // table. n or N with a combining tilde is ñ/Ñ before the table drops the tilde.
  static const std::string Lists = [] {
    const auto [SmallFrom, SmallTo] = TranslateLists(0x370);
    const auto [AllFrom, AllTo] = TranslateLists(0x110000);
    std::string Other = "'[";
    AppendUtf8(0x370, Other);
    Other += '-';
    AppendUtf8(0x10FFFF, Other);
    Other += "]'";
    // @ stands for the text with its n/N + tilde made ñ/Ñ; # for the text as it is.
    return "(CASE WHEN octet_length(#) = char_length(#) THEN # WHEN # ~ " + Other +
           " THEN translate(@, " + AllFrom + ", " + AllTo + ") ELSE translate(@, " + SmallFrom +
           ", " + SmallTo + ") END)";
  }();
  const std::string E = "(" + Expr + ")";
  const std::string Tilde =
      "replace(replace(" + E + ", 'n\xcc\x83', '\xc3\xb1'), 'N\xcc\x83', '\xc3\x91')";
  std::string R;
  R.reserve(Lists.size() + 8 * E.size());
  for (char C : Lists) {
    if (C == '#')
      R += E;
    else if (C == '@')
      R += Tilde;
    else
      R += C;
  }
  return R;
}

std::string TSqlDialect::OrderTerm(const std::string& Expr, bool Desc) const {
  return Expr + (Desc ? " DESC NULLS LAST" : " ASC NULLS FIRST");
}

std::string TSqlDialect::NotTrue(const std::string& Condition) const {
  return "(" + Condition + ") IS NOT TRUE";
}

std::string TSqlDialect::Limit(int64_t N, int64_t Offset) const {
  std::string S = " LIMIT " + std::to_string(N);
  if (Offset > 0) S += " OFFSET " + std::to_string(Offset);
  return S;
}

std::string TSqlParams::Add(Variant Value, TFieldType Type) {
  Items.push_back({std::move(Value), Type});
  return FDialect.Parameter(static_cast<int>(Items.size()));
}

}  // namespace kv
