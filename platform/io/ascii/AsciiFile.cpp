// ASCII tables: delimited UTF-8 text, one record per line, plus an INI-like ".sch" schema.
// Text values are quoted (a doubled quote inside stands for one), other values are bare, an
// empty bare value is empty (Null). Dates are ISO: 2024-01-31, 13:45:00, 2024-01-31 13:45:00.
#include "ascii/AsciiFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "DB.h"
#include "IoUtil.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

namespace {

struct TSchemaField {
  std::string Name;
  TFieldType Type;
  int Size;
};

struct TSchema {
  std::string Charset = "UTF8";
  char Delimiter = '"';
  char Separator = ',';
  std::vector<TSchemaField> Fields;
};

const struct {
  const char* Name;
  TFieldType Type;
} kTypeNames[] = {
    {"CHAR", ftString},     {"MEMO", ftMemo},    {"SHORT", ftSmallint}, {"LONGINT", ftInteger},
    {"AUTOINC", ftAutoInc}, {"NUMBER", ftFloat}, {"FLOAT", ftFloat},    {"CURRENCY", ftCurrency},
    {"BOOL", ftBoolean},    {"DATE", ftDate},    {"TIME", ftTime},      {"TIMESTAMP", ftDateTime},
};

const char* SchemaTypeName(TFieldType T) {
  switch (T) {
    case ftString:
      return "CHAR";
    case ftMemo:
    case ftFmtMemo:
      return "MEMO";
    case ftSmallint:
      return "SHORT";
    case ftInteger:
    case ftWord:
      return "LONGINT";
    case ftAutoInc:
      return "AUTOINC";
    case ftFloat:
    case ftBCD:
      return "NUMBER";
    case ftCurrency:
      return "CURRENCY";
    case ftBoolean:
      return "BOOL";
    case ftDate:
      return "DATE";
    case ftTime:
      return "TIME";
    case ftDateTime:
      return "TIMESTAMP";
    default:
      return nullptr;
  }
}

bool IsTextType(TFieldType T) {
  return T == ftString || T == ftMemo || T == ftFmtMemo;
}

std::string ReadWhole(const std::string& Path) {
  TMappedFile F(Path);
  return WhileUnchanged(
      F, [&] { return std::string(reinterpret_cast<const char*>(F.Data()), F.Size()); });
}

// A one-character setting: the character itself, optionally quoted; "TAB" for a tab.
bool CharSetting(std::string V, char& Out) {
  V = Trim(V);
  if (UpperCase(V) == "TAB") {
    Out = '\t';
    return true;
  }
  if (V.size() == 3 && (V[0] == '\'' || V[0] == '"') && V[2] == V[0]) V = V.substr(1, 1);
  if (V.size() != 1) return false;
  Out = V[0];
  return true;
}

TSchema ReadSchema(const std::string& SchPath) {
  struct stat St;
  if (::stat(SchPath.c_str(), &St) != 0)
    RaiseFileError(SchPath, "falta el archivo de esquema de la tabla (" + ErrnoText(errno) + ")");
  std::string Text = ReadWhole(SchPath);
  TSchema S;
  std::vector<std::pair<int, TSchemaField>> Numbered;
  size_t Pos = 0;
  int LineNo = 0;
  while (Pos < Text.size()) {
    size_t End = Text.find('\n', Pos);
    if (End == std::string::npos) End = Text.size();
    std::string Line = Trim(std::string_view(Text).substr(Pos, End - Pos));
    Pos = End + 1;
    ++LineNo;
    if (Line.empty() || Line[0] == ';' || Line[0] == '[') continue;
    size_t Eq = Line.find('=');
    auto Bad = [&](const std::string& Why) {
      RaiseCorrupt(SchPath, "línea " + std::to_string(LineNo) + ": " + Why);
    };
    if (Eq == std::string::npos) Bad("falta '='");
    std::string Key = UpperCase(Trim(Line.substr(0, Eq)));
    std::string Value = Line.substr(Eq + 1);
    if (Key == "FILETYPE") {
      if (UpperCase(Trim(Value)) != "VARYING") Bad("sólo se admite FILETYPE=VARYING");
    } else if (Key == "CHARSET") {
      S.Charset = UpperCase(Trim(Value));
    } else if (Key == "DELIMITER") {
      if (!CharSetting(Value, S.Delimiter)) Bad("DELIMITER debe ser un carácter");
    } else if (Key == "SEPARATOR") {
      if (!CharSetting(Value, S.Separator)) Bad("SEPARATOR debe ser un carácter");
    } else if (Key.rfind("FIELD", 0) == 0) {
      int32_t N;
      if (!TextToInt(Key.substr(5), N) || N < 1) Bad("número de campo no válido en '" + Key + "'");
      // Name,TYPE,Size,Decimals,Offset; the name may itself contain commas.
      std::vector<std::string> Parts;
      std::string Rest = Value;
      for (int K = 0; K < 4; ++K) {
        size_t C = Rest.rfind(',');
        if (C == std::string::npos)
          Bad("el campo " + std::to_string(N) + " necesita nombre,tipo,tamaño,decimales,posición");
        Parts.insert(Parts.begin(), Trim(Rest.substr(C + 1)));
        Rest = Rest.substr(0, C);
      }
      TSchemaField F;
      F.Name = Trim(Rest);
      if (F.Name.empty()) Bad("el campo " + std::to_string(N) + " no tiene nombre");
      std::string TypeName = UpperCase(Parts[0]);
      F.Type = ftUnknown;
      for (const auto& T : kTypeNames)
        if (TypeName == T.Name) F.Type = T.Type;
      if (F.Type == ftUnknown) Bad("tipo de campo desconocido '" + Parts[0] + "'");
      int32_t Size = 0;
      if (!TextToInt(Parts[1], Size) || Size < 0)
        Bad("tamaño no válido para el campo '" + F.Name + "'");
      F.Size = Size;
      Numbered.emplace_back(N, F);
    }
  }
  std::sort(Numbered.begin(), Numbered.end(),
            [](const auto& A, const auto& B) { return A.first < B.first; });
  for (size_t I = 0; I < Numbered.size(); ++I) {
    if (Numbered[I].first != static_cast<int>(I) + 1)
      RaiseCorrupt(SchPath, "falta la definición de Field" + std::to_string(I + 1));
    S.Fields.push_back(Numbered[I].second);
  }
  if (S.Fields.empty()) RaiseCorrupt(SchPath, "el esquema no define ningún campo");
  if (S.Delimiter == S.Separator)
    RaiseCorrupt(SchPath, "DELIMITER y SEPARATOR no pueden ser iguales");
  return S;
}

std::string CodePageOfCharset(const std::string& Cs) {
  if (Cs == "UTF8" || Cs == "UTF-8" || Cs == "ASCII") return "UTF-8";
  if (Cs == "ANSI" || Cs == "WINDOWS" || Cs == "ANSIINTL" || Cs == "CP1252" || Cs == "WINDOWS-1252")
    return "CP1252";
  if (Cs == "OEM" || Cs == "DOS" || Cs == "ASCIIINTL") return "CP437";
  if (Cs.rfind("CP", 0) == 0) return Cs;
  return "";
}

std::string_view TrimView(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t')) S.remove_suffix(1);
  return S;
}

inline int Digits(std::string_view S, size_t At, size_t N) {
  if (At + N > S.size()) return -1;
  int V = 0;
  for (size_t I = At; I < At + N; ++I) {
    if (S[I] < '0' || S[I] > '9') return -1;
    V = V * 10 + (S[I] - '0');
  }
  return V;
}

// "YYYY-MM-DD" or "M/D/YYYY"; false when not a valid date.
bool ParseDate(std::string_view S, int64_t& Days) {
  int Y = -1, M = -1, D = -1;
  if (S.size() == 10 && S[4] == '-' && S[7] == '-') {
    Y = Digits(S, 0, 4);
    M = Digits(S, 5, 2);
    D = Digits(S, 8, 2);
  } else {
    size_t A = S.find('/'), B = A == std::string_view::npos ? A : S.find('/', A + 1);
    if (B == std::string_view::npos) return false;
    M = Digits(S, 0, A);
    D = Digits(S, A + 1, B - A - 1);
    Y = Digits(S, B + 1, S.size() - B - 1);
    if (A == 0 || B == A + 1 || B + 1 == S.size()) return false;
  }
  if (!IsValidDate(Y, M, D)) return false;
  Days = DayNumberOf(Y, M, D);
  return true;
}

// "HH:MM[:SS[.zzz]]"; false when not a valid time.
bool ParseTime(std::string_view S, int64_t& Ms) {
  if (S.size() < 5 || S[2] != ':') return false;
  int H = Digits(S, 0, 2), M = Digits(S, 3, 2), Sec = 0, Z = 0;
  if (S.size() > 5) {
    if (S.size() < 8 || S[5] != ':') return false;
    Sec = Digits(S, 6, 2);
    if (S.size() > 8) {
      if (S[8] != '.' || S.size() > 12 || S.size() < 10) return false;
      Z = Digits(S, 9, S.size() - 9);
      for (size_t K = S.size(); K < 12; ++K) Z *= 10;
    }
  }
  if (H < 0 || H > 23 || M < 0 || M > 59 || Sec < 0 || Sec > 59 || Z < 0) return false;
  Ms = ((int64_t(H) * 60 + M) * 60 + Sec) * 1000 + Z;
  return true;
}

}  // namespace

