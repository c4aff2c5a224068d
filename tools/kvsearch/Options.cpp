// kvsearch's command line parsing.
#include "Options.h"

#include <cstdlib>

#include "SysUtils.h"

using namespace kv;

namespace {

std::string Trimmed(const std::string& S) {
  size_t B = S.find_first_not_of(" \t");
  if (B == std::string::npos) return std::string();
  size_t E = S.find_last_not_of(" \t");
  return S.substr(B, E - B + 1);
}

// The names of a comma-separated list, empty ones left out.
std::vector<std::string> SplitComma(const std::string& S) {
  std::vector<std::string> Out;
  for (std::string& Part : SplitNames(S, ','))
    if (!Part.empty()) Out.push_back(std::move(Part));
  return Out;
}

}  // namespace

const char* UsageText() {
  return "uso: kvsearch [opciones] DATABASE TABLE [EXPRESSION]\n"
         "     kvsearch [opciones] DATABASE --query SQL [EXPRESSION]\n"
         "\n"
         "DATABASE es un alias o una carpeta (puede omitirse si KV_DEFAULT_DATABASE\n"
         "está definida); TABLE un archivo de tabla (.db, .dbf, .txt); EXPRESSION una\n"
         "búsqueda como Country='España' and Company=='a' (vacía: todos los registros).\n"
         "\n"
         "opciones:\n"
         "  --order FIELD        ordena el resultado por FIELD\n"
         "  --desc               orden descendente\n"
         "  --case               distingue mayúsculas y minúsculas\n"
         "  --ignore-accents     no distingue acentos (\"gomez\" encuentra \"Gómez\"; la ñ sí)\n"
         "  --sql                busca siempre mediante SQL\n"
         "  --confine            las consultas sólo leen tablas de la carpeta de la base\n"
         "  --lookup NAME=TABLE.RESULT(KEY=LOOKUPKEY)\n"
         "                       añade un campo de búsqueda en otra tabla (repetible)\n"
         "  --explain            muestra el filtro o la sentencia SQL aplicados (en\n"
         "                       PostgreSQL, con el plan del servidor y los índices que\n"
         "                       faltan)\n"
         "  --count              muestra sólo el número de registros encontrados\n"
         "  --format F           table (por omisión), csv o json\n"
         "  --limit N            muestra como mucho N registros\n"
         "  --export FILE        exporta el resultado a FILE (.db, .dbf o .txt)\n"
         "  --columns A,B        exporta sólo esas columnas\n"
         "  --all-records        exporta todos los registros de la tabla\n"
         "  --help               muestra esta ayuda\n"
         "  --version            muestra la versión\n";
}

bool ParseLookupSpec(const std::string& Text, TLookupSpec& Spec) {
  size_t Eq = Text.find('=');
  if (Eq == std::string::npos) return false;
  Spec.Name = Trimmed(Text.substr(0, Eq));
  std::string Rest = Trimmed(Text.substr(Eq + 1));
  size_t Open = Rest.find('(');
  if (Open == std::string::npos || Rest.empty() || Rest.back() != ')') return false;
  std::string Source = Rest.substr(0, Open);
  std::string Keys = Rest.substr(Open + 1, Rest.size() - Open - 2);
  // The table name may carry an extension, so the result field follows the last dot.
  size_t Dot = Source.rfind('.');
  if (Dot == std::string::npos) return false;
  Spec.Table = Trimmed(Source.substr(0, Dot));
  Spec.Result = Trimmed(Source.substr(Dot + 1));
  size_t KEq = Keys.find('=');
  if (KEq == std::string::npos) return false;
  Spec.Key = Trimmed(Keys.substr(0, KEq));
  Spec.LookupKey = Trimmed(Keys.substr(KEq + 1));
  return !Spec.Name.empty() && !Spec.Table.empty() && !Spec.Result.empty() && !Spec.Key.empty() &&
         !Spec.LookupKey.empty();
}

std::string QuotedColumnList(const std::vector<std::string>& Columns) {
  std::string Out;
  for (const auto& C : Columns) {
    if (!Out.empty()) Out += ", ";
    Out += "\"" + C + "\"";
  }
  return Out;
}

