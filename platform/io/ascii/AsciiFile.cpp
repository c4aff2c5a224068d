// ASCII tables: delimited UTF-8 text, one record per line, plus an INI-like ".sch" schema.
// Text values are quoted (a doubled quote inside stands for one), other values are bare, an
// empty bare value is empty (Null). Dates are ISO: 2024-01-31, 13:45:00, 2024-01-31 13:45:00.
#include "ascii/AsciiFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "DB.h"
#include "IoUtil.h"
#include "SysUtils.h"
#include "Unicode.h"

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
  return std::string(reinterpret_cast<const char*>(F.Data()), F.Size());
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

std::shared_ptr<TTableStore> ReadAsciiFile(const std::string& TextPath) {
  TMappedFile F(TextPath);  // first, so a missing table names the table itself
  const std::string SchPath = SchemaPathOf(TextPath);
  TSchema S = ReadSchema(SchPath);
  std::string CpName = CodePageOfCharset(S.Charset);
  if (CpName.empty()) RaiseCorrupt(SchPath, "juego de caracteres desconocido '" + S.Charset + "'");
  const TCodePage* Cp;
  try {
    Cp = &TCodePage::Get(CpName);
  } catch (const Exception&) {
    RaiseCorrupt(SchPath, "juego de caracteres desconocido '" + S.Charset + "'");
  }

  auto Store = std::make_shared<TTableStore>();
  for (const TSchemaField& Fd : S.Fields) {
    TColumnDef Def;
    Def.Name = Fd.Name;
    Def.DataType = Fd.Type;
    Def.Size = IsTextType(Fd.Type) ? Fd.Size : 0;
    Store->AddColumn(std::move(Def));
  }
  const size_t NumFields = S.Fields.size();
  const char* P = reinterpret_cast<const char*>(F.Data());
  const char* End = P + F.Size();
  // Skip a UTF-8 byte-order mark.
  if (F.Size() >= 3 && std::memcmp(P, "\xEF\xBB\xBF", 3) == 0) P += 3;
  size_t Lines = std::count(P, End, '\n') + 1;
  for (TColumn& C : Store->Columns) C.Reserve(Lines);

  std::string Quoted, Decoded;
  size_t LineNo = 1;
  auto Fail = [&](size_t Field, const std::string& Why) {
    RaiseCorrupt(TextPath, "línea " + std::to_string(LineNo) +
                               (Field < NumFields ? ", campo '" + S.Fields[Field].Name + "'"
                                                  : std::string()) +
                               ": " + Why);
  };
  while (P < End) {
    // Blank lines (also a last line without content) hold no record.
    if (*P == '\n' || (*P == '\r' && P + 1 < End && P[1] == '\n')) {
      P += *P == '\r' ? 2 : 1;
      ++LineNo;
      continue;
    }
    const size_t RecordLine = LineNo;
    size_t Field = 0;
    for (;;) {
      std::string_view V;
      bool WasQuoted = false;
      if (P < End && *P == S.Delimiter) {
        WasQuoted = true;
        ++P;
        const char* Start = P;
        bool Doubled = false;
        for (;;) {
          if (P >= End) {
            LineNo = RecordLine;
            Fail(Field, "falta el delimitador de cierre");
          }
          if (*P == S.Delimiter) {
            if (P + 1 < End && P[1] == S.Delimiter) {
              Doubled = true;
              P += 2;
              continue;
            }
            break;
          }
          if (*P == '\n') ++LineNo;
          ++P;
        }
        V = std::string_view(Start, P - Start);
        ++P;  // closing delimiter
        if (Doubled) {
          Quoted.clear();
          for (size_t K = 0; K < V.size(); ++K) {
            Quoted.push_back(V[K]);
            if (V[K] == S.Delimiter) ++K;
          }
          V = Quoted;
        }
      } else {
        const char* Start = P;
        while (P < End && *P != S.Separator && *P != '\n' && *P != '\r') ++P;
        V = std::string_view(Start, P - Start);
      }
      if (Field >= NumFields)
        Fail(Field, "hay más valores que campos en el esquema (" + std::to_string(NumFields) + ")");
      TColumn& Col = Store->Columns[Field];
      const TFieldType T = S.Fields[Field].Type;
      if (!WasQuoted) V = TrimView(V);
      if (V.empty()) {
        Col.AppendNull();
      } else if (IsTextType(T)) {
        if (Cp->IsUtf8() || IsAscii(V)) {
          if (Cp->IsUtf8() && !IsValidUtf8(V)) Fail(Field, "el texto no es UTF-8 válido");
          Col.AppendString(V);
        } else {
          Decoded.clear();
          Cp->Decode(V, Decoded);
          Col.AppendString(Decoded);
        }
      } else {
        std::string_view Tx = V;
        std::string Tv(V);
        switch (T) {
          case ftSmallint:
          case ftInteger:
          case ftAutoInc: {
            int32_t X;
            if (!TextToInt(Tx, X) || (T == ftSmallint && (X < -32768 || X > 32767)))
              Fail(Field, "'" + Tv + "' no es un número entero válido");
            Col.AppendInt(X);
            break;
          }
          case ftFloat:
          case ftCurrency: {
            double X;
            if (!TextToDouble(Tx, X)) Fail(Field, "'" + Tv + "' no es un número válido");
            Col.AppendDouble(X);
            break;
          }
          case ftBoolean: {
            std::string U = UpperCase(Tv);
            if (U == "TRUE" || U == "T" || U == "Y" || U == "YES" || U == "1")
              Col.AppendInt(1);
            else if (U == "FALSE" || U == "F" || U == "N" || U == "NO" || U == "0")
              Col.AppendInt(0);
            else
              Fail(Field, "'" + Tv + "' no es un valor lógico válido");
            break;
          }
          case ftDate: {
            int64_t D;
            if (!ParseDate(Tx, D)) Fail(Field, "'" + Tv + "' no es una fecha válida (AAAA-MM-DD)");
            Col.AppendDouble(double(D));
            break;
          }
          case ftTime: {
            int64_t Ms;
            if (!ParseTime(Tx, Ms)) Fail(Field, "'" + Tv + "' no es una hora válida (hh:mm:ss)");
            Col.AppendDouble(JoinDateTime(0, Ms).Val);
            break;
          }
          case ftDateTime: {
            size_t Sp = Tx.find_first_of(" T");
            int64_t D, Ms = 0;
            if (!ParseDate(Tx.substr(0, Sp), D) ||
                (Sp != std::string_view::npos && !ParseTime(Tx.substr(Sp + 1), Ms)))
              Fail(Field, "'" + Tv + "' no es una fecha y hora válida (AAAA-MM-DD hh:mm:ss)");
            Col.AppendDouble(JoinDateTime(D, Ms).Val);
            break;
          }
          default:
            Col.AppendNull();
            break;
        }
      }
      ++Field;
      if (P < End && *P == S.Separator) {
        ++P;
        continue;
      }
      // End of the record: only a line break (or the end) may follow.
      if (P < End && *P == '\r') ++P;
      if (P < End && *P != '\n') Fail(Field - 1, "sobran caracteres tras el valor");
      if (P < End) ++P;
      ++LineNo;
      break;
    }
    for (; Field < NumFields; ++Field) Store->Columns[Field].AppendNull();
  }
  return Store;
}