std::string SchemaPathOf(const std::string& TextPath) {
  return CompanionPath(TextPath, ".sch");
}

namespace {

// The code page the schema's CHARSET names; raises naming the schema for one it does not.
const TCodePage& CodePageOfSchema(const TSchema& S, const std::string& SchPath) {
  const std::string CpName = CodePageOfCharset(S.Charset);
  if (!CpName.empty()) try {
      return TCodePage::Get(CpName);
    } catch (const Exception&) {
    }
  RaiseCorrupt(SchPath, "juego de caracteres desconocido '" + S.Charset + "'");
}

// The records of the text: values separated by the separator, texts within the delimiter (a
// doubled delimiter stands for one, line breaks allowed inside), one record per line. Scan walks
// the whole text once and finds where each record starts, checking its structure and values;
// Decode reads one field of some records and converts it to the field's type. Errors name the
// file, the line and the field.
class TAsciiText {
 public:
  TAsciiText(const TMappedFile& F, const TSchema& S, const TCodePage& Cp)
      : FFile(F),
        FPath(F.Path()),
        FS(S),
        FCp(Cp),
        Data(reinterpret_cast<const char*>(F.Data())),
        Begin(Data),
        P(Begin),
        End(Begin + F.Size()) {
    // Skip a UTF-8 byte-order mark.
    if (F.Size() >= 3 && std::memcmp(P, "\xEF\xBB\xBF", 3) == 0) Begin = P += 3;
  }

