// The records of a dataset over a database, read a window at a time (a TRecordCursor).
//
// A window is WindowRows consecutive records in the dataset's order, read by one statement: the
// first one with LIMIT, the next or previous one from a cached neighbour by a keyset predicate on
// the order's values (WHERE (k1, k2) > (?, ?) ORDER BY k1, k2 LIMIT n), the one holding a row whose
// place was counted (a row located) by keyset reads either side of it, a far one (a scroll bar
// dragged) by OFFSET from the nearest row whose place is known or from the nearer end. The last
// records are read backwards from the end without counting them all (RowFromEnd), until something
// asks for a place from the first. The order is the index fields, then the relation's own order,
// made total by the row identity (the primary key, a unique index over columns never empty, a row
// id, or a row number of a query's result), so that neighbours join exactly. At most CachedWindows
// windows are kept, the least recently used going first; counting, positions (RecNo, a bookmark's
// place), finding and the sums of a range of records are statements the database runs: the client
// never holds more than a bounded number of rows. Lookup fields into tables of the same database
// are read with the window, as subqueries of its statement.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "DbConnection.h"

namespace kv {

// One term of the records' order: a column of the relation (quoted, unqualified).
struct TDbSortTerm {
  std::string Column;
  bool Desc = false;
  bool NotNull = false;
};

// What a cursor reads: a table of the database, or the result of a query on it.
struct TDbRelation {
  // The table as statements name it, or a statement in parentheses.
  std::string From;
  // The table or the query, for messages.
  std::string Shown;
  // The columns the fields show, in order.
  std::vector<TDbColumnInfo> Columns;
  // The relation's own order, total (ending with the row identity).
  std::vector<TDbSortTerm> Order;
  // How many of the last terms of Order are the row identity.
  size_t IdentityTerms = 0;
  // The table's key and indexes (for IndexDefs).
  std::vector<std::string> PrimaryKey;
  std::vector<TDbIndexInfo> Indexes;
};

// The relation of a table of the database. Raises EDatabaseError naming the table and the
// database when there is none.
TDbRelation TableRelation(TDbConnection& Conn, const std::string& TableName);
// The relation of a local-SQL SELECT emitted for the database; Text gets the statement as
// translated. Raises ESQLError for a statement that is wrong.
TDbRelation QueryRelation(TDbConnection& Conn, const std::string& Sql, std::string* Text = nullptr);

class TDbCursor final : public TRecordCursor {
 public:
  static constexpr int64_t WindowRows = 128;
  static constexpr size_t CachedWindows = 24;

  TDbCursor(TDataSet& Owner, std::shared_ptr<TDbConnection> Conn, TDbRelation Relation);
  ~TDbCursor() override;

  TDbConnection& Connection() const { return *FConn; }
  const TDbRelation& Relation() const { return FRelation; }
  // Orders the records by these columns (ascending) before the relation's own order.
  void SetOrderColumns(const std::vector<int>& Columns);
  // Keeps only the rows whose Columns hold Values (a master's record: equal values, empty for
  // empty); Columns empty: every row. None: no row at all (a master without records).
  void SetRestriction(const std::vector<int>& Columns, const std::vector<Variant>& Values);
  void SetNoRows();
  // The next Invalidate keeps the count when the records' conditions are then the ones they are
  // now: only their order changes, which cannot change how many there are. False: not (a
  // change of order that failed before the records were read again).
  void KeepCountThroughOrder(bool Keep = true);
  // The SQL of a field's value over the relation named Alias; raises EDatabaseError for a field
  // the database cannot compute (calculated; a lookup into another database or a table file).
  std::string FieldSql(const TField& Field, const std::string& Alias, int Depth = 0) const;
  // Statements run so far, and the rows held now (what a move costs, what the client keeps).
  int64_t StatementsRun() const { return FStatements; }
  size_t RowsHeld() const;
  // Rows whose identity a bookmark names (bookmarks handed out so far).
  size_t BookmarksKnown() const { return FKeys.size(); }

  // The records in order, Limit at a time, read past the windows and bookmarks and kept by no
  // one but the caller (a copy of every record holds one block): the first block when After is
  // empty, else the records after the last row of After (a block this read before). The
  // value of a field is at CellOf(Field) of each row; Value(Rows, Row, Cell, Type) reads it.
  void ReadBlock(const TDbRows& After, int64_t Limit, TDbRows& Out);
  int CellOf(const TField& Field) const;
  Variant Value(const TDbRows& Rows, size_t Row, int Cell, TFieldType Type) const {
    return FConn->ToVariant(Rows.At(Row, Cell), Type);
  }

  int ColumnIndex(std::string_view Name) const override;
  void SetFilter(const std::string& Text, bool Active, TFilterOptions Options) override;
  void Invalidate() override;
  int64_t Count() override;
  int64_t KnownCount() const override { return FCount.value_or(-1); }
  bool SumRecords(const std::vector<const TField*>& Fields, int64_t From, int64_t To,
                  std::vector<double>& Sums) override;
  TBookmark RowAt(int64_t Index) override;
  TBookmark RowFromEnd(int64_t Back) override;
  int64_t KnownPlaceFromEnd(TBookmark Row) const override;
  int64_t IndexOf(TBookmark Row) override;
  Variant Value(const TField& Field, TBookmark Row) override;
  bool ReadsLookup(const TField& Field) const override;
  TBookmark Find(const std::string& Text, int64_t From, bool Forward) override;
  TBookmark LocateRow(const std::vector<std::string>& KeyFields, const std::vector<Variant>& Values,
                      TLocateOptions Options, TScope Scope) override;

