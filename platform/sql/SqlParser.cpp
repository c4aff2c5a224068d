// Recursive-descent parser of the local SQL.
#include "SqlParser.h"

#include <algorithm>

#include "SqlLexer.h"
#include "SysUtils.h"

namespace kv {

namespace {

class TSqlParser {
 public:
  explicit TSqlParser(std::string_view Sql) : FSql(Sql), FToks(TokenizeSql(Sql)) {}

  TSqlStatement Statement() {
    TSqlStatement St;
    St.Source = std::string(FSql);
    St.Pos = Peek().Pos;
    if (Peek().IsWord("SELECT")) {
      St.Select = SelectStatement();
    } else if (Peek().IsWord("ALTER")) {
      St.Alter = AlterStatement();
    } else if (Peek().Kind == TSqlTokenKind::End) {
      RaiseSqlError("La sentencia está vacía");
    } else {
      RaiseSqlErrorAt("Sentencia no soportada: '" + TokenText(Peek()) + "'", Peek().Pos);
    }
    while (Peek().IsSymbol(";")) Next();
    if (Peek().Kind != TSqlTokenKind::End) {
      if (Peek().IsWord("UNION") || Peek().IsWord("LIMIT"))
        RaiseSqlErrorAt("Sentencia no soportada: '" + TokenText(Peek()) + "'", Peek().Pos);
      Fail();
    }
    return St;
  }

 private:
  std::string_view FSql;
  std::vector<TSqlToken> FToks;
  size_t FAt = 0;

  const TSqlToken& Peek(size_t Ahead = 0) const {
    return FToks[std::min(FAt + Ahead, FToks.size() - 1)];
  }
  const TSqlToken& Next() {
    const TSqlToken& T = FToks[FAt];
    if (FAt + 1 < FToks.size()) ++FAt;
    return T;
  }
  size_t PrevEnd() const {
    if (FAt == 0) return 0;
    const TSqlToken& T = FToks[FAt - 1];
    return T.Offset + T.Length;
  }
  std::string TokenText(const TSqlToken& T) const {
    return std::string(FSql.substr(T.Offset, T.Length));
  }
  [[noreturn]] void Fail() const { RaiseSqlSyntaxError(FSql, Peek()); }
  bool AcceptWord(std::string_view W) {
    if (!Peek().IsWord(W)) return false;
    Next();
    return true;
  }
  bool AcceptSymbol(std::string_view S) {
    if (!Peek().IsSymbol(S)) return false;
    Next();
    return true;
  }
  void ExpectWord(std::string_view W) {
    if (!AcceptWord(W)) Fail();
  }
  void ExpectSymbol(std::string_view S) {
    if (!AcceptSymbol(S)) Fail();
  }
  // A name: a bare non-reserved word or a double-quoted text.
  bool IsName(const TSqlToken& T) const {
    return T.Kind == TSqlTokenKind::QuotedIdent ||
           (T.Kind == TSqlTokenKind::Ident && !IsSqlReservedWord(T.Text));
  }
  const TSqlToken& ExpectName() {
    if (!IsName(Peek())) Fail();
    return Next();
  }

  TSqlExprPtr Make(TSqlExprKind K, const TSqlToken& First) {
    auto E = std::make_unique<TSqlExpr>();
    E->Kind = K;
    E->Pos = First.Pos;
    E->Begin = First.Offset;
    E->End = First.Offset + First.Length;
    return E;
  }
  TSqlExprPtr Wrap(TSqlExprKind K, std::string Op, TSqlExprPtr Left) {
    auto E = std::make_unique<TSqlExpr>();
    E->Kind = K;
    E->Op = std::move(Op);
    E->Pos = Left->Pos;
    E->Begin = Left->Begin;
    E->Args.push_back(std::move(Left));
    return E;
  }
  // Expressions nest at most this deep (parentheses, NOT and signs) and their trees are at
  // most this high: deeper input is refused rather than risking the stack.
  static constexpr int MaxNesting = 200;
  static constexpr int MaxHeight = 800;
  int FNesting = 0;