  // Where each record starts (as offsets from the start of the file). Records of many fields
  // also get, in Marks, where every kFieldsPerMark-th of their fields starts (MarksPerRecord()
  // per record; kNoField where the record ends before it): a value is then found from the mark
  // before it, and reading every field of a record walks it a bounded number of times.
  std::vector<size_t> Scan(std::vector<size_t>& Marks) {
    std::vector<size_t> Starts;
    FMarks = &Marks;
    // A file cut short meanwhile reads as zeros up to the end: no use reading on.
    while (P < End && !FFile.Faulted()) {
      // Blank lines (also a last line without content) hold no record.
      if (*P == '\n' || (*P == '\r' && P + 1 < End && P[1] == '\n')) {
        P += *P == '\r' ? 2 : 1;
        continue;
      }
      Starts.push_back(static_cast<size_t>(P - Data));
      const size_t FirstMark = Marks.size();
      ScanRecord();
      Marks.resize(FirstMark + MarksPerRecord(), kNoField);
    }
    FMarks = nullptr;
    return Starts;
  }

  static constexpr size_t kFieldsPerMark = 64;
  static constexpr size_t kNoField = SIZE_MAX;
  size_t MarksPerRecord() const {
    return FS.Fields.empty() ? 0 : (FS.Fields.size() - 1) / kFieldsPerMark;
  }

