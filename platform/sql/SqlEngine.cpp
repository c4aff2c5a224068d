// SQLite execution of the local SQL: the connection and statement wrappers, the virtual-table
// module over TTableStore, the Unicode functions, and the building of the result store.
#include "SqlEngine.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>

#include "Database.h"
#include "DirectQuery.h"
#include "IoUtil.h"
#include "LocalSQL.h"
#include "Progress.h"
#include "SqlLexer.h"
#include "SqlParser.h"
#include "SysUtils.h"
#include "TableFile.h"
#include "Unicode.h"

namespace kv {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Unicode functions

namespace {

// Decodes UTF-8 into code points; a byte that does not start a valid sequence stands for itself
// (mapped above the Unicode range), so any text compares consistently.
std::u32string DecodeUtf8(std::string_view S) {
  std::u32string Out;
  Out.reserve(S.size());
  size_t I = 0;
  while (I < S.size()) {
    const unsigned char C = static_cast<unsigned char>(S[I]);
    int Len = C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : (C >> 3) == 30 ? 4 : 0;
    char32_t V = Len == 1 ? C : Len == 2 ? (C & 0x1F) : Len == 3 ? (C & 0x0F) : (C & 0x07);
    bool Ok = Len > 0 && I + Len <= S.size();
    for (int K = 1; Ok && K < Len; ++K) {
      const unsigned char D = static_cast<unsigned char>(S[I + K]);
      if ((D & 0xC0) != 0x80) Ok = false;
      V = (V << 6) | (D & 0x3F);
    }
    if (!Ok) {
      Out.push_back(0x110000 + C);
      ++I;
      continue;
    }
    Out.push_back(V);
    I += Len;
  }
  return Out;
}

// The UTF-8 text of a function argument. A text value is read as it is stored: the table module
// hands out texts without a terminating NUL, and sqlite3_value_text would copy each one to add it.
std::string_view ArgText(sqlite3_value* V) {
  const char* P = sqlite3_value_type(V) == SQLITE_TEXT
                      ? static_cast<const char*>(sqlite3_value_blob(V))
                      : reinterpret_cast<const char*>(sqlite3_value_text(V));
  return std::string_view(P ? P : "", P ? static_cast<size_t>(sqlite3_value_bytes(V)) : 0);
}

// Lowers In into Out when it holds only ASCII and Latin-1 characters (UTF-8 lead bytes C2 and
// C3): there lowering maps each letter by itself (A-Z, and U+00C0-U+00DE but U+00D7, 0x20
// further on), exactly as the full case mapping does. False when In holds anything else.
bool LowerLatin1(std::string_view In, std::string& Out) {
  Out.assign(In.data(), In.size());
  for (size_t I = 0; I < Out.size(); ++I) {
    const auto C = static_cast<unsigned char>(Out[I]);
    if (C < 0x80) {
      if (C >= 'A' && C <= 'Z') Out[I] = static_cast<char>(C | 0x20);
      continue;
    }
    if ((C != 0xC2 && C != 0xC3) || I + 1 >= Out.size()) return false;
    const auto D = static_cast<unsigned char>(Out[++I]);
    if ((D & 0xC0) != 0x80) return false;
    if (C == 0xC3 && D <= 0x9E && D != 0x97) Out[I] = static_cast<char>(D + 0x20);
  }
  return true;
}

// Raises In into Out when it is ASCII; false otherwise. Upper case keeps to ASCII: beyond it a
// letter may become two (ß, SS) or leave Latin-1 (ÿ).
bool UpperAscii(std::string_view In, std::string& Out) {
  if (!std::all_of(In.begin(), In.end(), [](char C) { return (C & 0x80) == 0; })) return false;
  Out.assign(In.data(), In.size());
  for (char& C : Out)
    if (C >= 'a' && C <= 'z') C ^= 0x20;
  return true;
}

void CaseFunction(sqlite3_context* Ctx, sqlite3_value* Arg, bool Upper) {
  if (sqlite3_value_type(Arg) == SQLITE_NULL) {
    sqlite3_result_null(Ctx);
    return;
  }
  const std::string_view In = ArgText(Arg);
  try {
    // Texts of ASCII and Latin-1 letters (the bulk of most columns) change their letters one by
    // one: mapped into a buffer kept between rows instead of a new string per row.
    thread_local std::string Mapped;
    if (Upper ? UpperAscii(In, Mapped) : LowerLatin1(In, Mapped)) {
      sqlite3_result_text(Ctx, Mapped.data(), static_cast<int>(Mapped.size()), SQLITE_TRANSIENT);
      return;
    }
    std::string R = Upper ? AnsiUpperCase(In) : AnsiLowerCase(In);
    sqlite3_result_text(Ctx, R.data(), static_cast<int>(R.size()), SQLITE_TRANSIENT);
  } catch (const std::exception& E) {
    sqlite3_result_error(Ctx, E.what(), -1);
  }
}

void LowerFunc(sqlite3_context* Ctx, int, sqlite3_value** Argv) {
  CaseFunction(Ctx, Argv[0], false);
}
void UpperFunc(sqlite3_context* Ctx, int, sqlite3_value** Argv) {
  CaseFunction(Ctx, Argv[0], true);
}

// A LIKE pattern of the usual form (literal text with '%' only at its ends, no '_'), tested on
// the bytes with no decoding: valid UTF-8 keeps code-point boundaries, so a byte prefix, suffix
// or substring is one in code points too. Worked out once per statement (SQLite keeps it with
// the constant pattern).
struct TSimpleLike {
  bool Simple = false;  // false: the pattern needs the general matcher
  bool Lead = false, Trail = false;
  std::string Literal;