  void Close(TSqlExpr& E) {
    E.End = PrevEnd();
    Measure(E);
  }
  void Measure(TSqlExpr& E) {
    int H = 0;
    for (const auto& A : E.Args) H = std::max(H, A->Height);
    E.Height = H + 1;
    if (E.Height > MaxHeight) RaiseSqlErrorAt("Expresión demasiado compleja", E.Pos);
  }
  // Counts one level of nesting while a nested expression is parsed.
  struct TNest {
    TSqlParser& P;
    explicit TNest(TSqlParser& Parser) : P(Parser) {
      if (++P.FNesting > MaxNesting) {
        P.FNesting = 0;
        RaiseSqlErrorAt("Expresión demasiado anidada", P.Peek().Pos);
      }
    }
    ~TNest() { --P.FNesting; }
  };

  // Marks where a clause's own text begins: just after the keyword(s) just read.
  void Open(TSqlSpan& Span, const TSqlToken& Keyword) {
    Span.Keyword = Keyword.Offset;
    Span.Begin = PrevEnd();
  }

  std::unique_ptr<TSqlSelect> SelectStatement() {
    auto S = std::make_unique<TSqlSelect>();
    const TSqlToken& Select = Peek();
    ExpectWord("SELECT");
    Open(S->ListSpan, Select);
    if (AcceptWord("DISTINCT"))
      S->Distinct = true;
    else
      AcceptWord("ALL");
    do S->Items.push_back(SelectItem());
    while (AcceptSymbol(","));
    S->ListSpan.End = PrevEnd();
    const TSqlToken& From = Peek();
    ExpectWord("FROM");
    Open(S->FromSpan, From);
    S->From.push_back(TableRef(TSqlJoinKind::List));
    for (;;) {
      if (AcceptSymbol(",")) {
        S->From.push_back(TableRef(TSqlJoinKind::List));
      } else if (Peek().IsWord("JOIN") || Peek().IsWord("INNER") || Peek().IsWord("LEFT")) {
        TSqlJoinKind K = TSqlJoinKind::Inner;
        if (AcceptWord("LEFT")) {
          K = TSqlJoinKind::Left;
          AcceptWord("OUTER");
        } else {
          AcceptWord("INNER");
        }
        ExpectWord("JOIN");
        TSqlTableRef R = TableRef(K);
        ExpectWord("ON");
        R.On = Expression();
        S->From.push_back(std::move(R));
      } else if (Peek().IsWord("RIGHT") || Peek().IsWord("FULL") || Peek().IsWord("CROSS")) {
        RaiseSqlErrorAt("Sentencia no soportada: '" + TokenText(Peek()) + "'", Peek().Pos);
      } else {
        break;
      }
    }
    S->FromSpan.End = PrevEnd();
    if (const TSqlToken& Where = Peek(); AcceptWord("WHERE")) {
      Open(S->WhereSpan, Where);
      S->Where = Expression();
      S->WhereSpan.End = PrevEnd();
    }
    if (const TSqlToken& Group = Peek(); AcceptWord("GROUP")) {
      ExpectWord("BY");
      Open(S->GroupBySpan, Group);
      do S->GroupBy.push_back(Expression());
      while (AcceptSymbol(","));
      S->GroupBySpan.End = PrevEnd();
    }
    if (const TSqlToken& Having = Peek(); AcceptWord("HAVING")) {
      Open(S->HavingSpan, Having);
      S->Having = Expression();
      S->HavingSpan.End = PrevEnd();
    }
    if (const TSqlToken& Order = Peek(); AcceptWord("ORDER")) {
      ExpectWord("BY");
      Open(S->OrderBySpan, Order);
      do {
        TSqlOrderItem O;
        O.Expr = Expression();
        if (AcceptWord("DESC"))
          O.Desc = true;
        else
          AcceptWord("ASC");
        S->OrderBy.push_back(std::move(O));
      } while (AcceptSymbol(","));
      S->OrderBySpan.End = PrevEnd();
    }
    return S;
  }