  // Appends to Out the value of field Field of each record starting at Starts[First..First+Count)
  // (Null where a record has fewer values).
  void Decode(size_t Field, const std::vector<size_t>& Starts, const std::vector<size_t>& Marks,
              size_t First, size_t Count, TColumn& Out) {
    const size_t PerRecord = MarksPerRecord();
    const size_t Mark = Field / kFieldsPerMark;
    for (size_t R = First; R < First + Count && !FFile.Faulted(); ++R) {
      P = Data + Starts[R];
      size_t F = 0;
      if (Mark > 0) {
        const size_t At = Marks[R * PerRecord + Mark - 1];
        if (At == kNoField) {
          Out.AppendNull();
          continue;
        }
        P = Data + At;
        F = Mark * kFieldsPerMark;
      }
      for (;; ++F) {
        bool WasQuoted = false;
        std::string_view V = NextValue(F, WasQuoted);
        if (F == Field) {
          AppendValue(Out, Field, WasQuoted ? V : TrimView(V));
          break;
        }
        if (P >= End || *P != FS.Separator) {
          Out.AppendNull();
          break;
        }
        ++P;
      }
    }
  }

 private:
  // Raises for field Field of the record being read, on the line where At lies.
  [[noreturn]] void Fail(size_t Field, const std::string& Why, const char* At) {
    const size_t Line = 1 + static_cast<size_t>(std::count(Begin, At, '\n'));
    RaiseCorrupt(FPath, "línea " + std::to_string(Line) +
                            (Field < FS.Fields.size() ? ", campo '" + FS.Fields[Field].Name + "'"
                                                      : std::string()) +
                            ": " + Why);
  }

  [[noreturn]] void Bad(size_t Field, std::string_view V, const char* What) {
    Fail(Field, "'" + std::string(V) + "' " + What, P);
  }

  // Checks one record's structure and that each value converts to its field's type (converted
  // into scratch columns, dropped every few thousand records): a bad value is found on opening,
  // with its line, as a table of text is read once anyway.
  void ScanRecord() {
    const size_t NumFields = FS.Fields.size();
    if (FChecked.empty() || FChecked.front().Size() >= 4096) {
      FChecked.clear();
      for (const TSchemaField& Fd : FS.Fields) FChecked.emplace_back(Fd.Type);
    }
    for (size_t Field = 0;; ++Field) {
      if (Field % kFieldsPerMark == 0 && Field > 0 && Field < NumFields)
        FMarks->push_back(static_cast<size_t>(P - Data));
      bool WasQuoted = false;
      const std::string_view V = NextValue(Field, WasQuoted);
      if (Field >= NumFields)
        Fail(Field, "hay más valores que campos en el esquema (" + std::to_string(NumFields) + ")",
             P);
      AppendValue(FChecked[Field], Field, WasQuoted ? V : TrimView(V));
      if (P < End && *P == FS.Separator) {
        ++P;
        continue;
      }
      // End of the record: only a line break (or the end) may follow.
      if (P < End && *P == '\r') ++P;
      if (P < End && *P != '\n') Fail(Field, "sobran caracteres tras el valor", P);
      if (P < End) ++P;
      return;
    }
  }

  // The next value's text: within the delimiter (undoubled), or up to the separator or the end
  // of the line.
  std::string_view NextValue(size_t Field, bool& WasQuoted) {
    if (P >= End || *P != FS.Delimiter) {
      const char* Start = P;
      while (P < End && *P != FS.Separator && *P != '\n' && *P != '\r') ++P;
      return std::string_view(Start, P - Start);
    }
    WasQuoted = true;
    const char* const Opening = P;
    const char* Start = ++P;
    bool Doubled = false;
    for (;;) {
      if (P >= End) Fail(Field, "falta el delimitador de cierre", Opening);
      if (*P == FS.Delimiter) {
        if (P + 1 < End && P[1] == FS.Delimiter) {
          Doubled = true;
          P += 2;
          continue;
        }
        break;
      }
      ++P;
    }
    std::string_view V(Start, P - Start);
    ++P;  // closing delimiter
    if (!Doubled) return V;
    FQuoted.clear();
    for (size_t K = 0; K < V.size(); ++K) {
      FQuoted.push_back(V[K]);
      if (V[K] == FS.Delimiter) ++K;
    }
    return FQuoted;
  }

