#include "import/text_reader.h"

#include <algorithm>

#include "engine/log.h"
#include "engine/translate.h"
#include "import/file_importer.h"
#include "textio/text_encoding.h"

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
  std::error_code ec;
  const auto size = std::filesystem::file_size(file_, ec);
  fileSize_ = ec ? 0 : size;
  source_ = source.get();
  CsvParser parser(std::move(source), nullptr, delimiter_);
  parser.setSanitizesFields(true);
  parser.setDelegate(this);
  parser_ = &parser;
  parser.parse();
  parser_ = nullptr;
  source_ = nullptr;
}

void TextReader::cancel() {
  if (parser_) parser_->cancelParsing();
}

std::optional<double> TextReader::fractionRead() const {
  if (!source_ || fileSize_ == 0) return std::nullopt;
  // A file that grows while it is read is never more than read whole.
  return std::min(1.0, static_cast<double>(source_->delivered()) / static_cast<double>(fileSize_));
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

void TextReader::parserDidReadField(CsvParser& parser, std::u16string_view field, int64_t index) {
  if (index >= static_cast<int64_t>(kMaxImportFields)) {
    if (parser.lineNumber() == 1) headerFields_ = static_cast<uint64_t>(index) + 1;
    return;
  }
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

namespace {

std::string count(uint64_t n) { return std::to_string(n); }

}  // namespace

std::vector<std::string> TextReader::notesOf(const CsvParser& parser, uint64_t headerFields) {
  std::vector<std::string> notes;
  if (headerFields > kMaxImportFields)
    notes.push_back(fillPlaceholders(
        tr("The first line has %u fields: the first %u became variables, the other %u were left out."),
        {count(headerFields), count(kMaxImportFields), count(headerFields - kMaxImportFields)}));
  if (uint64_t n = parser.unclosedQuotes())
    notes.push_back(
        n == 1
            ? fillPlaceholders(tr("Line %u: a quoted field is never closed; it was ended at the end of its "
                                  "line."),
                               {count(parser.firstUnclosedQuoteLine())})
            : fillPlaceholders(tr("%u quoted fields are never closed, the first on line %u; each was ended "
                                  "at the end of its line."),
                               {count(n), count(parser.firstUnclosedQuoteLine())}));
  if (uint64_t n = parser.replacedBytes())
    notes.push_back(
        n == 1 ? fillPlaceholders(tr("Line %u: 1 byte is not UTF-8 and was read as the replacement character "
                                     "\xEF\xBF\xBD."),
                                  {count(parser.firstReplacedLine())})
               : fillPlaceholders(tr("%u bytes are not UTF-8 and were read as the replacement character "
                                     "\xEF\xBF\xBD, the first on line %u."),
                                  {count(n), count(parser.firstReplacedLine())}));
  if (const auto& unread = parser.unreadInput()) {
    const std::string line = count(unread->afterLine + 1);
    switch (unread->reason) {
      case CsvUnreadInput::Reason::NulCharacter:
        notes.push_back(
            unread->lines == 1
                ? fillPlaceholders(tr("Line %u holds a NUL character, which ends the text: 1 line from there "
                                      "on was not read."),
                                   {line})
                : fillPlaceholders(
                      tr("Line %u holds a NUL character, which ends the text: %u lines from there "
                         "on were not read."),
                      {line, count(unread->lines)}));
        break;
      case CsvUnreadInput::Reason::UndecodableBytes:
        notes.push_back(
            unread->bytes == 1
                ? fillPlaceholders(tr("Line %u: 1 byte from there on is not text in the file's encoding and "
                                      "was not read."),
                                   {line})
                : fillPlaceholders(
                      tr("Line %u: %u bytes from there on are not text in the file's encoding and "
                         "were not read."),
                      {line, count(unread->bytes)}));
        break;
    }
  }
  return notes;
}

void TextReader::parserDidEndDocument(CsvParser& parser) {
  pendingEmptyLine_.reset();
  for (const std::string& note : notesOf(parser, headerFields_)) sink_->readerDidNote(note);
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
