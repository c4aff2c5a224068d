// Tables written into a database and columns dropped from them (see DbWrite.h).
#include "DbWrite.h"

#include <algorithm>

#include "DbTypes.h"
#include "LocalSQL.h"
#include "Progress.h"
#include "SqlLexer.h"
#include "SqlParser.h"
#include "Unicode.h"

namespace kv {

namespace {

// Runs Work inside a transaction: committed when it ends, rolled back when it raises.
template <class F>
void InTransaction(TDbConnection& Conn, F&& Work) {
  Conn.Execute("BEGIN", {});
  try {
    Work();
    Conn.Execute("COMMIT", {});
  } catch (...) {
    try {
      Conn.Execute("ROLLBACK", {});
    } catch (const std::exception&) {
      // The first failure is the one to report; the database ends the transaction itself.
    }
    throw;
  }
}

std::string QuotedName(const TSqlDialect& D, const std::string& Name) {
  std::string S;
  for (const TNamePart& P : SplitQualifiedName(Name))
    S += (S.empty() ? "" : ".") + D.QuoteName(P.Text);
  return S;
}

}  // namespace

int CopyIntoDatabase(TDbConnection& Conn, const std::string& TableName, TDataSet& Source,
                     const std::vector<TField*>& Fields, const std::vector<std::string>& Key) {
  const TSqlDialect& D = Conn.Dialect();
  const std::string Table = QuotedName(D, TableName);
  if (Fields.empty())
    throw EDatabaseError("No hay campos que copiar a la tabla '" + TableName + "'");
  std::string Columns, Names;
  for (const TField* F : Fields) {
    Columns += (Columns.empty() ? "" : ", ") + D.QuoteName(F->FieldName()) + " " +
               Conn.TypeName(F->DataType(), F->Size()) + (F->Required() ? " NOT NULL" : "");
    Names += (Names.empty() ? "" : ", ") + D.QuoteName(F->FieldName());
  }
  bool KeyCopied = !Key.empty();
  for (const auto& K : Key)
    KeyCopied &= std::any_of(Fields.begin(), Fields.end(),
                             [&](const TField* F) { return AnsiSameText(F->FieldName(), K); });
  if (KeyCopied) {
    std::string Cols;
    for (const auto& K : Key) Cols += (Cols.empty() ? "" : ", ") + D.QuoteName(K);
    Columns += ", PRIMARY KEY (" + Cols + ")";
  }
  const int Total = Source.RecordCount();
  // Many records a statement, within the parameters a statement may have.
  const int PerStatement = std::clamp(30000 / static_cast<int>(Fields.size()), 1, 500);
  InTransaction(Conn, [&] {
    Conn.Execute("DROP TABLE IF EXISTS " + Table, {});
    Conn.Execute("CREATE TABLE " + Table + " (" + Columns + ")", {});
    TSqlParams P(D);
    std::string Values;
    int Pending = 0;
    auto Flush = [&] {
      if (Pending == 0) return;
      Conn.Execute("INSERT INTO " + Table + " (" + Names + ") VALUES " + Values, P.Items);
      P.Items.clear();
      Values.clear();
      Pending = 0;
    };
    for (int R = 0; R < Total; ++R) {
      const TBookmark Row = Source.RowAt(R);
      std::string Tuple;
      for (const TField* F : Fields) {
        Variant V = F->ValueAt(Row);
        // An empty text is an empty value, as in table files.
        if (V.IsString() && V.AsString().empty()) V = Variant::Null();
        Tuple += (Tuple.empty() ? "" : ", ") + P.Add(std::move(V), F->DataType());
      }
      Values += (Values.empty() ? "(" : ", (") + Tuple + ")";
      if (++Pending == PerStatement) {
        Flush();
        ReportProgress("Exportando", R + 1, Total);
      }
    }
    Flush();
  });
  return Total;
}

void ExecuteOnDatabase(TDbConnection& Conn, const std::string& Sql) {
  const TSqlStatement St = ParseSql(Sql);
  if (!St.Alter)
    RaiseSqlError("La sentencia devuelve registros: use Open en lugar de ExecSQL" +
                  SqlAtPosition(St.Pos));
  const TSqlAlterTable& A = *St.Alter;
  TDbTableInfo T;
  try {
    T = Conn.Table(A.Table);
  } catch (const EDatabaseError& E) {
    RaiseSqlError(E.Message() + SqlAtPosition(A.Pos));
  }
  std::vector<std::string> Drops;
  for (const auto& Drop : A.Drops) {
    if (!Drop.Qualifier.empty() && !AnsiSameText(Drop.Qualifier, A.Table)) {
      TDbTableInfo Q;
      try {
        Q = Conn.Table(Drop.Qualifier);
      } catch (const EDatabaseError&) {
      }
      if (Q.Sql != T.Sql)
        RaiseSqlError("Tabla desconocida '" + Drop.Qualifier + "'" +
                      SqlAtPosition(Drop.QualifierPos));
    }
    const int Col = T.ColumnIndex(Drop.Field);
    if (Col < 0) RaiseSqlError("Campo desconocido '" + Drop.Field + "'" + SqlAtPosition(Drop.Pos));
    const std::string Name = T.Columns[Col].Def.Name;
    if (std::find(Drops.begin(), Drops.end(), Name) == Drops.end()) Drops.push_back(Name);
  }
  if (Drops.size() >= T.Columns.size())
    RaiseSqlError("No se pueden eliminar todos los campos de la tabla '" + A.Table + "'" +
                  SqlAtPosition(A.Pos));
  InTransaction(Conn, [&] {
    for (const auto& Name : Drops)
      Conn.Execute("ALTER TABLE " + T.Sql + " DROP COLUMN " + Conn.Dialect().QuoteName(Name), {});
  });
}

}  // namespace kv