 private:
  struct TWindow {
    TDbRows Rows;
    std::vector<TBookmark> Marks;
    uint64_t Used = 0;
  };
  // Where a value of a row is: its window's rows, or a row read alone.
  struct TRowRef {
    const TDbRows* Rows = nullptr;
    size_t Row = 0;
  };

  TDataSet& FOwner;
  std::shared_ptr<TDbConnection> FConn;
  TDbRelation FRelation;
  const TSqlDialect& FDialect;
  // The order of the records: the index columns, then the relation's order.
  std::vector<TDbSortTerm> FSort;
  // Where each identity term lies among the sort terms.
  std::vector<size_t> FIdentityAt;
  // Lookup fields read with the rows: the field and its subquery.
  std::vector<std::pair<const TField*, std::string>> FLookups;
  std::vector<int> FRestrictColumns;
  std::vector<Variant> FRestrictValues;
  bool FNoRows = false;
  std::string FFilterText;
  bool FFilterActive = false;
  TFilterOptions FFilterOptions = 0;

  std::map<int64_t, TWindow> FWindows;
  // Windows counted from the end while the records' number is not known: window n holds the
  // records n*WindowRows ... n*WindowRows+WindowRows-1 places before the last, the last first.
  std::map<int64_t, TWindow> FTail;
  std::unordered_map<TBookmark, int64_t> FTailPlaces;  // rows of FTail: records after them
  uint64_t FUseClock = 0;
  std::optional<int64_t> FCount;
  // The records' conditions when the count is to be kept through a change of order.
  std::optional<std::pair<std::string, std::vector<TSqlParam>>> FCountView;
  std::unordered_map<TBookmark, int64_t> FPositions;    // cached rows and positions counted
  std::unordered_map<TBookmark, TDbRows> FLoose;        // rows read alone (bounded)
  std::unordered_map<std::string, TBookmark> FLocated;  // lookups into this dataset (bounded)
  std::unordered_set<TBookmark> FRecordRows;            // rows found among the records (bounded)
  // Bookmarks: the identity of each row handed out, by number, and the number of each identity.
  std::vector<std::string> FKeys;
  std::unordered_map<std::string, TBookmark> FIds;
  int64_t FStatements = 0;

  // The columns a row is read with: the sort terms, the fields' columns, the lookups.
  std::string SelectList() const;
  // The condition the records meet (restriction, filter), with its parameters; "" for none.
  std::string ViewSql(TSqlParams& P, bool Restricted = true) const;
  // The records' conditions as a statement and its values, for comparing two of them.
  std::optional<std::pair<std::string, std::vector<TSqlParam>>> ViewKey() const;
  // Rows strictly after (After) or before the row whose sort key is at Row of Rows; with
  // Inclusive that row too.
  std::string KeysetSql(const TDbRows& Rows, size_t Row, bool After, TSqlParams& P,
                        bool Inclusive = false) const;
  std::string OrderBy(bool Reversed) const;
  // Runs SELECT SelectList FROM the relation WHERE the conditions (joined by AND) ...
  void Read(const std::vector<std::string>& Conditions, const TSqlParams& P, bool Reversed,
            int64_t Limit, int64_t Offset, TDbRows& Out);
  void Run(const std::string& Sql, const TSqlParams& P, TDbRows& Out);
  TWindow* Window(int64_t Number);
  // Window Number of Windows, read by Load when not cached.
  TWindow* Cached(std::map<int64_t, TWindow>& Windows, int64_t Number,
                  void (TDbCursor::*Load)(int64_t));
  // Gives the rows of W their bookmarks and their places, Start on, in Places.
  void MarkRows(TWindow& W, int64_t Start, std::unordered_map<TBookmark, int64_t>& Places);
  // Keeps at most Limit of Windows (Keep among them), the least recently used going first with
  // the places of their rows.
  static void Evict(std::map<int64_t, TWindow>& Windows, size_t Limit, int64_t Keep,
                    std::unordered_map<TBookmark, int64_t>& Places);
  TWindow* TailWindow(int64_t Number);
  void LoadTail(int64_t Number);
  void LoadWindow(int64_t Number);
  // Reads window Number from the nearest row whose place is known (by its key, with an OFFSET
  // no longer than the distance to it); false when none is nearer than an end of the records.
  bool ReadFromKnownRow(int64_t Number, TDbRows& Out);
  // The bookmark of row Row of Rows, its identity interned.
  TBookmark Intern(const TDbRows& Rows, size_t Row);
  // The row of a bookmark, read by its identity when no window holds it.
  TRowRef RowOf(TBookmark Row);
  // The first row read by a statement, kept as a row read alone; NoBookmark when none.
  TBookmark KeepFirst(TDbRows& Rows);
  // Row was found by a statement under the records' conditions: it is one of them.
  void KnownRecord(TBookmark Row);
  std::string IdentitySql(TBookmark Row, TSqlParams& P) const;
};

}  // namespace kv
