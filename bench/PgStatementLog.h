// The statements a PostgreSQL server logged (log_min_duration_statement = 0, the default log line
// prefix), read back so that a peer can run exactly what a client sent.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One statement as the server ran it: its text, the values of its parameters as the server wrote
// them (SQL literals: '12', 'O''Brien', or NULL; Parameters[0] is $1) and the server's time.
struct TLoggedStatement {
  std::string Sql;
  std::vector<std::string> Parameters;
  double Milliseconds = 0;
};

// The statements in Log, in the order they ended: simple queries ("statement: ...") and the
// execution of extended-protocol ones ("execute <unnamed>: ...", with the DETAIL line of their
// parameters); the parse and bind steps are not statements of their own. Text continued on the
// following lines (tab-indented) is part of the statement.
std::vector<TLoggedStatement> ParseStatementLog(std::string_view Log);

// S.Sql with each $N outside literals, quoted identifiers and comments replaced by
// S.Parameters[N-1] (a parameter without a value is left as written).
std::string StatementWithParameters(const TLoggedStatement& S);