  // Appends V, converted to the field's type, to Col (empty: Null).
  void AppendValue(TColumn& Col, size_t Field, std::string_view V) {
    const TFieldType T = FS.Fields[Field].Type;
    if (V.empty()) return Col.AppendNull();
    if (IsTextType(T)) {
      if (FCp.IsUtf8() || IsAscii(V)) {
        if (FCp.IsUtf8() && !IsValidUtf8(V)) Fail(Field, "el texto no es UTF-8 válido", P);
        return Col.AppendString(V);
      }
      FDecoded.clear();
      FCp.Decode(V, FDecoded);
      return Col.AppendString(FDecoded);
    }
    switch (T) {
      case ftSmallint:
      case ftInteger:
      case ftAutoInc: {
        int32_t X;
        if (!TextToInt(V, X) || (T == ftSmallint && (X < -32768 || X > 32767)))
          Bad(Field, V, "no es un número entero válido");
        return Col.AppendInt(X);
      }
      case ftFloat:
      case ftCurrency: {
        double X;
        if (!TextToDouble(V, X)) Bad(Field, V, "no es un número válido");
        return Col.AppendDouble(X);
      }
      case ftBoolean: {
        const std::string U = UpperCase(V);
        if (U == "TRUE" || U == "T" || U == "Y" || U == "YES" || U == "1") return Col.AppendInt(1);
        if (U == "FALSE" || U == "F" || U == "N" || U == "NO" || U == "0") return Col.AppendInt(0);
        Bad(Field, V, "no es un valor lógico válido");
      }
      case ftDate: {
        int64_t D;
        if (!ParseDate(V, D)) Bad(Field, V, "no es una fecha válida (AAAA-MM-DD)");
        return Col.AppendDouble(double(D));
      }
      case ftTime: {
        int64_t Ms;
        if (!ParseTime(V, Ms)) Bad(Field, V, "no es una hora válida (hh:mm:ss)");
        return Col.AppendDouble(JoinDateTime(0, Ms).Val);
      }
      case ftDateTime: {
        const size_t Sp = V.find_first_of(" T");
        int64_t D, Ms = 0;
        if (!ParseDate(V.substr(0, Sp), D) ||
            (Sp != std::string_view::npos && !ParseTime(V.substr(Sp + 1), Ms)))
          Bad(Field, V, "no es una fecha y hora válida (AAAA-MM-DD hh:mm:ss)");
        return Col.AppendDouble(JoinDateTime(D, Ms).Val);
      }
      default:
        return Col.AppendNull();
    }
  }

  const TMappedFile& FFile;
  const std::string& FPath;
  const TSchema& FS;
  const TCodePage& FCp;
  const char* Data;   // the whole file
  const char* Begin;  // the text after a byte-order mark
  const char* P;
  const char* End;
  std::string FQuoted, FDecoded;
  std::vector<TColumn> FChecked;          // scratch columns of the values checked while scanning
  std::vector<size_t>* FMarks = nullptr;  // while scanning
};

// The columns of an ASCII table, decoded from the mapped text record by record.
class TAsciiColumns : public TFileColumns {
 public:
  TAsciiColumns(std::shared_ptr<const TMappedFile> File, TSchema Schema, const TCodePage& Cp,
                std::vector<size_t> Starts, std::vector<size_t> Marks)
      : TFileColumns(std::move(File)),
        FSchema(std::move(Schema)),
        FCp(Cp),
        FStarts(std::move(Starts)),
        FMarks(std::move(Marks)) {}

 protected:
  void DecodeRows(size_t Col, size_t First, size_t Count, TColumn& Out) const override {
    TAsciiText(File(), FSchema, FCp).Decode(Col, FStarts, FMarks, First, Count, Out);
  }

 private:
  TSchema FSchema;
  const TCodePage& FCp;
  std::vector<size_t> FStarts;
  std::vector<size_t> FMarks;  // see TAsciiText::Scan
};

}  // namespace

