#include "engine/store.h"

#include <sqlite3.h>

#include <nlohmann/json.hpp>
#include <set>

#include "engine/cell_chunk.h"
#include "engine/sql.h"

namespace tabulix {

namespace fs = std::filesystem;
using namespace storage;

// --- context ----------------------------------------------------------------

Context::Context(std::shared_ptr<StoreCoordinator> coordinator) : coordinator_(std::move(coordinator)) {
  reconnect();
}

Context::~Context() {
  if (db_) sqlite3_close(db_);
}

void Context::reconnect() {
  reset();
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
  if (auto file = coordinator_->storeFile()) {
    bool readOnly = coordinator_->access() == StoreAccess::ReadOnly;
    db_ = openConnection(*file, false, readOnly);
    if (!readOnly) {
      exec(db_, "PRAGMA journal_mode=DELETE");
      exec(db_, "PRAGMA synchronous=FULL");
    }
    // Reads through a memory map instead of a system call per page; the map
    // is capped so that several connections (import workers) on a large
    // workspace stay well under a gigabyte of resident memory.
    exec(db_, "PRAGMA mmap_size=67108864");
  }
}

void Context::setDurable(bool durable) {
  if (db_) exec(db_, durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
}

void Context::reset() {
  metadata_.clear();
  columns_.clear();
  rows_.clear();
  analyses_.clear();
  wheres_.clear();
  deletedColumnNums_.clear();
  chunks_.clear();
  recentChunks_.clear();
  loaded_ = false;
  rowsLoaded_ = false;
  savedRowCount_ = 0;
}

template <class T>
std::vector<T*> Context::live(std::vector<Slot<T>>& slots) {
  std::vector<T*> out;
  out.reserve(slots.size());
  for (auto& s : slots)
    if (!s.deleted) out.push_back(s.rec.get());
  return out;
}

template <class T>
T* Context::findById(std::vector<Slot<T>>& slots, const ObjectId& id) {
  if (id.isTemporary()) return nullptr;
  for (auto& s : slots)
    if (!s.deleted && s.rec->objectID == id) return s.rec.get();
  return nullptr;
}

template <>
std::vector<Metadata*> Context::records<Metadata>() {
  return allMetadata();
}
template <>
std::vector<Column*> Context::records<Column>() {
  return allColumns();
}
template <>
std::vector<Row*> Context::records<Row>() {
  return allRows();
}
template <>
std::vector<Analysis*> Context::records<Analysis>() {
  return allAnalyses();
}
template <>
std::vector<WhereClause*> Context::records<WhereClause>() {
  return allWhereClauses();
}

void Context::ensureLoaded() {
  if (!loaded_) loadRecords();
}

void Context::loadRecords() {
  loaded_ = true;
  if (!db_) return;
  std::unordered_map<int64_t, Column*> colById;
  std::unordered_map<int64_t, Analysis*> anaById;
  {
    Stmt s(db_, ("SELECT id, " + columnNames(kMetadataFields) + " FROM metadata ORDER BY id").c_str());
    while (s.step()) {
      auto m = std::make_unique<Metadata>();
      m->objectID = {Entity::Metadata, s.int64(0)};
      readFields(s, kMetadataFields, *m, 1);
      metadata_.push_back({std::move(m), std::nullopt, false});
      metadata_.back().saved = *metadata_.back().rec;
    }
  }
  {
    Stmt s(db_, ("SELECT id, " + columnNames(kColumnFields) + " FROM columns ORDER BY id").c_str());
    while (s.step()) {
      auto c = std::make_unique<Column>();
      c->objectID = {Entity::Column, s.int64(0)};
      readFields(s, kColumnFields, *c, 1);
      colById[c->objectID.rowid] = c.get();
      columns_.push_back({std::move(c), std::nullopt, false});
    }
  }
  auto col = [&](Stmt& s, int i) -> Column* {
    if (s.isNull(i)) return nullptr;
    auto it = colById.find(s.int64(i));
    return it == colById.end() ? nullptr : it->second;
  };
  {
    Stmt s(db_,
           ("SELECT id, \"left\", \"right\", " + columnNames(kAnalysisFields) + " FROM analyses ORDER BY id")
               .c_str());
    while (s.step()) {
      auto a = std::make_unique<Analysis>();
      a->objectID = {Entity::Analysis, s.int64(0)};
      a->left = col(s, 1);
      a->right = col(s, 2);
      readFields(s, kAnalysisFields, *a, 3);
      anaById[a->objectID.rowid] = a.get();
      analyses_.push_back({std::move(a), std::nullopt, false});
    }
  }
  {
    Stmt s(db_, "SELECT analysis, \"column\" FROM analysis_columns ORDER BY analysis, position");
    while (s.step()) {
      auto a = anaById.find(s.int64(0));
      Column* c = col(s, 1);
      if (a != anaById.end() && c) a->second->columns.push_back(c);
    }
  }
  {
    Stmt s(db_, ("SELECT id, x, levels, whereOfAnalysis, where2OfAnalysis, " +
                 columnNames(kWhereClauseFields) + " FROM where_clauses ORDER BY id")
                    .c_str());
    while (s.step()) {
      auto w = std::make_unique<WhereClause>();
      w->objectID = {Entity::WhereClause, s.int64(0)};
      w->x = col(s, 1);
      readFields(s, kWhereClauseFields, *w, 5);
      if (OptText lv = s.optText(2)) {
        auto j = nlohmann::json::parse(*lv, nullptr, false);
        if (j.is_array()) {
          std::vector<std::string> levels;
          for (auto& e : j)
            if (e.is_string()) levels.push_back(e.get<std::string>());
          w->levels = std::move(levels);
        }
      }
      auto ana = [&](int i) -> Analysis* {
        if (s.isNull(i)) return nullptr;
        auto it = anaById.find(s.int64(i));
        return it == anaById.end() ? nullptr : it->second;
      };
      w->whereOfAnalysis = ana(3);
      w->where2OfAnalysis = ana(4);
      if (w->whereOfAnalysis) w->whereOfAnalysis->wheres.push_back(w.get());
      if (w->where2OfAnalysis) w->where2OfAnalysis->wheres2.push_back(w.get());
      wheres_.push_back({std::move(w), std::nullopt, false});
    }
  }
  for (auto& s : columns_) s.saved = *s.rec;
  for (auto& s : analyses_) s.saved = *s.rec;
  for (auto& s : wheres_) s.saved = *s.rec;
  Stmt n(db_, "SELECT count(*) FROM rows");
  n.step();
  savedRowCount_ = static_cast<size_t>(n.int64(0));
}

std::vector<Metadata*> Context::allMetadata() {
  ensureLoaded();
  return live(metadata_);
}
std::vector<Column*> Context::allColumns() {
  ensureLoaded();
  return live(columns_);
}
std::vector<Analysis*> Context::allAnalyses() {
  ensureLoaded();
  return live(analyses_);
}
std::vector<WhereClause*> Context::allWhereClauses() {
  ensureLoaded();
  return live(wheres_);
}

std::vector<Row*> Context::allRows() {
  ensureLoaded();
  if (!rowsLoaded_ && db_) {
    std::vector<Slot<Row>> stored;
    stored.reserve(savedRowCount_ + rows_.size());
    Stmt s(db_, "SELECT id, num FROM rows ORDER BY id");
    while (s.step()) {
      auto r = std::make_unique<Row>();
      r->objectID = {Entity::Row, s.int64(0)};
      r->num = s.optInt(1);
      Row saved = *r;
      stored.push_back({std::move(r), saved, false});
    }
    for (auto& r : rows_) stored.push_back(std::move(r));
    rows_ = std::move(stored);
  }
  rowsLoaded_ = true;
  return live(rows_);
}

size_t Context::countRows() {
  ensureLoaded();
  size_t pending = 0;
  for (const auto& s : rows_) pending += s.deleted ? 0 : 1;
  return (rowsLoaded_ ? 0 : savedRowCount_) + pending;
}

Metadata* Context::insertMetadata() {
  ensureLoaded();
  metadata_.push_back({std::make_unique<Metadata>(), std::nullopt, false});
  metadata_.back().rec->objectID.entity = Entity::Metadata;
  return metadata_.back().rec.get();
}

Column* Context::insertColumn() {
  ensureLoaded();
  columns_.push_back({std::make_unique<Column>(), std::nullopt, false});
  columns_.back().rec->objectID.entity = Entity::Column;
  return columns_.back().rec.get();
}

Row* Context::insertRow(int32_t num) {
  ensureLoaded();
  rows_.push_back({std::make_unique<Row>(), std::nullopt, false});
  Row* r = rows_.back().rec.get();
  r->objectID.entity = Entity::Row;
  r->num = num;
  return r;
}

Analysis* Context::insertAnalysis() {
  ensureLoaded();
  analyses_.push_back({std::make_unique<Analysis>(), std::nullopt, false});
  analyses_.back().rec->objectID.entity = Entity::Analysis;
  return analyses_.back().rec.get();
}

WhereClause* Context::insertWhereClause() {
  ensureLoaded();
  wheres_.push_back({std::make_unique<WhereClause>(), std::nullopt, false});
  wheres_.back().rec->objectID.entity = Entity::WhereClause;
  return wheres_.back().rec.get();
}

namespace {
template <class T, class S>
S* slotOf(std::vector<S>& slots, const T* rec) {
  for (auto& s : slots)
    if (s.rec.get() == rec) return &s;
  return nullptr;
}
template <class T>
void eraseValue(std::vector<T*>& v, const T* x) {
  v.erase(std::remove(v.begin(), v.end(), x), v.end());
}
}  // namespace

void Context::deleteObject(WhereClause* where) {
  auto* s = slotOf(wheres_, where);
  if (!s || s->deleted) return;
  s->deleted = true;
  if (where->whereOfAnalysis) eraseValue(where->whereOfAnalysis->wheres, where);
  if (where->where2OfAnalysis) eraseValue(where->where2OfAnalysis->wheres2, where);
}

void Context::deleteObject(Analysis* analysis) {
  auto* s = slotOf(analyses_, analysis);
  if (!s || s->deleted) return;
  s->deleted = true;
  for (auto* list : {&analysis->wheres, &analysis->wheres2}) {
    auto copy = *list;
    for (WhereClause* w : copy) deleteObject(w);
  }
}

void Context::deleteObject(Column* column) {
  auto* s = slotOf(columns_, column);
  if (!s || s->deleted) return;
  s->deleted = true;
  for (auto& a : analyses_) {
    if (a.deleted) continue;
    if (a.rec->left == column) a.rec->left = nullptr;
    if (a.rec->right == column) a.rec->right = nullptr;
    eraseValue(a.rec->columns, column);
  }
  for (auto& w : wheres_)
    if (!w.deleted && w.rec->x == column) deleteObject(w.rec.get());
  if (column->num) {
    int32_t num = *column->num;
    // Cells belong to the column number; another live column may share the
    // number only in a damaged store, and then keeps its cells.
    bool shared = false;
    for (auto& c : columns_)
      if (!c.deleted && c.rec->num == column->num) shared = true;
    if (!shared) {
      for (auto it = chunks_.begin(); it != chunks_.end();)
        it = it->first.colNum == num ? chunks_.erase(it) : std::next(it);
      recentChunks_.clear();
      deletedColumnNums_.push_back(num);
    }
  }
}

void Context::deleteObject(Metadata* metadata) {
  if (auto* s = slotOf(metadata_, metadata)) s->deleted = true;
}

Column* Context::existingColumn(const ObjectId& id) {
  ensureLoaded();
  return findById(columns_, id);
}
Analysis* Context::existingAnalysis(const ObjectId& id) {
  ensureLoaded();
  return findById(analyses_, id);
}
WhereClause* Context::existingWhereClause(const ObjectId& id) {
  ensureLoaded();
  return findById(wheres_, id);
}
Metadata* Context::existingMetadata(const ObjectId& id) {
  ensureLoaded();
  return findById(metadata_, id);
}

}  // namespace tabulix
