#include "import/read_ahead.h"

#include <cassert>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tabulix {

namespace {

// One report of the reader. Events are kept with their batch and reused, so
// a line's strings keep their storage from batch to batch.
struct Event {
  enum class Kind { Start, Description, Line, Note, Finish };
  Kind kind = Kind::Line;
  uint64_t line = 0;
  size_t fieldCount = 0;  // of `fields`, for a line
  std::vector<std::string> fields;
  ImportFileDescription description;
  std::string note;
  CsvError outcome;
};

struct Batch {
  std::vector<Event> events;
  size_t used = 0;    // events filled
  size_t fields = 0;  // fields in its lines
  std::optional<double> fraction;

  Event& next(Event::Kind kind) {
    if (used == events.size()) events.emplace_back();
    Event& e = events[used++];
    e.kind = kind;
    return e;
  }
};

// A batch is handed over at this many lines or fields, whichever comes
// first: a few hundred lines of a narrow file, some dozens of a wide one.
constexpr size_t kBatchLines = 512;
constexpr size_t kBatchFields = size_t{1} << 15;
// Batches filled and not yet delivered, at most.
constexpr size_t kMaxWaiting = 4;

class Relay : public ImportLineSink {
 public:
  explicit Relay(ImportReader& reader) : reader_(reader) {}

  // --- the reading thread ---

  void readerDidStart() override {
    filling().next(Event::Kind::Start);
    hand();
  }
  void readerDidDescribeFile(const ImportFileDescription& description) override {
    filling().next(Event::Kind::Description).description = description;
  }
  bool readerDidReadLine(uint64_t line, std::span<const std::string> fields) override {
    if (stopped_.load(std::memory_order_relaxed)) return false;
    Batch& b = filling();
    Event& e = b.next(Event::Kind::Line);
    e.line = line;
    if (e.fields.size() < fields.size()) e.fields.resize(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) e.fields[i].assign(fields[i]);
    e.fieldCount = fields.size();
    b.fields += fields.size();
    if (b.used >= kBatchLines || b.fields >= kBatchFields) hand();
    return !stopped_.load(std::memory_order_relaxed);
  }
  void readerDidNote(const std::string& note) override { filling().next(Event::Kind::Note).note = note; }
  void readerDidFinish(const CsvError& outcome) override {
    filling().next(Event::Kind::Finish).outcome = outcome;
    hand();
  }

  // Runs the reader; whatever it throws is kept for the delivering thread.
  void run(int sheet) {
    try {
      reader_.read(sheet, *this);
      hand();
    } catch (...) {
      std::lock_guard lock(mutex_);
      failure_ = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    readerEnded_ = true;
    changed_.notify_all();
  }

  // --- the delivering thread ---

  // Delivers every batch to `sink` until the reader has finished.
  void deliver(ImportLineSink& sink, std::optional<double>* fraction) {
    for (;;) {
      std::unique_ptr<Batch> batch;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !waiting_.empty() || readerEnded_; });
        if (waiting_.empty()) {
          if (failure_) std::rethrow_exception(failure_);
          return;
        }
        batch = std::move(waiting_.front());
        waiting_.pop_front();
      }
      changed_.notify_all();
      if (fraction && batch->fraction) *fraction = batch->fraction;
      for (size_t i = 0; i < batch->used; ++i) {
        Event& e = batch->events[i];
        switch (e.kind) {
          case Event::Kind::Start:
            sink.readerDidStart();
            break;
          case Event::Kind::Description:
            sink.readerDidDescribeFile(e.description);
            break;
          case Event::Kind::Line:
            // Lines read after the sink said stop are not its to see.
            if (!stopped_.load(std::memory_order_relaxed) &&
                !sink.readerDidReadLine(e.line, std::span<const std::string>(e.fields.data(), e.fieldCount)))
              stopped_ = true;
            break;
          case Event::Kind::Note:
            sink.readerDidNote(e.note);
            break;
          case Event::Kind::Finish:
            sink.readerDidFinish(e.outcome);
            break;
        }
      }
      recycle(std::move(batch));
    }
  }

  // Tells the reading thread that nothing more is delivered.
  void abandon() {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  Batch& filling() {
    if (!filling_) {
      std::lock_guard lock(mutex_);
      if (!spare_.empty()) {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (!filling_) filling_ = std::make_unique<Batch>();
    return *filling_;
  }

  // Hands the batch being filled to the delivering thread, waiting while
  // kMaxWaiting are there already.
  void hand() {
    if (!filling_ || filling_->used == 0) return;
    filling_->fraction = reader_.fractionRead();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.size() < kMaxWaiting || abandoned_; });
    if (abandoned_) {
      filling_->used = filling_->fields = 0;
      return;
    }
    waiting_.push_back(std::move(filling_));
    changed_.notify_all();
  }

  void recycle(std::unique_ptr<Batch> batch) {
    batch->used = batch->fields = 0;
    std::lock_guard lock(mutex_);
    if (spare_.size() < kMaxWaiting) spare_.push_back(std::move(batch));
  }

  ImportReader& reader_;
  std::atomic<bool> stopped_{false};
  std::unique_ptr<Batch> filling_;  // the reading thread's alone

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> waiting_;
  std::vector<std::unique_ptr<Batch>> spare_;
  bool readerEnded_ = false, abandoned_ = false;
  std::exception_ptr failure_;
};

}  // namespace

void readAhead(ImportReader& reader, int sheet, ImportLineSink& sink, std::optional<double>* fractionRead) {
  Relay relay(reader);
  std::thread reading([&] { relay.run(sheet); });
  // Whichever way the delivery ends, the reading thread is told and joined
  // before the relay goes.
  struct Join {
    Relay& relay;
    std::thread& thread;
    ~Join() {
      relay.abandon();
      thread.join();
    }
  } join{relay, reading};
  relay.deliver(sink, fractionRead);
}

}  // namespace tabulix