std::shared_ptr<TTableStore> ReadAsciiFile(const std::string& TextPath) {
  auto F = std::make_shared<TMappedFile>(TextPath);  // first, so a missing table names the table
  const std::string SchPath = SchemaPathOf(TextPath);
  TSchema S = ReadSchema(SchPath);
  const TCodePage& Cp = CodePageOfSchema(S, SchPath);
  std::vector<TColumnDef> Defs;
  for (const TSchemaField& Fd : S.Fields)
    Defs.push_back({Fd.Name, Fd.Type, IsTextType(Fd.Type) ? Fd.Size : 0, false});
  // The records are found (and their structure checked) now, their values read when first used.
  std::vector<size_t> Marks;
  std::vector<size_t> Starts =
      WhileUnchanged(*F, [&] { return TAsciiText(*F, S, Cp).Scan(Marks); });
  F->Release();
  const size_t Rows = Starts.size();
  auto Columns =
      std::make_shared<TAsciiColumns>(F, std::move(S), Cp, std::move(Starts), std::move(Marks));
  return MakeFileStore(std::move(Defs), {}, Rows, std::move(Columns));
}

namespace {

// What the values of a column need of its schema line, gathered chunk after chunk.
struct TAsciiStats {
  size_t MaxLen = 0;    // texts: the longest value, in characters
  bool WithMs = false;  // date-times: some value has a fraction of a second
};

// Checks the name and the type of column I for the schema.
void CheckField(size_t I, const TColumnDef& Def, TFieldType Type, const std::string& ErrName) {
  if (!SchemaTypeName(Type))
    RaiseFileError(ErrName, "el campo '" + Def.Name + "' es de tipo " + FieldTypeName(Type) +
                                ", que una tabla de texto no puede guardar");
  if (Def.Name.empty() || Def.Name.find_first_of("\r\n") != std::string::npos ||
      Trim(Def.Name) != Def.Name)
    RaiseFileError(ErrName, "el campo " + std::to_string(I + 1) +
                                " no tiene un nombre válido para el esquema");
}

// Adds the rows of one chunk of column I to St, after checking that the reader will read back
// every value written (valid UTF-8, shorts in range, dates in the calendar).
void ScanField(TAsciiStats& St, const TTableSlice& Data, size_t I, const std::string& ErrName) {
  const TColumnDef& Def = Data.Def(I);
  const TColumn& Col = Data.Column(I);
  const TRowSelection& Rows = Data.Rows();
  auto Refuse = [&](size_t Row, const std::string& Why) {
    RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Data.RowNumber(Row)) +
                                " del campo '" + Def.Name + "' " + Why);
  };
  if (IsTextType(Col.Type())) {
    // The size counts characters, not bytes.
    Rows.ForEachValue(Col, [&](size_t Row) {
      const std::string_view S = Col.Str(Row);
      if (!IsAscii(S) && !IsValidUtf8(S)) Refuse(Row, "no es texto UTF-8 válido");
    });
    const size_t Floor = Def.Size > 0 ? size_t(Def.Size) : 1;
    St.MaxLen = std::max(St.MaxLen, LongestText(Col, Rows, std::max(Floor, St.MaxLen)));
  } else if (Col.Kind() == TStorageKind::Double) {
    const bool IsDate = IsDateTimeType(Col.Type());
    Rows.ForEachValue(Col, [&](size_t Row) {
      const double X = Col.Double(Row);
      if (!std::isfinite(X) || (IsDate && !IsInCalendar(TDateTime(X))))
        Refuse(Row, "no se puede escribir como texto");
    });
    St.WithMs = St.WithMs || (IsDate && AnyMilliseconds(Col, Rows));
  } else if (Col.Type() == ftSmallint) {
    Rows.ForEachValue(Col, [&](size_t Row) {
      if (Col.Int(Row) < -32768 || Col.Int(Row) > 32767)
        RaiseFileError(ErrName, "el valor " + std::to_string(Col.Int(Row)) + " del campo '" +
                                    Def.Name + "' no cabe en un entero corto");
    });
  }
}