  explicit TSimpleLike(std::string_view Pattern) {
    Lead = !Pattern.empty() && Pattern.front() == '%';
    if (Lead) Pattern.remove_prefix(1);
    Trail = !Pattern.empty() && Pattern.back() == '%';
    if (Trail) Pattern.remove_suffix(1);
    Simple = Pattern.find_first_of("%_") == std::string_view::npos && IsValidUtf8(Pattern);
    Literal = Pattern;
  }
  bool Matches(std::string_view Text) const {
    if (Lead && Trail) return Text.find(Literal) != std::string_view::npos;
    if (Lead) return Text.ends_with(Literal);
    if (Trail) return Text.starts_with(Literal);
    return Text == Literal;
  }
};

// like(Pattern, Text [, Escape]): SQLite passes the pattern first.
void LikeFunc(sqlite3_context* Ctx, int Argc, sqlite3_value** Argv) {
  for (int I = 0; I < Argc; ++I)
    if (sqlite3_value_type(Argv[I]) == SQLITE_NULL) {
      sqlite3_result_null(Ctx);
      return;
    }
  auto Text = ArgText;
  if (Argc == 2) {
    try {
      const auto* Kept = static_cast<const TSimpleLike*>(sqlite3_get_auxdata(Ctx, 0));
      std::optional<TSimpleLike> Own;
      if (!Kept) {
        Kept = &Own.emplace(Text(Argv[0]));
        // Kept for the next rows while the pattern stays the same; without memory, not kept.
        sqlite3_set_auxdata(Ctx, 0, new (std::nothrow) TSimpleLike(*Own),
                            [](void* P) { delete static_cast<TSimpleLike*>(P); });
      }
      if (Kept->Simple) {
        sqlite3_result_int(Ctx, Kept->Matches(Text(Argv[1])) ? 1 : 0);
        return;
      }
    } catch (const std::exception& E) {
      sqlite3_result_error(Ctx, E.what(), -1);
      return;
    }
  }
  char32_t Escape = 0;
  if (Argc == 3) {
    std::u32string E = DecodeUtf8(Text(Argv[2]));
    if (E.size() != 1) {
      sqlite3_result_error(Ctx, "ESCAPE debe ser un único carácter", -1);
      return;
    }
    Escape = E[0];
  }
  try {
    sqlite3_result_int(Ctx, SqlLikeMatch(Text(Argv[1]), Text(Argv[0]), Escape) ? 1 : 0);
  } catch (const std::exception& E) {
    sqlite3_result_error(Ctx, E.what(), -1);
  }
}

}  // namespace

bool SqlLikeMatch(std::string_view TextUtf8, std::string_view PatternUtf8, char32_t Escape) {
  // The pattern as elements: literal code points, '_' (one) and '%' (any run).
  constexpr char32_t AnyRun = 0xFFFFFFFF, AnyOne = 0xFFFFFFFE;
  const std::u32string Raw = DecodeUtf8(PatternUtf8);
  std::u32string P;
  P.reserve(Raw.size());
  for (size_t I = 0; I < Raw.size(); ++I) {
    if (Escape && Raw[I] == Escape && I + 1 < Raw.size()) {
      P.push_back(Raw[++I]);
    } else if (Raw[I] == U'%') {
      if (P.empty() || P.back() != AnyRun) P.push_back(AnyRun);
    } else if (Raw[I] == U'_') {
      P.push_back(AnyOne);
    } else {
      P.push_back(Raw[I]);
    }
  }
  const std::u32string T = DecodeUtf8(TextUtf8);
  // Greedy match with backtracking to the last '%': linear in practice, O(n*m) at worst.
  size_t Ti = 0, Pi = 0, StarP = std::u32string::npos, StarT = 0;
  while (Ti < T.size()) {
    if (Pi < P.size() && P[Pi] == AnyRun) {
      StarP = Pi++;
      StarT = Ti;
    } else if (Pi < P.size() && (P[Pi] == AnyOne || P[Pi] == T[Ti])) {
      ++Pi;
      ++Ti;
    } else if (StarP != std::u32string::npos) {
      Pi = StarP + 1;
      Ti = ++StarT;
    } else {
      return false;
    }
  }
  while (Pi < P.size() && P[Pi] == AnyRun) ++Pi;
  return Pi == P.size();
}

// ---------------------------------------------------------------------------------------------
// The virtual-table module over TTableStore

struct TSqliteDatabase::TContext {
  std::vector<std::shared_ptr<const TTableStore>> Stores;
  // Rows the store cursors have gone through, for the progress reports of a statement.
  int64_t Scanned = 0;
  // What stopped a statement from the progress handler (EAborted when the user stopped it),
  // raised again by the statement's Step.
  std::exception_ptr Stopped;
};

namespace {

struct TStoreVtab {
  sqlite3_vtab Base;  // first member: SQLite sees a sqlite3_vtab*
  const TTableStore* Store;
  TSqliteDatabase::TContext* Context;
};

struct TStoreCursor {
  sqlite3_vtab_cursor Base;
  const TTableStore* Store;
  int64_t* Scanned;      // the database's count of rows gone through
  const uint32_t* Rows;  // rows of an index lookup; null for all rows
  size_t At;
  size_t Count;
};

const char* DeclaredType(const TColumn& C) {
  switch (C.Kind()) {
    case TStorageKind::Int:
      return "INTEGER";
    case TStorageKind::Double:
      return "REAL";
    case TStorageKind::String:
      return "TEXT";
  }
  return "";
}

int VtabConnect(sqlite3* Db, void* Aux, int Argc, const char* const* Argv, sqlite3_vtab** Out,
                char** Err) {
  try {
    auto* Ctx = static_cast<TSqliteDatabase::TContext*>(Aux);
    size_t Index = Argc > 3 ? std::strtoul(Argv[3], nullptr, 10) : SIZE_MAX;
    if (Index >= Ctx->Stores.size()) {
      *Err = sqlite3_mprintf("tabla interna desconocida");
      return SQLITE_ERROR;
    }
    const TTableStore* Store = Ctx->Stores[Index].get();
    std::string Decl = "CREATE TABLE x(";
    for (size_t C = 0; C < Store->Defs.size(); ++C)
      Decl += (C ? ", " : "") + QuoteSqlName(Store->Defs[C].Name) + " " +
              DeclaredType(Store->Columns[C]);
    if (Store->Defs.empty()) Decl += "\"\" HIDDEN";
    Decl += ")";
    int Rc = sqlite3_declare_vtab(Db, Decl.c_str());
    if (Rc != SQLITE_OK) return Rc;
    auto* V = new TStoreVtab();
    V->Store = Store;
    V->Context = Ctx;
    *Out = &V->Base;
    return SQLITE_OK;
  } catch (...) {
    return SQLITE_NOMEM;
  }
}

int VtabDisconnect(sqlite3_vtab* V) {
  delete reinterpret_cast<TStoreVtab*>(V);
  return SQLITE_OK;
}

int VtabBestIndex(sqlite3_vtab* VBase, sqlite3_index_info* Info) {
  auto* V = reinterpret_cast<TStoreVtab*>(VBase);
  const double Rows = static_cast<double>(std::max<size_t>(V->Store->RowCount(), 1));
  // The columns the statement reads, for a scan to decode them in one pass each.
  Info->idxStr = sqlite3_mprintf("%llu", static_cast<unsigned long long>(Info->colUsed));
  Info->needToFreeIdxStr = 1;
  Info->idxNum = -1;
  Info->estimatedCost = Rows;
  Info->estimatedRows = static_cast<sqlite3_int64>(Rows);
  for (int I = 0; I < Info->nConstraint; ++I) {
    const auto& C = Info->aConstraint[I];
    if (!C.usable || C.op != SQLITE_INDEX_CONSTRAINT_EQ || C.iColumn < 0 ||
        C.iColumn >= static_cast<int>(V->Store->Columns.size()))
      continue;
    // A text compared with a constant is cheaper to scan for than to index (a hash index of a
    // large text column is big); joins on texts and every number equality use an index.
    sqlite3_value* Rhs = nullptr;
    if (V->Store->Columns[C.iColumn].Kind() == TStorageKind::String &&
        sqlite3_vtab_rhs_value(Info, I, &Rhs) == SQLITE_OK)
      continue;
    // SQLite still checks every row we return (omit stays 0): the index finds a superset.
    Info->aConstraintUsage[I].argvIndex = 1;
    Info->aConstraintUsage[I].omit = 0;
    Info->idxNum = C.iColumn;
    Info->estimatedCost = 2 + std::log2(Rows);
    Info->estimatedRows = 4;
    break;
  }
  return SQLITE_OK;
}

// Hands SQLite the message of a failed step of a cursor.
void SetVtabError(sqlite3_vtab_cursor* C, const char* Message) {
  sqlite3_free(C->pVtab->zErrMsg);
  C->pVtab->zErrMsg = sqlite3_mprintf("%s", Message);
}

int VtabOpen(sqlite3_vtab* VBase, sqlite3_vtab_cursor** Out) {
  auto* C = new (std::nothrow) TStoreCursor();
  if (!C) return SQLITE_NOMEM;
  C->Store = reinterpret_cast<TStoreVtab*>(VBase)->Store;
  C->Scanned = &reinterpret_cast<TStoreVtab*>(VBase)->Context->Scanned;
  *Out = &C->Base;
  return SQLITE_OK;
}

int VtabClose(sqlite3_vtab_cursor* C) {
  delete reinterpret_cast<TStoreCursor*>(C);
  return SQLITE_OK;
}

// The rows whose column Col may equal Value, as a span of row numbers; false when every row
// has to be scanned. Numbers use the store's cached sorted order (cheap to build for numbers),
// texts its cached hash index.
bool IndexLookup(const TTableStore& S, int Col, sqlite3_value* Value, const uint32_t*& Rows,
                 size_t& Count) {
  static const uint32_t None = 0;
  Rows = &None;
  Count = 0;
  const int VT = sqlite3_value_type(Value);
  if (VT == SQLITE_NULL) return true;  // "= NULL" is never true
  const TColumn& C = S.Columns[Col];
  const std::vector<int> Cols{Col};
  switch (C.Kind()) {
    case TStorageKind::Int:
    case TStorageKind::Double: {
      if (VT != SQLITE_INTEGER && VT != SQLITE_FLOAT) return false;
      const double V = sqlite3_value_double(Value);
      if (VT == SQLITE_INTEGER && static_cast<sqlite3_int64>(V) != sqlite3_value_int64(Value))
        return false;  // not exact as a double
      if (V != V) return true;
      // The sorted order has the Nulls (and numbers that are not numbers) first.
      auto Number = [&](uint32_t R, double& X) {
        if (C.IsNull(R)) return false;
        X = C.Kind() == TStorageKind::Int ? C.Int(R) : C.Double(R);
        return !std::isnan(X);
      };
      auto Less = [&](uint32_t R, double X) {
        double Y;
        return !Number(R, Y) || Y < X;
      };
      auto Greater = [&](double X, uint32_t R) {
        double Y;
        return Number(R, Y) && X < Y;
      };
      const std::vector<uint32_t>& Sorted = S.SortedRows(Cols);
      auto Lo = std::lower_bound(Sorted.begin(), Sorted.end(), V, Less);
      auto Hi = std::upper_bound(Lo, Sorted.end(), V, Greater);
      Rows = Sorted.data() + (Lo - Sorted.begin());
      Count = static_cast<size_t>(Hi - Lo);
      return true;
    }
    case TStorageKind::String: {
      if (VT != SQLITE_TEXT) return false;
      const char* P = reinterpret_cast<const char*>(sqlite3_value_text(Value));
      const int N = sqlite3_value_bytes(Value);
      if (!P || N == 0) return true;  // empty texts are stored as Null
      const auto& Found = S.HashIndex(Cols).Find(S.KeyOfValues({Variant(std::string(P, N))}, Cols));
      Rows = Found.data();
      Count = Found.size();
      return true;
    }
  }
  return false;
}

// Decodes in one pass each the columns a scan of every row reads (Used: SQLite's mask of the
// columns used, the last bit standing for every column from the 64th on).
void DecodeScanned(const TTableStore& S, const char* Used) {
  const unsigned long long Mask = Used ? std::strtoull(Used, nullptr, 10) : ~0ull;
  for (size_t C = 0; C < S.Columns.size(); ++C)
    if (Mask & (1ull << std::min<size_t>(C, 63))) S.Columns[C].Decode();
}

int VtabFilter(sqlite3_vtab_cursor* CBase, int IdxNum, const char* IdxStr, int Argc,
               sqlite3_value** Argv) {
  auto* C = reinterpret_cast<TStoreCursor*>(CBase);
  C->At = 0;
  C->Rows = nullptr;
  C->Count = C->Store->RowCount();
  try {
    if (IdxNum >= 0 && Argc == 1 && !IndexLookup(*C->Store, IdxNum, Argv[0], C->Rows, C->Count)) {
      C->Rows = nullptr;
      C->Count = C->Store->RowCount();
    }
  } catch (...) {
    // Fall back to a scan; SQLite checks the condition on every row anyway.
    C->Rows = nullptr;
    C->Count = C->Store->RowCount();
  }
  if (!C->Rows && C->Count > kColumnChunkRows) {
    try {
      DecodeScanned(*C->Store, IdxStr);
    } catch (const std::bad_alloc&) {
      return SQLITE_NOMEM;
    } catch (const std::exception& E) {
      SetVtabError(CBase, E.what());
      return SQLITE_ERROR;
    }
  }
  return SQLITE_OK;
}

int VtabNext(sqlite3_vtab_cursor* CBase) {
  auto* C = reinterpret_cast<TStoreCursor*>(CBase);
  ++C->At;
  ++*C->Scanned;
  return SQLITE_OK;
}

// SQLite's progress callback: tells how far the statement has come (the rows gone through, of
// the one table's when there is one table), and stops it when the handler says so; the
// statement's Step raises what stopped it.
int OnSqlProgress(void* Aux) {
  auto* Ctx = static_cast<TSqliteDatabase::TContext*>(Aux);
  if (Ctx->Stopped) return 1;
  if (!ProgressHandled()) return 0;
  const int64_t Total = Ctx->Stores.size() == 1 && Ctx->Stores[0]
                            ? static_cast<int64_t>(Ctx->Stores[0]->RowCount())
                            : -1;
  try {
    ReportProgress("Buscando", Ctx->Scanned, Ctx->Scanned <= Total ? Total : -1);
  } catch (...) {
    // Nothing may pass through SQLite: kept for Step, which raises it once SQLite has stopped.
    Ctx->Stopped = std::current_exception();
    return 1;
  }
  return 0;
}

// SQLite virtual machine steps between two calls of OnSqlProgress: a few hundred rows of a scan.
constexpr int kSqlProgressSteps = 4096;

int VtabEof(sqlite3_vtab_cursor* CBase) {
  auto* C = reinterpret_cast<TStoreCursor*>(CBase);
  return C->At >= C->Count;
}

size_t CursorRow(const TStoreCursor* C) {
  return C->Rows ? C->Rows[C->At] : C->At;
}

int VtabColumn(sqlite3_vtab_cursor* CBase, sqlite3_context* Ctx, int Col) {
  auto* C = reinterpret_cast<TStoreCursor*>(CBase);
  if (Col < 0 || Col >= static_cast<int>(C->Store->Columns.size())) {
    sqlite3_result_null(Ctx);
    return SQLITE_OK;
  }
  const TColumn& Column = C->Store->Columns[Col];
  const size_t Row = CursorRow(C);
  try {
    if (Column.IsNull(Row)) {
      sqlite3_result_null(Ctx);
      return SQLITE_OK;
    }
    switch (Column.Kind()) {
      case TStorageKind::Int:
        sqlite3_result_int(Ctx, Column.Int(Row));
        break;
      case TStorageKind::Double:
        sqlite3_result_double(Ctx, Column.Double(Row));
        break;
      case TStorageKind::String: {
        // The store outlives the statement and is not changed meanwhile: no copy needed.
        std::string_view S = Column.Str(Row);
        sqlite3_result_text(Ctx, S.data(), static_cast<int>(S.size()), SQLITE_STATIC);
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(Ctx);
    return SQLITE_NOMEM;
  } catch (const std::exception& E) {
    // A value that cannot be decoded (a damaged file found on reading it) ends the statement.
    sqlite3_result_error(Ctx, E.what(), -1);
    return SQLITE_ERROR;
  }
  return SQLITE_OK;
}

int VtabRowid(sqlite3_vtab_cursor* C, sqlite3_int64* Out) {
  *Out = static_cast<sqlite3_int64>(CursorRow(reinterpret_cast<TStoreCursor*>(C)));
  return SQLITE_OK;
}

sqlite3_module MakeStoreModule() {
  sqlite3_module M;
  std::memset(&M, 0, sizeof M);
  M.iVersion = 1;
  M.xCreate = VtabConnect;
  M.xConnect = VtabConnect;
  M.xBestIndex = VtabBestIndex;
  M.xDisconnect = VtabDisconnect;
  M.xDestroy = VtabDisconnect;
  M.xOpen = VtabOpen;
  M.xClose = VtabClose;
  M.xFilter = VtabFilter;
  M.xNext = VtabNext;
  M.xEof = VtabEof;
  M.xColumn = VtabColumn;
  M.xRowid = VtabRowid;
  return M;
}

const sqlite3_module StoreModule = MakeStoreModule();

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connection and statement

int RegisterSqlTextFunctions(sqlite3* Db) {
  const int Flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int Rc = sqlite3_create_function_v2(Db, "lower", 1, Flags, nullptr, LowerFunc, nullptr, nullptr,
                                      nullptr);
  if (Rc == SQLITE_OK)
    Rc = sqlite3_create_function_v2(Db, "upper", 1, Flags, nullptr, UpperFunc, nullptr, nullptr,
                                    nullptr);
  if (Rc == SQLITE_OK) {
    // unaccent(x): x as StripAccents gives it (Null stays Null), the filter's form of a text
    // when accents are ignored.
    auto Unaccent = [](sqlite3_context* Ctx, int, sqlite3_value** Argv) {
      if (sqlite3_value_type(Argv[0]) == SQLITE_NULL) return sqlite3_result_null(Ctx);
      try {
        thread_local std::string Folded;
        FoldTextInto(ArgText(Argv[0]), false, Folded);
        sqlite3_result_text(Ctx, Folded.data(), static_cast<int>(Folded.size()), SQLITE_TRANSIENT);
      } catch (const std::exception& E) {
        sqlite3_result_error(Ctx, E.what(), -1);
      }
    };
    Rc = sqlite3_create_function_v2(Db, "unaccent", 1, Flags, nullptr, Unaccent, nullptr, nullptr,
                                    nullptr);
  }
  if (Rc == SQLITE_OK)
    Rc = sqlite3_create_function_v2(Db, "like", 2, Flags, nullptr, LikeFunc, nullptr, nullptr,
                                    nullptr);
  if (Rc == SQLITE_OK)
    Rc = sqlite3_create_function_v2(Db, "like", 3, Flags, nullptr, LikeFunc, nullptr, nullptr,
                                    nullptr);
  return Rc;
}

TSqliteDatabase::TSqliteDatabase() : FContext(std::make_unique<TContext>()) {
  if (sqlite3_open_v2(":memory:", &FDb,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string Msg = FDb ? sqlite3_errmsg(FDb) : "sin memoria";
    sqlite3_close(FDb);
    FDb = nullptr;
    throw ESQLError("No se pudo abrir el motor SQL: " + Msg);
  }
  int Rc = sqlite3_create_module_v2(FDb, "kvstore", &StoreModule, FContext.get(), nullptr);
  if (Rc == SQLITE_OK) Rc = RegisterSqlTextFunctions(FDb);
  sqlite3_progress_handler(FDb, kSqlProgressSteps, OnSqlProgress, FContext.get());
  if (Rc != SQLITE_OK) {
    std::string Msg = sqlite3_errmsg(FDb);
    sqlite3_close(FDb);
    FDb = nullptr;
    throw ESQLError("No se pudo preparar el motor SQL: " + Msg);
  }
}

TSqliteDatabase::~TSqliteDatabase() {
  if (FDb) sqlite3_close(FDb);
}

void TSqliteDatabase::AttachStore(const std::string& Name, std::shared_ptr<const TTableStore> Store,
                                  const std::string& Shown) {
  // SQLite declares a table of at most this many columns; past it only a Spanish word helps.
  const int MaxColumns = sqlite3_limit(FDb, SQLITE_LIMIT_COLUMN, -1);
  if (Store && Store->Defs.size() > static_cast<size_t>(MaxColumns))
    throw ESQLError("La tabla '" + (Shown.empty() ? Name : Shown) + "' tiene " +
                    std::to_string(Store->Defs.size()) + " campos, más de los " +
                    std::to_string(MaxColumns) + " que admite el motor SQL");
  FContext->Stores.push_back(std::move(Store));
  Exec("CREATE VIRTUAL TABLE temp." + QuoteSqlName(Name) + " USING kvstore(" +
       std::to_string(FContext->Stores.size() - 1) + ")");
}

void TSqliteDatabase::RaiseIfStopped() const {
  if (FContext->Stopped) std::rethrow_exception(FContext->Stopped);
}

void TSqliteDatabase::Exec(const std::string& Sql) {
  char* Err = nullptr;
  if (sqlite3_exec(FDb, Sql.c_str(), nullptr, nullptr, &Err) != SQLITE_OK) {
    std::string Msg = Err ? Err : sqlite3_errmsg(FDb);
    sqlite3_free(Err);
    RaiseIfStopped();
    throw ESQLError("Error del motor SQL: " + Msg);
  }
}

TSqliteStatement::TSqliteStatement(TSqliteDatabase& Db, const std::string& Sql,
                                   const std::string& Original)
    : FDb(Db), FOriginal(Original) {
  if (sqlite3_prepare_v2(Db.Handle(), Sql.c_str(), static_cast<int>(Sql.size()), &FStmt, nullptr) !=
      SQLITE_OK) {
    const bool NoMemory = sqlite3_errcode(Db.Handle()) == SQLITE_NOMEM;
    std::string Msg = sqlite3_errmsg(Db.Handle());
    sqlite3_finalize(FStmt);
    FStmt = nullptr;
    if (NoMemory) throw ESQLError(OutOfMemoryText());
    throw ESQLError("Error al ejecutar la sentencia SQL (" + Msg + "): " + Original);
  }
}

TSqliteStatement::~TSqliteStatement() {
  if (FStmt) sqlite3_finalize(FStmt);
}

bool TSqliteStatement::Step() {
  const int Rc = sqlite3_step(FStmt);
  if (Rc == SQLITE_ROW) return true;
  if (Rc == SQLITE_DONE) return false;
  FDb.RaiseIfStopped();
  // Memory that ran out is told the one way it is everywhere, not as the statement's fault.
  if (Rc == SQLITE_NOMEM) throw ESQLError(OutOfMemoryText());
  throw ESQLError("Error al ejecutar la sentencia SQL (" +
                  std::string(sqlite3_errmsg(FDb.Handle())) + "): " + FOriginal);
}

// ---------------------------------------------------------------------------------------------
// Tables

std::optional<std::string> TSqlTableSource::ResolvePath(const std::string& Name) const {
  std::string Path;
  try {
    Path = ResolveTablePath(FDatabase, Name);
  } catch (const EDatabaseError&) {
    std::error_code Ec;
    if (fs::path(Name).is_absolute() && fs::is_regular_file(Name, Ec)) {
      Path = Name;
    } else {
      // A database that does not exist is reported as such, not as an unknown table.
      if (!fs::path(Name).is_absolute()) DatabaseDirectory(FDatabase);
      return std::nullopt;
    }
  }
  std::error_code Ec;
  fs::path Canon = fs::weakly_canonical(fs::absolute(Path, Ec), Ec);
  if (DatabaseConfined(FDatabase)) {
    // Only files inside the folder, however the name reaches them.
    std::error_code FolderEc;
    const fs::path Folder =
        fs::weakly_canonical(fs::absolute(DatabaseDirectory(FDatabase), FolderEc), FolderEc);
    const fs::path Rel = Ec || FolderEc ? fs::path("..") : Canon.lexically_relative(Folder);
    if (Rel.empty() || *Rel.begin() == ".." || Rel.is_absolute())
      throw ESQLError("La tabla '" + Name + "' está fuera de la carpeta de la base de datos '" +
                      DatabaseDirectory(FDatabase) + "'");
  }
  return Ec ? Path : Canon.string();
}

void TSqlTableSource::Register(const std::string& Name, std::shared_ptr<const TTableStore> Store) {
  FStores.emplace_back(Name, std::move(Store));
  FRegistered.push_back(Name);
}

std::optional<TSqlTableSchema> TSqlTableSource::Find(const std::string& Name) {
  for (const auto& R : FRegistered)
    if (AnsiSameText(R, Name) || AnsiSameText(ChangeFileExt(R, ""), Name))
      return TSqlTableSchema{R, Store(R)->Defs};
  auto Path = ResolvePath(Name);
  if (!Path) return std::nullopt;
  std::shared_ptr<const TTableStore> S = Store(*Path);
  if (!S) {
    S = LoadTableFile(*Path);
    FStores.emplace_back(*Path, S);
  }
  return TSqlTableSchema{*Path, S->Defs};
}

std::shared_ptr<const TTableStore> TSqlTableSource::Store(const std::string& Path) const {
  for (const auto& [P, S] : FStores)
    if (P == Path) return S;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Results

namespace {

// One value read back from SQLite, for columns whose type comes from the values.
struct TCell {
  int Type = SQLITE_NULL;
  sqlite3_int64 Int = 0;
  double Double = 0;
  std::string Text;
};

bool ParseNumber(std::string_view S, double& Out) {
  std::string T = Trim(S);
  if (T.empty()) return false;
  const char* B = T.data() + (T[0] == '+' ? 1 : 0);
  auto [P, Ec] = std::from_chars(B, T.data() + T.size(), Out);
  return Ec == std::errc() && P == T.data() + T.size();
}

int Utf8Length(std::string_view S) {
  int N = 0;
  for (char C : S)
    if ((static_cast<unsigned char>(C) & 0xC0) != 0x80) ++N;
  return N;
}

// Appends a value of any SQLite type to a column of fixed type.
void AppendCell(TColumn& Col, int Type, sqlite3_int64 I, double D, std::string_view Text,
                int& MaxLen) {
  if (Type == SQLITE_NULL) return Col.AppendNull();
  switch (Col.Kind()) {
    case TStorageKind::Int:
      if (Type == SQLITE_INTEGER) {
        if (Col.Type() == ftBoolean) return Col.AppendInt(I != 0);
        return Col.AppendInt(
            static_cast<int32_t>(std::clamp<sqlite3_int64>(I, INT32_MIN, INT32_MAX)));
      }
      if (Type == SQLITE_FLOAT || ParseNumber(Text, D))
        return Col.AppendInt(
            static_cast<int32_t>(std::clamp<double>(std::llround(D), INT32_MIN, INT32_MAX)));
      return Col.AppendNull();
    case TStorageKind::Double:
      if (Type == SQLITE_INTEGER) return Col.AppendDouble(static_cast<double>(I));
      if (Type == SQLITE_FLOAT || ParseNumber(Text, D)) return Col.AppendDouble(D);
      return Col.AppendNull();
    case TStorageKind::String: {
      std::string Own;
      if (Type == SQLITE_INTEGER) {
        Own = std::to_string(I);
        Text = Own;
      } else if (Type == SQLITE_FLOAT) {
        Own = FloatToStr(D);
        Text = Own;
      }
      MaxLen = std::max(MaxLen, Utf8Length(Text));
      return Col.AppendString(Text);
    }
  }
}

// Copies one stored value (Row -1: Null) into a column of the same type.
void CopyCell(TColumn& Dst, const TColumn& Src, sqlite3_int64 Row, int* MaxLen) {
  if (Row < 0 || static_cast<size_t>(Row) >= Src.Size() || Src.IsNull(Row)) return Dst.AppendNull();
  switch (Src.Kind()) {
    case TStorageKind::Int:
      return Dst.AppendInt(Src.Int(Row));
    case TStorageKind::Double:
      return Dst.AppendDouble(Src.Double(Row));
    case TStorageKind::String:
      if (MaxLen) *MaxLen = std::max(*MaxLen, Utf8Length(Src.Str(Row)));
      return Dst.AppendString(Src.Str(Row));
  }
}

// The result columns that are columns of the statement's tables as they are, read from those
// tables through the row numbers the statement found, a chunk at a time when first read: a
// large result costs what is shown of it, as a table opened from a file does.
class TRowRefColumns : public TColumnDecoder {
 public:
  struct TSource {
    std::shared_ptr<const TTableStore> Store;
    size_t Table = 0;  // which list of row numbers
    int Column = -1;   // -1: not read this way
  };
  // Rows[T][R]: the row of table T in result row R, kNoRow for an unmatched outer join.
  TRowRefColumns(std::vector<TSource> Sources, std::vector<std::vector<uint32_t>> Rows)
      : FSources(std::move(Sources)), FRows(std::move(Rows)) {}
  static constexpr uint32_t kNoRow = UINT32_MAX;
  void Decode(size_t Col, size_t First, size_t Count, TColumn& Out) const override {
    const TSource& S = FSources.at(Col);
    const TColumn& Src = S.Store->Columns.at(static_cast<size_t>(S.Column));
    const std::vector<uint32_t>& Rows = FRows.at(S.Table);
    for (size_t R = First; R < First + Count && R < Rows.size(); ++R)
      CopyCell(Out, Src, Rows[R] == kNoRow ? -1 : static_cast<sqlite3_int64>(Rows[R]), nullptr);
  }

 private:
  std::vector<TSource> FSources;
  std::vector<std::vector<uint32_t>> FRows;
};

}  // namespace

namespace {
thread_local size_t GRowLimit = SIZE_MAX;
}  // namespace

TSqlRowLimit::TSqlRowLimit(size_t MaxRows) : FPrevious(GRowLimit) {
  GRowLimit = MaxRows;
}

TSqlRowLimit::~TSqlRowLimit() {
  GRowLimit = FPrevious;
}

size_t TSqlRowLimit::Current() {
  return GRowLimit;
}

std::shared_ptr<TTableStore> RunTranslatedSelect(const TSqlTranslation& T, TSqlTableSource& Tables,
                                                 const std::string& Original) {
  // A table and its lookup tables are joined over the stores themselves when SQLite would run
  // the statement as nested scans and key lookups (see DirectSelectJoin).
  if (auto Direct = DirectSelectJoin(T, Tables)) return Direct;
  TSqliteDatabase Db;
  for (size_t I = 0; I < T.Tables.size(); ++I) {
    auto S = Tables.Store(T.Tables[I].Path);
    if (!S) throw ESQLError("Tabla no cargada: " + T.Tables[I].Path);
    Db.AttachStore(SqlTableName(I), S, ExtractFileName(T.Tables[I].Path));
  }
  // Plain column references are copied from the stores by row number when the query allows.
  const bool ByRow = !T.RowText.empty();
  TSqliteStatement St(Db, ByRow ? T.RowText : T.Text, Original);

  const size_t N = T.Columns.size();
  const size_t NT = T.Tables.size();
  std::vector<std::shared_ptr<const TTableStore>> Sources(NT);
  for (size_t I = 0; I < NT; ++I) Sources[I] = Tables.Store(T.Tables[I].Path);
  std::vector<TColumnDef> Defs(N);
  std::vector<TColumn> Cols;
  std::vector<std::vector<TCell>> Pending(N);  // columns typed from their values
  std::vector<int> MaxLen(N, 0);
  std::vector<int> SqlCol(N, -1);  // the statement's column of each result column, -1: copied
  // Copied columns whose definition needs nothing from the values are read through the row
  // numbers when first used (see TRowRefColumns); a text of unknown size is copied now.
  std::vector<TRowRefColumns::TSource> Refs(N);
  bool AnyRef = false;
  Cols.reserve(N);
  int NextCol = ByRow ? static_cast<int>(NT) : 0;
  for (size_t C = 0; C < N; ++C) {
    Defs[C] = T.Columns[C].Def;
    Cols.emplace_back(Defs[C].DataType == ftUnknown ? ftString : Defs[C].DataType);
    if (!ByRow || T.Columns[C].SourceTable < 0) {
      SqlCol[C] = NextCol++;
    } else if (Defs[C].DataType != ftUnknown &&
               (Defs[C].DataType != ftString || Defs[C].Size > 0)) {
      const auto Table = static_cast<size_t>(T.Columns[C].SourceTable);
      Refs[C] = {Sources[Table], Table, T.Columns[C].SourceColumn};
      AnyRef = true;
    }
  }
  const int Have = sqlite3_column_count(St.Handle());
  std::vector<sqlite3_int64> RowIds(NT, -1);
  std::vector<std::vector<uint32_t>> RefRows(AnyRef ? NT : 0);
  size_t Rows = 0;
  const size_t Limit = TSqlRowLimit::Current();
  while (Rows < Limit && St.Step()) {
    ++Rows;
    if (ByRow)
      for (size_t K = 0; K < NT; ++K)
        RowIds[K] = sqlite3_column_type(St.Handle(), static_cast<int>(K)) == SQLITE_NULL
                        ? -1
                        : sqlite3_column_int64(St.Handle(), static_cast<int>(K));
    for (size_t K = 0; K < RefRows.size(); ++K)
      RefRows[K].push_back(RowIds[K] < 0 || RowIds[K] >= TRowRefColumns::kNoRow
                               ? TRowRefColumns::kNoRow
                               : static_cast<uint32_t>(RowIds[K]));
    for (size_t C = 0; C < N; ++C) {
      if (Refs[C].Store) continue;
      const int I = SqlCol[C];
      if (I < 0) {
        const TColumn& Src = Sources[T.Columns[C].SourceTable]->Columns[T.Columns[C].SourceColumn];
        CopyCell(Cols[C], Src, RowIds[T.Columns[C].SourceTable],
                 Defs[C].Size == 0 ? &MaxLen[C] : nullptr);
        continue;
      }
      const int Type = I < Have ? sqlite3_column_type(St.Handle(), I) : SQLITE_NULL;
      sqlite3_int64 IV = 0;
      double DV = 0;
      std::string_view Text;
      if (Type == SQLITE_INTEGER) IV = sqlite3_column_int64(St.Handle(), I);
      if (Type == SQLITE_FLOAT) DV = sqlite3_column_double(St.Handle(), I);
      if (Type == SQLITE_TEXT || Type == SQLITE_BLOB) {
        const char* P = reinterpret_cast<const char*>(sqlite3_column_text(St.Handle(), I));
        Text = std::string_view(P ? P : "", P ? sqlite3_column_bytes(St.Handle(), I) : 0);
      }
      if (Defs[C].DataType != ftUnknown) {
        AppendCell(Cols[C], Type, IV, DV, Text, MaxLen[C]);
      } else {
        TCell Cell;
        Cell.Type = Type == SQLITE_BLOB ? SQLITE_TEXT : Type;
        Cell.Int = IV;
        Cell.Double = DV;
        Cell.Text = std::string(Text);
        Pending[C].push_back(std::move(Cell));
      }
    }
  }

  // Columns typed from their values: text wins, then real numbers, then whole numbers.
  for (size_t C = 0; C < N; ++C) {
    if (Defs[C].DataType != ftUnknown) continue;
    bool AnyText = false, AnyFloat = false, AnyInt = false;
    for (const TCell& V : Pending[C]) {
      AnyText |= V.Type == SQLITE_TEXT;
      AnyFloat |= V.Type == SQLITE_FLOAT ||
                  (V.Type == SQLITE_INTEGER && (V.Int < INT32_MIN || V.Int > INT32_MAX));
      AnyInt |= V.Type == SQLITE_INTEGER;
    }
    Defs[C].DataType = AnyText ? ftString : AnyFloat ? ftFloat : AnyInt ? ftInteger : ftString;
    Cols[C] = TColumn(Defs[C].DataType);
    Cols[C].Reserve(Pending[C].size());
    for (const TCell& V : Pending[C])
      AppendCell(Cols[C], V.Type, V.Int, V.Double, V.Text, MaxLen[C]);
    Pending[C] = {};
  }

  auto Result = std::make_shared<TTableStore>();
  for (size_t C = 0; C < N; ++C) {
    if (Defs[C].DataType == ftString) Defs[C].Size = std::max({Defs[C].Size, MaxLen[C], 1});
    Defs[C].Required = false;
    Result->AddColumn(Defs[C]);
  }
  for (size_t C = 0; C < N; ++C) Result->Columns[C] = std::move(Cols[C]);
  if (AnyRef && Rows > 0) {
    std::vector<bool> Lazy(N);
    for (size_t C = 0; C < N; ++C) Lazy[C] = Refs[C].Store != nullptr;
    auto Decoder = std::make_shared<TRowRefColumns>(std::move(Refs), std::move(RefRows));
    for (size_t C = 0; C < N; ++C)
      if (Lazy[C]) Result->Columns[C] = TColumn(Defs[C].DataType, Rows, Decoder, C);
  }
  if (N == 0) Result->SetRowCountNoColumns(Rows);
  return Result;
}

namespace {

// The row ids a statement of RowText's form returns (its first column).
std::vector<uint32_t> RowIdsOf(TSqliteDatabase& Db, const std::string& Sql,
                               const std::string& Original) {
  TSqliteStatement St(Db, Sql, Original);
  std::vector<uint32_t> Rows;
  const size_t Limit = TSqlRowLimit::Current();
  while (Rows.size() < Limit && St.Step())
    Rows.push_back(static_cast<uint32_t>(sqlite3_column_int64(St.Handle(), 0)));
  return Rows;
}

// Whether SQLite runs Sql as one scan of its one table, finding the rows in row order (not, for
// instance, as a union of index lookups for the terms of an OR).
bool PlanIsOneScan(TSqliteDatabase& Db, const std::string& Sql) {
  try {
    TSqliteStatement Plan(Db, "EXPLAIN QUERY PLAN " + Sql, Sql);
    int Steps = 0;
    bool Scan = false;
    while (Plan.Step()) {
      const auto* D = reinterpret_cast<const char*>(sqlite3_column_text(Plan.Handle(), 3));
      Scan = D && std::strncmp(D, "SCAN ", 5) == 0;
      ++Steps;
    }
    return Steps == 1 && Scan;
  } catch (const EAborted&) {
    throw;
  } catch (const std::exception&) {
    return false;
  }
}

// Found (rows of S in row order, each once) in the order SQLite's ORDER BY over Cols gives them,
// all ascending or all descending: the store's sorted order of Cols (Nulls first, numbers by
// value, texts by their bytes), and rows with equal keys in the order they were found, which
// SQLite's sort keeps. Descending reverses the groups of equal keys, not the rows within them.
std::vector<uint32_t> OrderLikeSqlite(const TTableStore& S, const std::vector<int>& Cols, bool Desc,
                                      const std::vector<uint32_t>& Found) {
  const std::vector<uint32_t>& Sorted = S.SortedRows(Cols);
  std::vector<uint32_t> Rows;
  if (Found.size() == S.RowCount()) {
    Rows = Sorted;
  } else {
    std::vector<uint8_t> Wanted(S.RowCount(), 0);
    for (uint32_t R : Found) Wanted[R] = 1;
    Rows.reserve(Found.size());
    for (uint32_t R : Sorted)
      if (Wanted[R]) Rows.push_back(R);
  }
  if (!Desc) return Rows;
  std::vector<uint32_t> Out;
  Out.reserve(Rows.size());
  for (size_t End = Rows.size(); End > 0;) {
    size_t Begin = End - 1;
    while (Begin > 0 && S.CompareRows(Rows[Begin - 1], Rows[End - 1], Cols) == 0) --Begin;
    Out.insert(Out.end(), Rows.begin() + static_cast<long>(Begin),
               Rows.begin() + static_cast<long>(End));
    End = Begin;
  }
  return Out;
}

// RunTranslatedSelectRows without a row limit: a result of the table's own rows is never larger
// than the table.
std::optional<std::vector<uint32_t>> SelectTableRows(const TSqlTranslation& T,
                                                     TSqlTableSource& Tables,
                                                     const std::string& Original) {
  if (T.RowText.empty() || T.Tables.size() != 1) return std::nullopt;
  const std::shared_ptr<const TTableStore> S = Tables.Store(T.Tables[0].Path);
  if (!S || T.Columns.size() != S->Defs.size() || S->Columns.size() != S->Defs.size())
    return std::nullopt;
  for (size_t C = 0; C < T.Columns.size(); ++C) {
    const TSqlResultColumn& R = T.Columns[C];
    const TColumnDef& D = S->Defs[C];
    if (R.SourceTable != 0 || R.SourceColumn != static_cast<int>(C) || R.Def.Name != D.Name ||
        R.Def.DataType != D.DataType || S->Columns[C].Type() != D.DataType ||
        (D.DataType == ftString && D.Size <= 0))
      return std::nullopt;
  }
  TSqliteDatabase Db;
  Db.AttachStore(SqlTableName(0), S, ExtractFileName(T.Tables[0].Path));
  // The search statements are evaluated over the store itself when SQLite would scan the table
  // in row order (see DirectSelectRows); any failure is left for SQLite to report as it does.
  std::optional<std::vector<uint32_t>> Direct;
  const bool Ordered = !T.OrderTerms.empty();
  if ((!Ordered || (!T.OrderKeys.empty() && !T.EveryRow)) &&
      PlanIsOneScan(Db, Ordered ? T.UnorderedRowText : T.RowText)) {
    try {
      Direct = DirectSelectRows(T, *S);
    } catch (const EAborted&) {
      throw;
    } catch (const std::exception&) {
      Direct.reset();
    }
  }
  if (Direct && !Ordered) return Direct;
  // An order by columns all one way is the store's cached sorted order of the rows found.
  std::vector<int> Cols;
  for (const auto& K : T.OrderKeys)
    if (K.Table == 0 && K.Desc == T.OrderKeys.front().Desc) Cols.push_back(K.Column);
  if (!Cols.empty() && Cols.size() == T.OrderKeys.size()) {
    std::vector<uint32_t> Found;
    if (T.EveryRow) {
      // Every row, in row order, as a scan would find them: no need to ask SQLite.
      Found.resize(S->RowCount());
      for (uint32_t R = 0; R < Found.size(); ++R) Found[R] = R;
    } else if (Direct) {
      Found = std::move(*Direct);
    } else {
      Found = RowIdsOf(Db, T.UnorderedRowText, Original);
    }
    // SQLite keeps rows with equal keys in the order it finds them: row order when it scans.
    if (std::is_sorted(Found.begin(), Found.end()))
      return OrderLikeSqlite(*S, Cols, T.OrderKeys.front().Desc, Found);
  }
  return RowIdsOf(Db, T.RowText, Original);
}

}  // namespace

std::optional<std::vector<uint32_t>> RunTranslatedSelectRows(const TSqlTranslation& T,
                                                             TSqlTableSource& Tables,
                                                             const std::string& Original) {
  auto Rows = SelectTableRows(T, Tables, Original);
  if (Rows && Rows->size() > TSqlRowLimit::Current()) Rows->resize(TSqlRowLimit::Current());
  return Rows;
}

// ---------------------------------------------------------------------------------------------
// The public entry points

namespace {

// Fn's result; memory that runs out anywhere on the way is told the one way it is everywhere.
template <class Fn>
auto TellingOutOfMemory(Fn&& F) {
  try {
    return F();
  } catch (const std::bad_alloc&) {
    throw ESQLError(OutOfMemoryText());
  }
}

}  // namespace

std::shared_ptr<TTableStore> ExecuteSelect(const std::string& Sql,
                                           const std::string& DatabaseName) {
  return TellingOutOfMemory([&] {
    TSqlStatement St = ParseSql(Sql);
    if (!St.Select)
      RaiseSqlError("La sentencia no devuelve registros: 'ALTER'" + SqlAtPosition(St.Pos));
    TSqlTableSource Tables(DatabaseName);
    TSqlTranslation T = TranslateSelect(St, Tables.Lookup());
    return RunTranslatedSelect(T, Tables, Sql);
  });
}

TSelectResult OpenSelect(const std::string& Sql, const std::string& DatabaseName) {
  return TellingOutOfMemory([&] {
    TSqlStatement St = ParseSql(Sql);
    if (!St.Select)
      RaiseSqlError("La sentencia no devuelve registros: 'ALTER'" + SqlAtPosition(St.Pos));
    TSqlTableSource Tables(DatabaseName);
    TSqlTranslation T = TranslateSelect(St, Tables.Lookup());
    // Rows of one table, with its columns as they are: the result is the table's own store seen
    // through those rows, in their order (a dataset over it finds only them, see TQuery).
    if (auto Rows = RunTranslatedSelectRows(T, Tables, Sql))
      return TSelectResult{Tables.Store(T.Tables[0].Path), std::move(Rows)};
    return TSelectResult{RunTranslatedSelect(T, Tables, Sql), std::nullopt};
  });
}

void ExecuteStatement(const std::string& Sql, const std::string& DatabaseName) {
  TellingOutOfMemory([&] {
    TSqlStatement St = ParseSql(Sql);
    if (!St.Alter)
      RaiseSqlError("La sentencia devuelve registros: use Open en lugar de ExecSQL" +
                    SqlAtPosition(St.Pos));
    TSqlTableSource Tables(DatabaseName);
    RunAlterTable(*St.Alter, Tables);
  });
}

std::string TranslateToSQLite(const std::string& Sql, const std::string& DatabaseName) {
  TSqlStatement St = ParseSql(Sql);
  TSqlTableSource Tables(DatabaseName);
  if (St.Select) return TranslateSelect(St, Tables.Lookup()).Text;
  // ALTER TABLE: checked as when it runs, and shown as the column removal it stands for.
  const auto& A = *St.Alter;
  auto Schema = Tables.Find(A.Table);
  if (!Schema) RaiseSqlError("Tabla desconocida '" + A.Table + "'" + SqlAtPosition(A.Pos));
  std::string Out = "ALTER TABLE " + QuoteSqlName(Schema->Path);
  for (size_t I = 0; I < A.Drops.size(); ++I) {
    const auto& D = A.Drops[I];
    if (!D.Qualifier.empty() &&
        !SqlQualifierMatches(D.Qualifier, A.Table, "", Schema->Path, Tables.Lookup()))
      RaiseSqlError("Tabla desconocida '" + D.Qualifier + "'" + SqlAtPosition(D.QualifierPos));
    const int Col = Tables.Store(Schema->Path)->ColumnIndex(D.Field);
    if (Col < 0) RaiseSqlError("Campo desconocido '" + D.Field + "'" + SqlAtPosition(D.Pos));
    Out += std::string(I ? "," : "") + " DROP COLUMN " +
           QuoteSqlName(Tables.Store(Schema->Path)->Defs[Col].Name);
  }
  return Out;
}

}  // namespace kv