  TSqlSelectItem SelectItem() {
    TSqlSelectItem It;
    It.Pos = Peek().Pos;
    if (AcceptSymbol("*")) {
      It.Star = true;
      return It;
    }
    if (IsName(Peek()) && Peek(1).IsSymbol(".") && Peek(2).IsSymbol("*")) {
      It.Star = true;
      It.StarQualifier = Next().Text;
      Next();
      Next();
      return It;
    }
    It.Expr = Expression();
    if (AcceptWord("AS")) {
      It.Alias = ExpectName().Text;
    } else if (IsName(Peek())) {
      It.Alias = Next().Text;
    }
    return It;
  }

  TSqlTableRef TableRef(TSqlJoinKind Join) {
    TSqlTableRef R;
    R.Join = Join;
    const TSqlToken& T = Peek();
    R.Pos = T.Pos;
    if (T.Kind == TSqlTokenKind::QuotedIdent) {
      R.Quoted = true;
      R.Name = Next().Text;
    } else if (IsName(T)) {
      R.Name = Next().Text;
    } else {
      Fail();
    }
    if (AcceptWord("AS")) {
      R.Alias = ExpectName().Text;
    } else if (IsName(Peek())) {
      R.Alias = Next().Text;
    }
    return R;
  }

  std::unique_ptr<TSqlAlterTable> AlterStatement() {
    auto A = std::make_unique<TSqlAlterTable>();
    ExpectWord("ALTER");
    if (!Peek().IsWord("TABLE"))
      RaiseSqlErrorAt("Sentencia no soportada: 'ALTER " + TokenText(Peek()) + "'", Peek().Pos);
    Next();
    A->Pos = Peek().Pos;
    A->Table = ExpectName().Text;
    do {
      if (!Peek().IsWord("DROP")) {
        if (Peek().Kind == TSqlTokenKind::Ident && !IsSqlReservedWord(Peek().Text))
          RaiseSqlErrorAt("Sentencia no soportada: 'ALTER TABLE … " + TokenText(Peek()) + "'",
                          Peek().Pos);
        Fail();
      }
      Next();
      if (Peek().IsWord("COLUMN") && IsName(Peek(1))) Next();
      TSqlDropColumn D;
      const TSqlToken& First = ExpectName();
      if (AcceptSymbol(".")) {
        D.Qualifier = First.Text;
        D.QualifierPos = First.Pos;
        D.Pos = Peek().Pos;
        D.Field = ExpectName().Text;
      } else {
        D.Field = First.Text;
        D.Pos = First.Pos;
      }
      A->Drops.push_back(std::move(D));
    } while (AcceptSymbol(","));
    return A;
  }

  // Expressions, loosest binding first.
  TSqlExprPtr Expression() { return OrExpr(); }

  TSqlExprPtr OrExpr() {
    std::vector<TSqlExprPtr> Terms;
    do Terms.push_back(AndExpr());
    while (AcceptWord("OR"));
    return Joined("OR", Terms, 0, Terms.size());
  }

  TSqlExprPtr AndExpr() {
    std::vector<TSqlExprPtr> Terms;
    do Terms.push_back(NotExpr());
    while (AcceptWord("AND"));
    return Joined("AND", Terms, 0, Terms.size());
  }

  // Terms[Begin, End) joined by Op. A short run keeps the shape it is written in, each term
  // joined to those before it; a long one is halved first, so thousands of alternatives make a
  // tree a few dozen levels high that every walk, and SQLite's own parser, takes in its stride.
  static constexpr size_t ShortRun = 8;
  TSqlExprPtr Joined(const char* Op, std::vector<TSqlExprPtr>& Terms, size_t Begin, size_t End) {
    if (End - Begin > ShortRun) {
      const size_t Middle = Begin + (End - Begin) / 2;
      auto Left = Joined(Op, Terms, Begin, Middle);
      return Join(Op, std::move(Left), Joined(Op, Terms, Middle, End));
    }
    auto E = std::move(Terms[Begin]);
    for (size_t I = Begin + 1; I < End; ++I) E = Join(Op, std::move(E), std::move(Terms[I]));
    return E;
  }
  TSqlExprPtr Join(const char* Op, TSqlExprPtr Left, TSqlExprPtr Right) {
    auto E = Wrap(TSqlExprKind::Binary, Op, std::move(Left));
    E->End = Right->End;
    E->Args.push_back(std::move(Right));
    Measure(*E);
    return E;
  }

