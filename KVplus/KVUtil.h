// Record positions: saving which record is current in a dataset as field names and values,
// and moving a dataset (and the masters of a detail table) back to such a record.
#pragma once

#include <string>

#include "DB.h"
#include "DBTables.h"
#include "Variant.h"

#pragma GCC visibility push(default)
namespace kv {

// A saved record position: the ";"-joined names of the dataset's string, integer and float data
// fields and their values (a variant array from 0, or the bare value when the dataset has
// exactly one field).
struct TPos {
  std::string Fields;
  Variant values;
};

// Saves the current record of DataSet into Pos; always true. Raises Exception when the dataset
// has no fields or none that can identify a record.
bool GetPos(TPos& Pos, TDataSet* DataSet);

// Moves DataSet to the record Pos describes, using only the names DataSet has. An exact TTable
// with MasterSlave false may also move its masters; the result is that of the final locate.
bool GotoPos(const TPos& Pos, TDataSet* DataSet, bool MasterSlave);

// Values of the key of the current record: a table's primary index fields or all the fields of a
// query; a bare value for one field, an array otherwise; Null when there is no key.
Variant GetKeyValues(TDataSet* DataSet);

// Names of the key fields (see GetKeyValues) joined by ";"; empty when there is no key.
std::string GetKeyFields(TDataSet* DataSet);

// Moves target, and the masters of a detail table, to the record current in source.
void Iguala_posicion(TDataSet* target, TDataSet* source);

// Locate on Table that may leave the current master: a detail record of another master moves
// the master (and its masters) to that master record first.
bool locateKV(TTable* Table, const std::string& KeyFields, const Variant& KeyValues,
              TLocateOptions Options);

// Cuts a detail table's master link (its master data source and MasterFields) for the cut's
// lifetime, so the table shows all its records. The link comes back, data source first, when
// Restore is called (which lets a failure through) or when the cut ends, also through an
// exception (which then keeps its own error).
class TMasterLinkCut {
 public:
  explicit TMasterLinkCut(TTable* Table);
  ~TMasterLinkCut();
  TMasterLinkCut(const TMasterLinkCut&) = delete;
  TMasterLinkCut& operator=(const TMasterLinkCut&) = delete;
  void Restore();

 private:
  TTable* FTable;
  TDataSource* FSource;
  std::string FFields;
  bool FRestored = false;
};

// ---- internals of the routines above, declared here for their tests only
// Fills Pos from the current record of DataSet (the work of GetPos).
void GetAllFields(TPos& Pos, TDataSet* DataSet);
// Values of the fields named in FieldNames (";"-joined) in the current record: an array with one
// element per name (Unassigned for names DataSet lacks), or the bare value for a single name.
void GetFieldsValues(const std::string& FieldNames, TDataSet* DataSet, Variant& Values);

}  // namespace kv
#pragma GCC visibility pop