TParseResult ParseSearchOptions(const std::vector<std::string>& Args,
                                const std::string& DefaultDatabase, const TIsDatabase& IsDatabase,
                                TSearchOptions& Opt, std::string& Error) {
  std::vector<std::string> Positional;
  bool HasColumns = false;
  bool OptionsEnded = false;
  for (size_t I = 0; I < Args.size(); ++I) {
    std::string A = Args[I];
    if (OptionsEnded || A.size() < 2 || A[0] != '-' || A == "-") {
      Positional.push_back(A);
      continue;
    }
    if (A == "--") {
      OptionsEnded = true;
      continue;
    }
    // "--name=value" is accepted as well as "--name value".
    std::string Inline;
    bool HasInline = false;
    if (size_t Eq = A.find('='); A.rfind("--", 0) == 0 && Eq != std::string::npos) {
      Inline = A.substr(Eq + 1);
      A = A.substr(0, Eq);
      HasInline = true;
    }
    auto Value = [&](std::string& Out) {
      if (HasInline) {
        Out = Inline;
        return true;
      }
      if (I + 1 >= Args.size()) {
        Error = "falta el valor de " + A;
        return false;
      }
      Out = Args[++I];
      return true;
    };
    auto Flag = [&](bool& Out) {
      if (HasInline) {
        Error = A + " no lleva valor";
        return false;
      }
      Out = true;
      return true;
    };
    std::string V;
    if (A == "--help" || A == "-h") return TParseResult::Help;
    if (A == "--version") return TParseResult::Version;
    if (A == "--order") {
      if (!Value(Opt.OrderBy)) return TParseResult::UsageError;
      if (Trimmed(Opt.OrderBy).empty()) {
        Error = "--order necesita un nombre de campo";
        return TParseResult::UsageError;
      }
    } else if (A == "--desc") {
      if (!Flag(Opt.Descendant)) return TParseResult::UsageError;
    } else if (A == "--case") {
      if (!Flag(Opt.CaseSensitive)) return TParseResult::UsageError;
    } else if (A == "--ignore-accents") {
      if (!Flag(Opt.IgnoreAccents)) return TParseResult::UsageError;
    } else if (A == "--sql") {
      if (!Flag(Opt.ForceSQL)) return TParseResult::UsageError;
    } else if (A == "--confine") {
      if (!Flag(Opt.Confine)) return TParseResult::UsageError;
    } else if (A == "--explain") {
      if (!Flag(Opt.Explain)) return TParseResult::UsageError;
    } else if (A == "--count") {
      if (!Flag(Opt.CountOnly)) return TParseResult::UsageError;
    } else if (A == "--all-records") {
      if (!Flag(Opt.AllRecords)) return TParseResult::UsageError;
    } else if (A == "--query") {
      if (!Value(Opt.Query)) return TParseResult::UsageError;
      if (Trimmed(Opt.Query).empty()) {
        Error = "--query necesita una sentencia SQL";
        return TParseResult::UsageError;
      }
      Opt.HasQuery = true;
    } else if (A == "--format") {
      if (!Value(V)) return TParseResult::UsageError;
      if (V == "table")
        Opt.Format = TOutputFormat::Table;
      else if (V == "csv")
        Opt.Format = TOutputFormat::Csv;
      else if (V == "json")
        Opt.Format = TOutputFormat::Json;
      else {
        Error = "formato desconocido: " + V;
        return TParseResult::UsageError;
      }
    } else if (A == "--limit") {
      if (!Value(V)) return TParseResult::UsageError;
      char* End = nullptr;
      long long N = std::strtoll(V.c_str(), &End, 10);
      if (V.empty() || *End != '\0' || N < 0) {
        Error = "--limit necesita un número entero no negativo: " + V;
        return TParseResult::UsageError;
      }
      Opt.Limit = N;
    } else if (A == "--lookup") {
      if (!Value(V)) return TParseResult::UsageError;
      TLookupSpec Spec;
      if (!ParseLookupSpec(V, Spec)) {
        Error = "--lookup espera NAME=TABLE.RESULT(KEY=LOOKUPKEY): " + V;
        return TParseResult::UsageError;
      }
      Opt.Lookups.push_back(Spec);
    } else if (A == "--export") {
      if (!Value(Opt.ExportFile)) return TParseResult::UsageError;
      if (Opt.ExportFile.empty()) {
        Error = "--export necesita un nombre de archivo";
        return TParseResult::UsageError;
      }
    } else if (A == "--columns") {
      if (!Value(V)) return TParseResult::UsageError;
      Opt.ExportColumns = SplitComma(V);
      HasColumns = true;
      if (Opt.ExportColumns.empty()) {
        Error = "--columns necesita al menos un nombre de campo";
        return TParseResult::UsageError;
      }
    } else {
      Error = "opción desconocida: " + A;
      return TParseResult::UsageError;
    }
  }
  if ((HasColumns || Opt.AllRecords) && Opt.ExportFile.empty()) {
    Error = "--columns y --all-records sólo valen con --export";
    return TParseResult::UsageError;
  }

  // Positional arguments: DATABASE TABLE [EXPRESSION], or DATABASE [EXPRESSION] with --query.
  // DATABASE may be left out when a default exists and the first argument names no database.
  size_t Need = Opt.HasQuery ? 1 : 2;  // arguments before EXPRESSION, DATABASE included
  bool UseDefault = false;
  if (!DefaultDatabase.empty()) {
    if (Positional.size() < Need)
      UseDefault = true;
    else if (Positional.size() == Need)
      UseDefault = !IsDatabase(Positional[0]);
    else if (Positional.size() == Need + 1)
      UseDefault = false;
  }
  if (UseDefault) Positional.insert(Positional.begin(), DefaultDatabase);
  if (Positional.size() < Need) {
    Error = Opt.HasQuery ? "falta DATABASE" : "faltan DATABASE y TABLE";
    return TParseResult::UsageError;
  }
  if (Positional.size() > Need + 1) {
    Error = "sobran argumentos a partir de '" + Positional[Need + 1] + "'";
    return TParseResult::UsageError;
  }
  Opt.Database = Positional[0];
  if (!Opt.HasQuery) Opt.Table = Positional[1];
  if (Positional.size() == Need + 1) Opt.Expression = Positional[Need];
  return TParseResult::Ok;
}