  TSqlExprPtr NotExpr() {
    if (Peek().IsWord("NOT")) {
      TNest Nest(*this);
      auto E = Make(TSqlExprKind::Unary, Next());
      E->Op = "NOT";
      E->Args.push_back(NotExpr());
      Close(*E);
      return E;
    }
    return Comparison();
  }

  TSqlExprPtr Comparison() {
    auto L = Additive();
    for (;;) {
      const TSqlToken& T = Peek();
      if (T.Kind == TSqlTokenKind::Symbol && (T.Text == "=" || T.Text == "<>" || T.Text == "<" ||
                                              T.Text == ">" || T.Text == "<=" || T.Text == ">=")) {
        std::string Op = Next().Text;
        L = Wrap(TSqlExprKind::Binary, Op, std::move(L));
        L->Args.push_back(Additive());
        Close(*L);
        continue;
      }
      if (T.IsWord("IS")) {
        Next();
        bool Not = AcceptWord("NOT");
        ExpectWord("NULL");
        L = Wrap(TSqlExprKind::IsNull, "", std::move(L));
        L->Not = Not;
        Close(*L);
        continue;
      }
      bool Not = false;
      if (T.IsWord("NOT") &&
          (Peek(1).IsWord("LIKE") || Peek(1).IsWord("BETWEEN") || Peek(1).IsWord("IN"))) {
        Next();
        Not = true;
      }
      if (AcceptWord("LIKE")) {
        L = Wrap(TSqlExprKind::Binary, "LIKE", std::move(L));
        L->Not = Not;
        L->Args.push_back(Additive());
        if (AcceptWord("ESCAPE")) L->Args.push_back(Additive());
        Close(*L);
        continue;
      }
      if (AcceptWord("BETWEEN")) {
        L = Wrap(TSqlExprKind::Between, "", std::move(L));
        L->Not = Not;
        L->Args.push_back(Additive());
        ExpectWord("AND");
        L->Args.push_back(Additive());
        Close(*L);
        continue;
      }
      if (AcceptWord("IN")) {
        L = Wrap(TSqlExprKind::InList, "", std::move(L));
        L->Not = Not;
        ExpectSymbol("(");
        if (Peek().IsWord("SELECT"))
          RaiseSqlErrorAt("Sentencia no soportada: 'SELECT' anidado", Peek().Pos);
        do L->Args.push_back(Expression());
        while (AcceptSymbol(","));
        ExpectSymbol(")");
        Close(*L);
        continue;
      }
      if (Not) Fail();
      return L;
    }
  }

  TSqlExprPtr Additive() {
    auto L = Multiplicative();
    while (Peek().IsSymbol("+") || Peek().IsSymbol("-")) {
      std::string Op = Next().Text;
      L = Wrap(TSqlExprKind::Binary, Op, std::move(L));
      L->Args.push_back(Multiplicative());
      Close(*L);
    }
    return L;
  }

  TSqlExprPtr Multiplicative() {
    auto L = Concat();
    while (Peek().IsSymbol("*") || Peek().IsSymbol("/") || Peek().IsSymbol("%")) {
      std::string Op = Next().Text;
      L = Wrap(TSqlExprKind::Binary, Op, std::move(L));
      L->Args.push_back(Concat());
      Close(*L);
    }
    return L;
  }

  TSqlExprPtr Concat() {
    auto L = Unary();
    while (AcceptSymbol("||")) {
      L = Wrap(TSqlExprKind::Binary, "||", std::move(L));
      L->Args.push_back(Unary());
      Close(*L);
    }
    return L;
  }

  TSqlExprPtr Unary() {
    if (Peek().IsSymbol("-") || Peek().IsSymbol("+")) {
      TNest Nest(*this);
      const TSqlToken& T = Next();
      auto E = Make(TSqlExprKind::Unary, T);
      E->Op = T.Text;
      E->Args.push_back(Unary());
      Close(*E);
      return E;
    }
    return Primary();
  }

