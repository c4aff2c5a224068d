// Tokenizer of the local SQL.
#include "SqlLexer.h"

#include <algorithm>
#include <array>

#include "LocalSQL.h"
#include "SysUtils.h"

namespace kv {

bool TSqlToken::IsWord(std::string_view W) const {
  if (Kind != TSqlTokenKind::Ident || Text.size() != W.size()) return false;
  for (size_t I = 0; I < W.size(); ++I)
    if (std::toupper(static_cast<unsigned char>(Text[I])) !=
        std::toupper(static_cast<unsigned char>(W[I])))
      return false;
  return true;
}

int SqlCharPosition(std::string_view Sql, size_t Offset) {
  int Pos = 1;
  for (size_t I = 0; I < Offset && I < Sql.size(); ++I)
    if ((static_cast<unsigned char>(Sql[I]) & 0xC0) != 0x80) ++Pos;
  return Pos;
}

bool IsSqlReservedWord(std::string_view W) {
  static const std::array<const char*, 36> Words = {
      "ALL",   "ALTER",    "AND",  "AS",    "ASC",   "BETWEEN", "BY",    "CASE", "CROSS",
      "DESC",  "DISTINCT", "DROP", "ELSE",  "END",   "ESCAPE",  "FALSE", "FROM", "FULL",
      "GROUP", "HAVING",   "IN",   "INNER", "IS",    "JOIN",    "LEFT",  "LIKE", "NOT",
      "NULL",  "ON",       "OR",   "ORDER", "OUTER", "SELECT",  "THEN",  "TRUE", "WHERE"};
  std::string U = UpperCase(W);
  if (U == "WHEN" || U == "UNION" || U == "RIGHT") return true;
  return std::any_of(Words.begin(), Words.end(), [&](const char* K) { return U == K; });
}

std::string SqlAtPosition(int Pos) {
  return " (posición " + std::to_string(Pos) + ")";
}

void RaiseSqlError(const std::string& Message) {
  throw ESQLError(Message);
}

void RaiseSqlErrorAt(const std::string& Reason, int Pos) {
  throw ESQLPositionError(Reason + SqlAtPosition(Pos), Reason, Pos);
}

void RaiseSqlSyntaxError(std::string_view Sql, const TSqlToken& Tok) {
  const std::string At = "Error de sintaxis en la posición " + std::to_string(Tok.Pos);
  if (Tok.Kind == TSqlTokenKind::End)
    throw ESQLPositionError(At + ": la sentencia termina antes de tiempo",
                            "Error de sintaxis: la sentencia termina antes de tiempo", Tok.Pos);
  const std::string Near = " cerca de '" + std::string(Sql.substr(Tok.Offset, Tok.Length)) + "'";
  throw ESQLPositionError(At + Near, "Error de sintaxis" + Near, Tok.Pos);
}

static bool IsWordStart(unsigned char C) {
  return std::isalpha(C) || C == '_' || C >= 0x80;
}
static bool IsWordChar(unsigned char C) {
  return IsWordStart(C) || std::isdigit(C) || C == '$';
}

namespace {
std::string Quote(std::string_view Text, char Q) {
  std::string R(1, Q);
  for (char C : Text) {
    if (C == Q) R += Q;
    R += C;
  }
  return R + Q;
}
}  // namespace

std::string QuoteSqlName(std::string_view Name) {
  return Quote(Name, '"');
}

std::string QuoteSqlString(std::string_view Text) {
  return Quote(Text, '\'');
}

std::string LocalSqlName(std::string_view Name) {
  const bool Plain = !Name.empty() && IsWordStart(static_cast<unsigned char>(Name[0])) &&
                     std::all_of(Name.begin(), Name.end(), [](char C) { return IsWordChar(C); }) &&
                     !IsSqlReservedWord(Name);
  return Plain ? std::string(Name) : QuoteSqlName(Name);
}

std::vector<TSqlToken> TokenizeSql(std::string_view Sql) {
  std::vector<TSqlToken> Out;
  size_t I = 0;
  const size_t N = Sql.size();
  // Positions are counted on from the previous token, keeping the whole pass linear.
  size_t CountedTo = 0;
  int CountedPos = 1;
  auto PosOf = [&](size_t Offset) {
    for (; CountedTo < Offset && CountedTo < N; ++CountedTo)
      if ((static_cast<unsigned char>(Sql[CountedTo]) & 0xC0) != 0x80) ++CountedPos;
    return CountedPos;
  };
  auto Add = [&](TSqlTokenKind K, std::string Text, size_t Start) {
    TSqlToken T;
    T.Kind = K;
    T.Text = std::move(Text);
    T.Offset = Start;
    T.Length = I - Start;
    T.Pos = PosOf(Start);
    Out.push_back(std::move(T));
  };
  while (I < N) {
    const unsigned char C = static_cast<unsigned char>(Sql[I]);
    if (C == ' ' || C == '\t' || C == '\r' || C == '\n' || C == '\f' || C == '\v') {
      ++I;
      continue;
    }
    // Comments: "-- ..." to the end of the line, "/* ... */".
    if (C == '-' && I + 1 < N && Sql[I + 1] == '-') {
      while (I < N && Sql[I] != '\n') ++I;
      continue;
    }
    if (C == '/' && I + 1 < N && Sql[I + 1] == '*') {
      size_t E = Sql.find("*/", I + 2);
      if (E == std::string_view::npos)
        RaiseSqlErrorAt("Comentario sin cerrar", SqlCharPosition(Sql, I));
      I = E + 2;
      continue;
    }
    const size_t Start = I;
    if (C == '"' || C == '\'') {
      // A doubled quote stands for the quote itself.
      std::string Text;
      ++I;
      bool Closed = false;
      while (I < N) {
        if (Sql[I] == static_cast<char>(C)) {
          if (I + 1 < N && Sql[I + 1] == static_cast<char>(C)) {
            Text += static_cast<char>(C);
            I += 2;
            continue;
          }
          ++I;
          Closed = true;
          break;
        }
        if (Sql[I] == '\0') break;
        Text += Sql[I++];
      }
      if (!Closed)
        RaiseSqlErrorAt(
            std::string(C == '"' ? "Comillas dobles" : "Comillas simples") + " sin cerrar",
            SqlCharPosition(Sql, Start));
      Add(C == '"' ? TSqlTokenKind::QuotedIdent : TSqlTokenKind::String, std::move(Text), Start);
      continue;
    }
    if (std::isdigit(C) ||
        (C == '.' && I + 1 < N && std::isdigit(static_cast<unsigned char>(Sql[I + 1])))) {
      bool IsFloat = false;
      while (I < N && std::isdigit(static_cast<unsigned char>(Sql[I]))) ++I;
      if (I < N && Sql[I] == '.') {
        IsFloat = true;
        ++I;
        while (I < N && std::isdigit(static_cast<unsigned char>(Sql[I]))) ++I;
      }
      if (I < N && (Sql[I] == 'e' || Sql[I] == 'E')) {
        size_t J = I + 1;
        if (J < N && (Sql[J] == '+' || Sql[J] == '-')) ++J;
        if (J < N && std::isdigit(static_cast<unsigned char>(Sql[J]))) {
          IsFloat = true;
          I = J;
          while (I < N && std::isdigit(static_cast<unsigned char>(Sql[I]))) ++I;
        }
      }
      Add(IsFloat ? TSqlTokenKind::Float : TSqlTokenKind::Integer,
          std::string(Sql.substr(Start, I - Start)), Start);
      continue;
    }
    if (IsWordStart(C)) {
      while (I < N && IsWordChar(static_cast<unsigned char>(Sql[I]))) ++I;
      Add(TSqlTokenKind::Ident, std::string(Sql.substr(Start, I - Start)), Start);
      continue;
    }
    // Symbols: two-character ones first.
    static const char* Two[] = {"<>", "<=", ">=", "!=", "==", "||"};
    bool Done = false;
    if (I + 1 < N) {
      for (const char* S : Two) {
        if (Sql[I] == S[0] && Sql[I + 1] == S[1]) {
          I += 2;
          std::string Sym = S;
          if (Sym == "!=") Sym = "<>";
          if (Sym == "==") Sym = "=";
          Add(TSqlTokenKind::Symbol, Sym, Start);
          Done = true;
          break;
        }
      }
    }
    if (Done) continue;
    if (std::string_view("(),.;*+-/%=<>").find(static_cast<char>(C)) != std::string_view::npos &&
        C != 0) {
      ++I;
      Add(TSqlTokenKind::Symbol, std::string(1, static_cast<char>(C)), Start);
      continue;
    }
    // A character no token starts with.
    I = Start + 1;
    while (I < N && (static_cast<unsigned char>(Sql[I]) & 0xC0) == 0x80) ++I;
    TSqlToken Bad;
    Bad.Kind = TSqlTokenKind::Symbol;
    Bad.Offset = Start;
    Bad.Length = I - Start;
    Bad.Pos = SqlCharPosition(Sql, Start);
    RaiseSqlSyntaxError(Sql, Bad);
  }
  TSqlToken EndTok;
  EndTok.Offset = N;
  EndTok.Pos = PosOf(N);
  Out.push_back(EndTok);
  return Out;
}

}  // namespace kv