void WriteAsciiFile(const std::string& TextPath, const std::string& SchemaPath,
                    const std::string& ErrName, const TTableStore& Data,
                    const std::vector<uint32_t>* Rows) {
  const size_t NumFields = Data.Defs.size();
  if (NumFields == 0) RaiseFileError(ErrName, "una tabla de texto necesita al menos un campo");
  const size_t RowCount = Rows ? Rows->size() : Data.RowCount();
  auto RowAt = [&](size_t I) -> size_t { return Rows ? (*Rows)[I] : I; };

  std::string Sch;
  std::string Table = ExtractFileName(ErrName);
  Table = Table.substr(0, Table.find_last_of('.'));
  Sch += "[" + UpperCase(Table) + "]\n";
  Sch += "FILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n";
  std::vector<bool> WithMs(NumFields, false);
  for (size_t I = 0; I < NumFields; ++I) {
    const TColumnDef& Def = Data.Defs[I];
    const TColumn& Col = Data.Columns[I];
    const char* TypeName = SchemaTypeName(Col.Type());
    if (!TypeName)
      RaiseFileError(ErrName, "el campo '" + Def.Name + "' es de tipo " +
                                  FieldTypeName(Col.Type()) +
                                  ", que una tabla de texto no puede guardar");
    if (Def.Name.empty() || Def.Name.find_first_of("\r\n") != std::string::npos ||
        Trim(Def.Name) != Def.Name)
      RaiseFileError(ErrName, "el campo " + std::to_string(I + 1) +
                                  " no tiene un nombre válido para el esquema");
    int Size = 0;
    // Refuse what the reader would refuse, so that every file written reads back.
    if (IsTextType(Col.Type()))
      for (size_t R = 0; R < RowCount; ++R) {
        size_t Row = RowAt(R);
        if (!Col.IsNull(Row) && !IsValidUtf8(Col.Str(Row)))
          RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Row + 1) +
                                      " del campo '" + Def.Name + "' no es texto UTF-8 válido");
      }
    if (Col.Type() == ftSmallint)
      for (size_t R = 0; R < RowCount; ++R) {
        size_t Row = RowAt(R);
        if (!Col.IsNull(Row) && (Col.Int(Row) < -32768 || Col.Int(Row) > 32767))
          RaiseFileError(ErrName, "el valor " + std::to_string(Col.Int(Row)) + " del campo '" +
                                      Def.Name + "' no cabe en un entero corto");
      }
    if (IsTextType(Col.Type())) {
      size_t MaxLen = Def.Size > 0 ? size_t(Def.Size) : 1;
      for (size_t R = 0; R < RowCount; ++R) {
        size_t Row = RowAt(R);
        if (Col.IsNull(Row)) continue;
        // The size counts characters, not bytes.
        std::string_view V = Col.Str(Row);
        size_t Chars = 0;
        for (char C : V) Chars += (static_cast<uint8_t>(C) & 0xC0) != 0x80;
        MaxLen = std::max(MaxLen, Chars);
      }
      Size = static_cast<int>(MaxLen);
    } else if (Col.Kind() == TStorageKind::Double) {
      Size = 20;
      bool IsDate = Col.Type() == ftDate || Col.Type() == ftTime || Col.Type() == ftDateTime;
      for (size_t R = 0; R < RowCount; ++R) {
        size_t Row = RowAt(R);
        if (Col.IsNull(Row)) continue;
        double X = Col.Double(Row);
        if (!std::isfinite(X) || (IsDate && !IsInCalendar(TDateTime(X))))
          RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Row + 1) +
                                      " del campo '" + Def.Name +
                                      "' no se puede escribir como texto");
        if (IsDate && !WithMs[I]) {
          int64_t Days, Ms;
          SplitDateTime(TDateTime(X), Days, Ms);
          WithMs[I] = Ms % 1000 != 0;
        }
      }
    } else {
      Size = Col.Type() == ftBoolean ? 5 : Col.Type() == ftSmallint ? 6 : 11;
    }
    char Line[64];
    std::snprintf(Line, sizeof Line, ",%s,%d,00,00\n", TypeName, Size);
    Sch += "Field" + std::to_string(I + 1) + "=" + Def.Name + Line;
  }
  WriteWholeFile(SchemaPath, Sch);

  TFileWriter W(TextPath, ErrName);
  std::string Line;
  char Buf[64];
  for (size_t R = 0; R < RowCount; ++R) {
    const size_t Row = RowAt(R);
    Line.clear();
    for (size_t I = 0; I < NumFields; ++I) {
      if (I) Line.push_back(',');
      const TColumn& Col = Data.Columns[I];
      if (Col.IsNull(Row)) continue;
      switch (Col.Type()) {
        case ftString:
        case ftMemo:
        case ftFmtMemo: {
          Line.push_back('"');
          for (char C : Col.Str(Row)) {
            if (C == '"') Line.push_back('"');
            Line.push_back(C);
          }
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
          Line += std::to_string(Col.Int(Row));
          break;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
          Line += DoubleToText(Col.Double(Row));
          break;
        case ftDate:
        case ftTime:
        case ftDateTime: {
          int64_t Days, Ms;
          SplitDateTime(TDateTime(Col.Double(Row)), Days, Ms);
          int Y, M, D;
          DateOfDayNumber(Days, Y, M, D);
          int Hh = int(Ms / 3600000), Mi = int(Ms / 60000 % 60), Ss = int(Ms / 1000 % 60),
              Zz = int(Ms % 1000);
          int N = 0;
          if (Col.Type() == ftDate)
            N = std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d", Y, M, D);
          else if (Col.Type() == ftTime)
            N = std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d", Hh, Mi, Ss);
          else
            N = std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d", Y, M, D, Hh, Mi,
                              Ss);
          if (Col.Type() != ftDate && WithMs[I])
            N += std::snprintf(Buf + N, sizeof Buf - N, ".%03d", Zz);
          Line.append(Buf, N);
          break;
        }
        default:
          break;
      }
    }
    if (Line.empty()) Line = "\"\"";  // a lone empty value must not read as a blank line
    Line.push_back('\n');
    W.Write(Line);
  }
  W.Close();
}