  TSqlExprPtr Primary() {
    const TSqlToken& T = Peek();
    switch (T.Kind) {
      case TSqlTokenKind::Integer:
      case TSqlTokenKind::Float: {
        auto E = Make(TSqlExprKind::Number, Next());
        E->Text = T.Text;
        E->IsFloat = T.Kind == TSqlTokenKind::Float;
        return E;
      }
      case TSqlTokenKind::String: {
        auto E = Make(TSqlExprKind::String, Next());
        E->Text = T.Text;
        return E;
      }
      case TSqlTokenKind::Symbol:
        if (T.IsSymbol("(")) {
          TNest Nest(*this);
          Next();
          if (Peek().IsWord("SELECT"))
            RaiseSqlErrorAt("Sentencia no soportada: 'SELECT' anidado", Peek().Pos);
          const size_t Begin = T.Offset;
          const int Pos = T.Pos;
          auto E = Expression();
          ExpectSymbol(")");
          // Keep the parentheses in the written range, so names of items read as written.
          E->Begin = Begin;
          E->Pos = Pos;
          Close(*E);
          return E;
        }
        Fail();
      case TSqlTokenKind::End:
        Fail();
      case TSqlTokenKind::Ident:
      case TSqlTokenKind::QuotedIdent:
        break;
    }
    if (T.Kind == TSqlTokenKind::Ident) {
      if (T.IsWord("NULL")) return Make(TSqlExprKind::Null, Next());
      if (T.IsWord("TRUE") || T.IsWord("FALSE")) {
        auto E = Make(TSqlExprKind::Boolean, T);
        E->Text = T.IsWord("TRUE") ? "1" : "0";
        Next();
        return E;
      }
      if (T.IsWord("CASE")) return CaseExpr();
      if (IsSqlReservedWord(T.Text)) Fail();
      if (Peek(1).IsSymbol("(")) return FunctionCall();
    }
    // A name: field, "table"."field", or a lone double-quoted text.
    const TSqlToken& First = Next();
    if (Peek().IsSymbol(".")) {
      Next();
      const TSqlToken& Field = ExpectName();
      auto E = Make(TSqlExprKind::Column, First);
      E->Qualifier = First.Text;
      E->QualifierPos = First.Pos;
      E->Text = Field.Text;
      E->NamePos = Field.Pos;
      Close(*E);
      return E;
    }
    auto E =
        Make(First.Kind == TSqlTokenKind::QuotedIdent ? TSqlExprKind::Quoted : TSqlExprKind::Column,
             First);
    E->Text = First.Text;
    E->NamePos = First.Pos;
    return E;
  }

  TSqlExprPtr FunctionCall() {
    TNest Nest(*this);
    const TSqlToken& Name = Next();
    auto E = Make(TSqlExprKind::Function, Name);
    E->Op = UpperCase(Name.Text);
    ExpectSymbol("(");
    if (AcceptSymbol("*")) {
      E->Star = true;
    } else if (!Peek().IsSymbol(")")) {
      if (AcceptWord("DISTINCT"))
        E->Distinct = true;
      else
        AcceptWord("ALL");
      E->Args.push_back(Expression());
      if (E->Op == "SUBSTRING" && Peek().IsWord("FROM")) {
        // SUBSTRING(x FROM a [FOR b])
        Next();
        E->Args.push_back(Expression());
        if (AcceptWord("FOR")) E->Args.push_back(Expression());
      } else {
        while (AcceptSymbol(",")) E->Args.push_back(Expression());
      }
    }
    ExpectSymbol(")");
    Close(*E);
    return E;
  }

  TSqlExprPtr CaseExpr() {
    TNest Nest(*this);
    auto E = Make(TSqlExprKind::Case, Next());
    if (!Peek().IsWord("WHEN")) {
      E->HasOperand = true;
      E->Args.push_back(Expression());
    }
    if (!Peek().IsWord("WHEN")) Fail();
    while (AcceptWord("WHEN")) {
      E->Args.push_back(Expression());
      ExpectWord("THEN");
      E->Args.push_back(Expression());
    }
    if (AcceptWord("ELSE")) {
      E->HasElse = true;
      E->Args.push_back(Expression());
    }
    ExpectWord("END");
    Close(*E);
    return E;
  }
};

}  // namespace

TSqlStatement ParseSql(std::string_view Sql) {
  return TSqlParser(Sql).Statement();
}

}  // namespace kv