// The schema line of one column ("Field3=Name,CHAR,30,00,00") once every row was scanned.
std::string SchemaLine(size_t I, const TColumnDef& Def, const TColumn& Col, const TAsciiStats& St) {
  int Size = 0;
  if (IsTextType(Col.Type()))
    Size = static_cast<int>(std::max(Def.Size > 0 ? size_t(Def.Size) : 1, St.MaxLen));
  else if (Col.Kind() == TStorageKind::Double)
    Size = 20;
  else
    Size = Col.Type() == ftBoolean ? 5 : Col.Type() == ftSmallint ? 6 : 11;
  char Line[64];
  std::snprintf(Line, sizeof Line, ",%s,%d,00,00\n", SchemaTypeName(Col.Type()), Size);
  return "Field" + std::to_string(I + 1) + "=" + Def.Name + Line;
}

// Appends the text of one value: texts in quotes (a quote inside doubled), the rest bare. Runs
// once per value of a table: texts go in whole runs between quotes, numbers straight from
// std::to_chars.
void AppendValueText(std::string& Line, const TColumn& Col, size_t Row, bool WithMs) {
  char Buf[40];
  switch (Col.Type()) {
    case ftString:
    case ftMemo:
    case ftFmtMemo: {
      std::string_view S = Col.Str(Row);
      Line.push_back('"');
      for (size_t Quote; (Quote = S.find('"')) != std::string_view::npos;) {
        Line.append(S.substr(0, Quote + 1));
        Line.push_back('"');
        S.remove_prefix(Quote + 1);
      }
      Line.append(S);
      Line.push_back('"');
      break;
    }
    case ftBoolean:
      Line += Col.Int(Row) ? "true" : "false";
      break;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      Line.append(Buf, std::to_chars(Buf, Buf + sizeof Buf, Col.Int(Row)).ptr);
      break;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      // The shortest text that reads back as the same number.
      Line.append(Buf, std::to_chars(Buf, Buf + sizeof Buf, Col.Double(Row)).ptr);
      break;
    case ftDate:
    case ftTime:
    case ftDateTime:
      Line.append(Buf, FormatIsoDateTime(Buf, Col.Double(Row), Col.Type(), WithMs));
      break;
    default:
      break;
  }
}

}  // namespace

void WriteAsciiFile(const std::string& TextPath, const std::string& SchemaPath,
                    const std::string& ErrName, TRowSource& Source) {
  const TTableSlice& Layout = Source.Layout();
  const size_t NumFields = Layout.ColumnCount();
  if (NumFields == 0) RaiseFileError(ErrName, "una tabla de texto necesita al menos un campo");
  for (size_t I = 0; I < NumFields; ++I)
    CheckField(I, Layout.Def(I), Layout.Column(I).Type(), ErrName);

  // The schema's sizes come from every value: a first pass over the rows sizes them.
  std::vector<TAsciiStats> Stats(NumFields);
  ForEachChunk(Source, ErrName, false, [&](const TTableSlice& Chunk) {
    for (size_t I = 0; I < NumFields; ++I) ScanField(Stats[I], Chunk, I, ErrName);
  });
  std::string Table = ExtractFileName(ErrName);
  Table = Table.substr(0, Table.find_last_of('.'));
  std::string Sch = "[" + UpperCase(Table) + "]\n";
  Sch += "FILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n";
  for (size_t I = 0; I < NumFields; ++I)
    Sch += SchemaLine(I, Layout.Def(I), Layout.Column(I), Stats[I]);
  WriteWholeFile(SchemaPath, Sch);

  TFileWriter W(TextPath, ErrName);
  std::string Line;
  ForEachChunk(Source, ErrName, true, [&](const TTableSlice& Chunk) {
    const TRowSelection& Selected = Chunk.Rows();
    for (size_t R = 0; R < Selected.Count(); ++R) {
      const size_t Row = Selected[R];
      Line.clear();
      for (size_t I = 0; I < NumFields; ++I) {
        if (I) Line.push_back(',');
        const TColumn& Col = Chunk.Column(I);
        if (!Col.IsNull(Row)) AppendValueText(Line, Col, Row, Stats[I].WithMs);
      }
      if (Line.empty()) Line = "\"\"";  // a lone empty value must not read as a blank line
      Line.push_back('\n');
      W.Write(Line);
    }
  });
  W.Close();
}

}  // namespace kv
