#include <sqlite3.h>

#include <nlohmann/json.hpp>
#include <set>

#include "engine/cell_chunk.h"
#include "engine/sql.h"
#include "engine/store.h"
#include "engine/store_history.h"

namespace tabulix {

namespace fs = std::filesystem;
using namespace storage;

// --- saving -------------------------------------------------------------------

template <class T>
bool Context::slotsChanged(const std::vector<Slot<T>>& slots) {
  for (auto& s : slots)
    if (s.deleted || !s.saved || !(*s.saved == *s.rec)) return true;
  return false;
}

bool Context::hasChanges() {
  if (!deletedColumnNums_.empty()) return true;
  for (auto& [k, c] : chunks_)
    if (c->dirty) return true;
  return slotsChanged(metadata_) || slotsChanged(columns_) || slotsChanged(rows_) ||
         slotsChanged(analyses_) || slotsChanged(wheres_);
}

namespace {

int64_t idOf(const Record* r) { return r ? r->objectID.rowid : 0; }

}  // namespace

// Keeps the images of every stored key the pending changes will write:
// changed and deleted records, the variable lists of changed analyses and
// of those that lose a deleted variable, dirty chunks and the chunks of
// deleted variables. New records are recorded as absent once they have ids.
void Context::recordBeforeImages(HistoryRecorder& history) {
  auto touched = [](auto& s) {
    return !s.rec->objectID.isTemporary() && (s.deleted || !s.saved || !(*s.saved == *s.rec));
  };
  for (auto& s : metadata_)
    if (touched(s)) history.capture({ImageTable::Metadata, s.rec->objectID.rowid});
  for (auto& s : columns_)
    if (touched(s)) {
      history.capture({ImageTable::Columns, s.rec->objectID.rowid});
      if (s.deleted) {
        Stmt users(db_, "SELECT DISTINCT analysis FROM analysis_columns WHERE \"column\"=?");
        users.bindInt64(1, s.rec->objectID.rowid);
        while (users.step()) history.capture({ImageTable::AnalysisColumns, users.int64(0)});
      }
    }
  for (auto& s : analyses_)
    if (touched(s)) {
      history.capture({ImageTable::Analyses, s.rec->objectID.rowid});
      history.capture({ImageTable::AnalysisColumns, s.rec->objectID.rowid});
    }
  for (auto& s : wheres_)
    if (touched(s)) history.capture({ImageTable::WhereClauses, s.rec->objectID.rowid});
  for (auto& s : rows_)
    if (touched(s)) history.capture({ImageTable::Rows, s.rec->objectID.rowid});
  for (int32_t n : deletedColumnNums_) {
    Stmt chunks(db_, "SELECT firstRow FROM cell_chunks WHERE colNum=?");
    chunks.bindInt64(1, n);
    while (chunks.step()) history.capture({ImageTable::CellChunks, n, chunks.int64(0)});
  }
  for (auto& [k, c] : chunks_)
    if (c->dirty) history.capture({ImageTable::CellChunks, k.colNum, k.first});
}

void Context::save() {
  if (!db_) {
    if (hasChanges()) throw StoreError("No workspace is open", "nothing to save to");
    return;
  }
  if (!hasChanges()) return;
  if (coordinator_->access() == StoreAccess::ReadOnly)
    throw StoreError("The workspace is open read-only", "changes were not saved");
  // Whatever leaves this block before the commit (a store error, a text
  // the JSON encoder refuses, an allocation failure) rolls the transaction
  // back and takes back the identities given on the way, so that the
  // changes stay pending as they were and the next save starts clean.
  struct Rollback {
    sqlite3* db;
    std::vector<Record*> given;
    int64_t* stepId;
    int64_t stepIdBefore;
    bool committed = false;
    ~Rollback() {
      if (committed) return;
      if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      for (Record* r : given) r->objectID.rowid = 0;
      *stepId = stepIdBefore;
    }
  } guard{db_, {}, &stepId_, stepId_};
  std::vector<Record*>& given = guard.given;
  {
    exec(db_, "BEGIN IMMEDIATE");
    // Inside a step, the images of everything this save touches are kept
    // first, in this transaction: the history and the data stay one.
    std::optional<HistoryRecorder> history;
    if (stepDepth_ > 0) {
      if (!stepId_ || !stepIsNewest(db_, stepId_)) stepId_ = startStep(db_, stepName_);
      history.emplace(db_, stepId_);
      recordBeforeImages(*history);
    }
    // New records first get their row ids, so that relationships can refer
    // to them below. An id is never one the history names: undoing a
    // deletion must not overwrite a record made since.
    auto assign = [&](auto& slots, ImageTable table, const char* sql) {
      Stmt ins(db_, sql);
      int64_t next = 0;
      for (auto& s : slots) {
        if (s.deleted || !s.rec->objectID.isTemporary()) continue;
        if (!next) next = nextRecordId(db_, table);
        ins.bindInt64(1, next);
        ins.run();
        given.push_back(s.rec.get());
        s.rec->objectID.rowid = next++;
        if (history) {
          history->absent({table, s.rec->objectID.rowid});
          if (table == ImageTable::Analyses)
            history->absent({ImageTable::AnalysisColumns, s.rec->objectID.rowid});
        }
      }
    };
    assign(metadata_, ImageTable::Metadata, "INSERT INTO metadata(id, key) VALUES(?, NULL)");
    assign(columns_, ImageTable::Columns, "INSERT INTO columns(id, name) VALUES(?, NULL)");
    assign(analyses_, ImageTable::Analyses, "INSERT INTO analyses(id, name) VALUES(?, NULL)");
    assign(wheres_, ImageTable::WhereClauses, "INSERT INTO where_clauses(id, x) VALUES(?, NULL)");

    auto removeDeleted = [&](auto& slots, const char* sql) {
      Stmt del(db_, sql);
      for (auto& s : slots)
        if (s.deleted && !s.rec->objectID.isTemporary()) {
          del.bindInt64(1, s.rec->objectID.rowid);
          del.run();
        }
    };
    removeDeleted(metadata_, "DELETE FROM metadata WHERE id=?");
    removeDeleted(columns_, "DELETE FROM columns WHERE id=?");
    removeDeleted(analyses_, "DELETE FROM analyses WHERE id=?");
    removeDeleted(wheres_, "DELETE FROM where_clauses WHERE id=?");
    removeDeleted(rows_, "DELETE FROM rows WHERE id=?");
    {
      Stmt del(db_, "DELETE FROM analysis_columns WHERE \"column\"=?");
      for (auto& s : columns_)
        if (s.deleted && !s.rec->objectID.isTemporary()) {
          del.bindInt64(1, s.rec->objectID.rowid);
          del.run();
        }
    }
    {
      Stmt del(db_, "DELETE FROM cell_chunks WHERE colNum=?");
      for (int32_t n : deletedColumnNums_) {
        del.bindInt64(1, n);
        del.run();
      }
    }
    {
      Stmt up(db_, ("UPDATE metadata SET " + assignments(kMetadataFields) + " WHERE id=?").c_str());
      for (auto& s : metadata_) {
        if (s.deleted || (s.saved && *s.saved == *s.rec)) continue;
        bindFields(up, kMetadataFields, *s.rec, 1);
        up.bindInt64(static_cast<int>(kMetadataFields.size()) + 1, s.rec->objectID.rowid);
        up.run();
      }
    }
    {
      Stmt up(db_, ("UPDATE columns SET " + assignments(kColumnFields) + " WHERE id=?").c_str());
      for (auto& s : columns_) {
        if (s.deleted || (s.saved && *s.saved == *s.rec)) continue;
        bindFields(up, kColumnFields, *s.rec, 1);
        up.bindInt64(static_cast<int>(kColumnFields.size()) + 1, s.rec->objectID.rowid);
        up.run();
      }
    }
    {
      Stmt up(db_,
              ("UPDATE analyses SET \"left\"=?, \"right\"=?, " + assignments(kAnalysisFields) + " WHERE id=?")
                  .c_str());
      Stmt delCols(db_, "DELETE FROM analysis_columns WHERE analysis=?");
      Stmt insCol(db_,
                  "INSERT OR IGNORE INTO analysis_columns(analysis, \"column\", position) VALUES(?,?,?)");
      for (auto& s : analyses_) {
        if (s.deleted) {
          if (!s.rec->objectID.isTemporary()) {
            delCols.bindInt64(1, s.rec->objectID.rowid);
            delCols.run();
          }
          continue;
        }
        if (s.saved && *s.saved == *s.rec) continue;
        const Analysis& a = *s.rec;
        up.bindId(1, idOf(a.left));
        up.bindId(2, idOf(a.right));
        bindFields(up, kAnalysisFields, a, 3);
        up.bindInt64(static_cast<int>(kAnalysisFields.size()) + 3, a.objectID.rowid);
        up.run();
        delCols.bindInt64(1, a.objectID.rowid);
        delCols.run();
        int pos = 0;
        for (Column* c : a.columns) {
          insCol.bindInt64(1, a.objectID.rowid);
          insCol.bindInt64(2, idOf(c));
          insCol.bindInt64(3, pos++);
          insCol.run();
        }
      }
    }
    {
      Stmt up(db_, ("UPDATE where_clauses SET x=?, levels=?, whereOfAnalysis=?, where2OfAnalysis=?, " +
                    assignments(kWhereClauseFields) + " WHERE id=?")
                       .c_str());
      for (auto& s : wheres_) {
        if (s.deleted || (s.saved && *s.saved == *s.rec)) continue;
        const WhereClause& w = *s.rec;
        up.bindId(1, idOf(w.x));
        up.bind(2, w.levels ? OptText(nlohmann::json(*w.levels).dump()) : OptText());
        up.bindId(3, idOf(w.whereOfAnalysis));
        up.bindId(4, idOf(w.where2OfAnalysis));
        bindFields(up, kWhereClauseFields, w, 5);
        up.bindInt64(static_cast<int>(kWhereClauseFields.size()) + 5, w.objectID.rowid);
        up.run();
      }
    }
    {
      Stmt ins(db_, ("INSERT INTO rows(id, " + columnNames(kRowFields) + ") VALUES(?, ?)").c_str());
      Stmt up(db_, ("UPDATE rows SET " + assignments(kRowFields) + " WHERE id=?").c_str());
      int64_t next = 0;
      for (auto& s : rows_) {
        if (s.deleted) continue;
        if (s.rec->objectID.isTemporary()) {
          if (!next) next = nextRecordId(db_, ImageTable::Rows);
          ins.bindInt64(1, next);
          bindFields(ins, kRowFields, *s.rec, 2);
          ins.run();
          given.push_back(s.rec.get());
          s.rec->objectID.rowid = next++;
          if (history) history->absent({ImageTable::Rows, s.rec->objectID.rowid});
        } else if (s.saved && !(*s.saved == *s.rec)) {
          bindFields(up, kRowFields, *s.rec, 1);
          up.bindInt64(static_cast<int>(kRowFields.size()) + 1, s.rec->objectID.rowid);
          up.run();
        }
      }
    }
    {
      Stmt put(db_, "INSERT OR REPLACE INTO cell_chunks(colNum, firstRow, cells) VALUES(?,?,?)");
      for (auto& [k, c] : chunks_) {
        if (!c->dirty) continue;
        put.bindInt64(1, k.colNum);
        put.bindInt64(2, k.first);
        put.bindBlob(3, c->encode());
        put.run();
      }
    }
    if (history) history->finish();
    exec(db_, "COMMIT");
    guard.committed = true;
  }
  // The file now holds this state: it becomes the saved state.
  auto settle = [](auto& slots) {
    std::erase_if(slots, [](auto& s) { return s.deleted; });
    for (auto& s : slots) s.saved = *s.rec;
  };
  settle(metadata_);
  settle(columns_);
  settle(analyses_);
  settle(wheres_);
  settle(rows_);
  if (!rowsLoaded_) {
    savedRowCount_ += rows_.size();
    rows_.clear();
  }
  deletedColumnNums_.clear();
  for (auto& [k, c] : chunks_) {
    if (!c->dirty) continue;
    c->dirty = false;
    c->compact();
  }
}

}  // namespace tabulix
