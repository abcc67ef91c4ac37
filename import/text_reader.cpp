#include "import/text_reader.h"

#include "engine/log.h"
#include "engine/translate.h"
#include "import/file_importer.h"
#include "import/text_encoding.h"

namespace tabulix {

void TextReader::read(int, ImportLineSink& sink) {
  sink_ = &sink;
  auto source = std::make_unique<FileByteSource>(file_);
  source->open();
  if (!source->isOpen()) {
    // A reader that cannot be made is logged; the import then ends as a
    // reader failure so that the caller hears of it.
    logLine("Parser failed with error: cannot open " + file_.string());
    sink.readerDidFinish(
        CsvError{std::string(kImportErrorDomain), 2, "The file " + file_.string() + " cannot be read."});
    return;
  }
  CsvParser parser(std::move(source), nullptr, delimiter_);
  parser.setSanitizesFields(true);
  parser.setDelegate(this);
  parser_ = &parser;
  parser.parse();
  parser_ = nullptr;
}

void TextReader::cancel() {
  if (parser_) parser_->cancelParsing();
}

void TextReader::parserDidBeginDocument(CsvParser&) {
  logLine("Parser started!");
  sink_->readerDidStart();
}

bool TextReader::deliver(uint64_t line) {
  if (sink_->readerDidReadLine(line, std::span<const std::string>(currentRow_.data(), fieldsInRow_)))
    return true;
  parser_->cancelParsing();
  return false;
}

void TextReader::parserDidBeginLine(CsvParser&, uint64_t) {
  if (pendingEmptyLine_) {
    // The held-back line was not the last one after all: store it.
    uint64_t line = *pendingEmptyLine_;
    pendingEmptyLine_.reset();
    fieldsInRow_ = 1;
    if (currentRow_.empty()) currentRow_.emplace_back();
    currentRow_[0].clear();
    if (!deliver(line)) return;
  }
  fieldsInRow_ = 0;
}

void TextReader::parserDidReadField(CsvParser&, std::u16string_view field, int64_t) {
  if (fieldsInRow_ >= kMaxImportFields) return;
  // The row's strings are reused from line to line to keep their storage.
  if (currentRow_.size() <= fieldsInRow_) currentRow_.emplace_back();
  std::string& s = currentRow_[fieldsInRow_++];
  s.clear();
  appendUtf8(s, field);
}

void TextReader::parserDidEndLine(CsvParser&, uint64_t line) {
  // A text file ends with a line break, after which the parser reports one
  // more record holding a single empty field. It is held back until another
  // line follows, so that the usual final line break adds no empty row.
  if (fieldsInRow_ == 1 && currentRow_[0].empty()) {
    pendingEmptyLine_ = line;
    return;
  }
  deliver(line);
}

void TextReader::parserDidEndDocument(CsvParser& parser) {
  pendingEmptyLine_.reset();
  if (const auto& unread = parser.unreadInput()) {
    const std::string after = std::to_string(unread->afterLine);
    switch (unread->reason) {
      case CsvUnreadInput::Reason::UnclosedQuote:
        sink_->readerDidNote(fillPlaceholders(tr("%u lines could not be read after line %u: unclosed quote."),
                                              {std::to_string(unread->lines), after}));
        break;
      case CsvUnreadInput::Reason::NulCharacter:
        sink_->readerDidNote(fillPlaceholders(tr("%u lines could not be read after line %u: NUL character."),
                                              {std::to_string(unread->lines), after}));
        break;
      case CsvUnreadInput::Reason::UndecodableBytes:
        sink_->readerDidNote(fillPlaceholders(
            tr("%u bytes could not be read after line %u: they are not text in the file's encoding."),
            {std::to_string(unread->bytes), after}));
        break;
    }
  }
  logLine("Parser ended document: " + file_.string());
  sink_->readerDidFinish(
      CsvError{std::string(kImportErrorDomain), kImportReadToEnd, "The file was read to its end."});
}

void TextReader::parserDidFailWithError(CsvParser&, const CsvError& error) {
  pendingEmptyLine_.reset();
  logLine("Parser failed with error: " + error.description + " " + error.domain);
  sink_->readerDidFinish(error);
}

}  // namespace tabulix
