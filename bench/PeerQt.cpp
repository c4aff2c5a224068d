// The Qt peer: what a Qt program would use to filter a million rows, a QSortFilterProxyModel
// over a QStandardItemModel. Without Qt the peer reports itself unavailable.
#include "BenchSupport.h"

#ifdef KVBENCH_QT
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

using namespace kv;

namespace {
// Accepts the rows whose column 0 equals the wanted text exactly.
class TEqualsProxy : public QSortFilterProxyModel {
 public:
  void SetWanted(const QString& V) {
    FWanted = V;
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int Row, const QModelIndex& Parent) const override {
    return sourceModel()->data(sourceModel()->index(Row, 0, Parent)).toString() == FWanted;
  }

 private:
  QString FWanted;
};
}  // namespace

struct TQtFilterPeer::TImpl {
  QStandardItemModel Model;
  TEqualsProxy Proxy;
};

TQtFilterPeer::TQtFilterPeer(const std::vector<std::string>& Values) : FImpl(new TImpl) {
  FImpl->Model.setColumnCount(1);
  FImpl->Model.setRowCount(static_cast<int>(Values.size()));
  for (size_t I = 0; I < Values.size(); ++I)
    FImpl->Model.setItem(static_cast<int>(I), 0,
                         new QStandardItem(QString::fromUtf8(
                             Values[I].data(), static_cast<qsizetype>(Values[I].size()))));
  FImpl->Proxy.setSourceModel(&FImpl->Model);
}

TQtFilterPeer::~TQtFilterPeer() {
  delete FImpl;
}

bool TQtFilterPeer::Available() {
  return true;
}

int TQtFilterPeer::Filter(const std::string& Value) {
  FImpl->Proxy.SetWanted(QString::fromStdString(Value));
  return FImpl->Proxy.rowCount();
}

int TQtFilterPeer::FindFirst(const std::string& Value) {
  // A find over the model: QAbstractItemModel::match from the top for the first exact hit.
  QModelIndexList Hits =
      FImpl->Model.match(FImpl->Model.index(0, 0), Qt::DisplayRole, QString::fromStdString(Value),
                         1, Qt::MatchExactly | Qt::MatchCaseSensitive);
  return Hits.isEmpty() ? -1 : Hits.front().row();
}

#else

struct TQtFilterPeer::TImpl {};
TQtFilterPeer::TQtFilterPeer(const std::vector<std::string>&) {}
TQtFilterPeer::~TQtFilterPeer() = default;
bool TQtFilterPeer::Available() {
  return false;
}
int TQtFilterPeer::Filter(const std::string&) {
  return -1;
}
int TQtFilterPeer::FindFirst(const std::string&) {
  return -1;
}

#endif
