// The delimited-text reader behind the import driver: CsvParser with its
// fields resolved, lines capped at the import's field limit.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "import/import_reader.h"
#include "textio/byte_stream.h"

namespace tabulix {

// Reads a delimited text file for the import driver.
class TextReader : public ImportReader, private CsvParserDelegate {
 public:
  // A reader of `file` with the delimiter; the encoding is sniffed.
  TextReader(std::filesystem::path file, char16_t delimiter)
      : file_(std::move(file)), delimiter_(delimiter) {}

  // Delimited text has no sheets.
  std::optional<std::vector<std::string>> sheets() override { return std::nullopt; }
  // Parses the whole file into `sink`.
  void read(int sheet, ImportLineSink& sink) override;
  // Stops the parser at its next character.
  void cancel() override;
  // The bytes the parser has taken from the file, of the size it had when
  // the read began.
  std::optional<double> fractionRead() const override;
  // What a finished parse could not deliver as it stands in the file, one
  // sentence each: a first line of `headerFields` fields beyond the limit,
  // unclosed quotes, bytes that are no UTF-8, a NUL, undecodable bytes.
  static std::vector<std::string> notesOf(const CsvParser& parser, uint64_t headerFields);

 private:
  void parserDidBeginDocument(CsvParser& parser) override;
  void parserDidBeginLine(CsvParser& parser, uint64_t line) override;
  void parserDidReadField(CsvParser& parser, std::u16string_view field, int64_t index) override;
  void parserDidEndLine(CsvParser& parser, uint64_t line) override;
  void parserDidEndDocument(CsvParser& parser) override;
  void parserDidFailWithError(CsvParser& parser, const CsvError& error) override;
  bool deliver(uint64_t line);

  std::filesystem::path file_;
  char16_t delimiter_;
  ImportLineSink* sink_ = nullptr;
  CsvParser* parser_ = nullptr;
  const FileByteSource* source_ = nullptr;  // the parser's, while it parses
  uint64_t fileSize_ = 0;
  std::vector<std::string> currentRow_;
  size_t fieldsInRow_ = 0;
  uint64_t headerFields_ = 0;  // fields of line 1 when more than are kept
  std::optional<uint64_t> pendingEmptyLine_;
};

}  // namespace tabulix
