// Ordered lookups in a database, by position, by neighbour and by key, and
// the sort keys of records and values.
#include "Volume.h"

namespace tbm::store {
namespace {

bool FindValue(const std::vector<StoredProperty>& props, CEPROPID id,
               std::span<const std::uint8_t>* value) {
  for (const auto& p : props) {
    if (p.id == id) {
      *value = p.value;
      return true;
    }
  }
  return false;
}

}  // namespace

// Natural order is kept as a slot of its own for a database without sort
// orders (the delete table); a database with sort orders is walked in
// natural order by scanning its records.
std::pair<Volume::OrderStatements*, int> Volume::Order(CEOID db, int slot) {
  if (slot != kNaturalOrder) return {&keyed_, slot};
  const DatabaseInfo* info = Database(db);
  if (info && info->sorts.empty()) return {&keyed_, kNaturalSlot};
  return {&natural_, kNaturalOrder};
}

SortKey Volume::KeyOfValue(const SORTORDERSPEC& spec, std::span<const std::uint8_t> valueBytes) {
  return keyMaker_.Make(spec, valueBytes);
}

SortKey Volume::KeyOf(const DatabaseInfo& info, int slot, std::span<const std::uint8_t> image) {
  if (slot == kNaturalOrder || slot == kNaturalSlot ||
      slot >= static_cast<int>(info.sorts.size())) {
    return {};
  }
  const SORTORDERSPEC& spec = info.sorts[static_cast<std::size_t>(slot)];
  auto props = DecodeRecordImage(image);
  std::span<const std::uint8_t> value;
  if (props && FindValue(*props, spec.propid, &value)) return keyMaker_.Make(spec, value);
  // A damaged image sorts as a record lacking the property; reading it
  // reports the damage.
  return keyMaker_.Make(spec, std::nullopt);
}

std::optional<OrderRow> Volume::RowFrom(Statement& s, int rc, Status* failure) {
  if (rc == SQLITE_DONE) {
    Fail(failure, ERROR_NO_MORE_ITEMS, "no record is there");
    return std::nullopt;
  }
  if (rc != SQLITE_ROW) {
    SqlFail(failure, "cannot seek");
    return std::nullopt;
  }
  OrderRow row;
  row.oid = static_cast<CEOID>(s.Int(0));
  const auto key = s.Blob(1);
  row.key.assign(key.begin(), key.end());
  const auto image = s.Blob(2);
  row.image.assign(image.begin(), image.end());
  return row;
}

std::optional<OrderRow> Volume::AtPosition(CEOID db, int slot, std::uint32_t position, bool fromEnd,
                                           Status* failure) {
  auto [order, resolved] = Order(db, slot);
  OrderStatements& o = *order;
  slot = resolved;
  Statement& s = fromEnd ? o.atEnd : o.atStart;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, slot);
  s.BindInt(5, position);
  return RowFrom(s, s.Step(), failure);
}

std::optional<OrderRow> Volume::Following(CEOID db, int slot, const SortKey& key, CEOID oid,
                                          std::uint32_t skip, bool backwards, Status* failure) {
  auto [order, resolved] = Order(db, slot);
  Statement& s = backwards ? order->before : order->after;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, resolved);
  s.BindBlob(3, key);
  s.BindInt(4, oid);
  s.BindInt(5, skip);
  s.BindInt(6, 1);
  return RowFrom(s, s.Step(), failure);
}

bool Volume::FollowingRows(CEOID db, int slot, const SortKey& key, CEOID oid, std::uint32_t limit,
                           std::vector<OrderRow>* rows, Status* failure) {
  auto [order, resolved] = Order(db, slot);
  Statement& s = order->after;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, resolved);
  s.BindBlob(3, key);
  s.BindInt(4, oid);
  s.BindInt(5, 0);
  s.BindInt(6, limit);
  rows->clear();
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    auto row = RowFrom(s, rc, failure);
    rows->push_back(std::move(*row));
  }
  if (rc != SQLITE_DONE) return SqlFail(failure, "cannot seek");
  return true;
}

std::optional<OrderRow> Volume::FirstWithKey(CEOID db, int slot, const SortKey& key,
                                             Status* failure) {
  StatementUse use(keyEqual_);
  keyEqual_.BindInt(1, db);
  keyEqual_.BindInt(2, slot);
  keyEqual_.BindBlob(3, key);
  return RowFrom(keyEqual_, keyEqual_.Step(), failure);
}

std::optional<OrderRow> Volume::NearestKey(CEOID db, int slot, const SortKey& key, bool below,
                                           Status* failure) {
  Statement& s = below ? keyBelow_ : keyAbove_;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, slot);
  s.BindBlob(3, key);
  return RowFrom(s, s.Step(), failure);
}

std::optional<std::uint32_t> Volume::PositionOf(CEOID db, int slot, const SortKey& key, CEOID oid,
                                                Status* failure) {
  auto [order, resolved] = Order(db, slot);
  OrderStatements& o = *order;
  slot = resolved;
  StatementUse use(o.countBefore);
  o.countBefore.BindInt(1, db);
  o.countBefore.BindInt(2, slot);
  o.countBefore.BindBlob(3, key);
  o.countBefore.BindInt(4, oid);
  if (o.countBefore.Step() != SQLITE_ROW) {
    SqlFail(failure, "cannot count records");
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(o.countBefore.Int(0));
}

}  // namespace tbm::store
