// tabulix parse: reads a delimited text file and prints every call the parser
// makes to its delegate as one JSON object per line, to diagnose an import.
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/commands.h"
#include "import/csv_parser.h"

namespace tabulix::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string encodingLabel(std::optional<TextEncoding> e) {
  // Nothing was read to decide by: the input is empty and read as UTF-8.
  return std::string(encodingName(e.value_or(TextEncoding::UTF8)));
}

class JsonLinesDelegate : public CsvParserDelegate {
 public:
  explicit JsonLinesDelegate(std::ostream& out) : out_(out) {}

  void parserDidBeginDocument(CsvParser& parser) override {
    encoding_ = parser.streamEncoding();
    emit(Json{{"event", "beginDocument"}, {"encoding", encodingLabel(encoding_)}});
  }
  void parserDidBeginLine(CsvParser& parser, uint64_t line) override {
    noteEncoding(parser);
    emit(Json{{"event", "beginLine"}, {"line", line}});
  }
  void parserDidReadField(CsvParser& parser, std::u16string_view field, int64_t index) override {
    noteEncoding(parser);
    emit(Json{{"event", "field"}, {"index", index}, {"text", toUtf8(field)}});
  }
  void parserDidReadComment(CsvParser& parser, std::u16string_view comment) override {
    noteEncoding(parser);
    emit(Json{{"event", "comment"}, {"text", toUtf8(comment)}});
  }
  void parserDidEndLine(CsvParser& parser, uint64_t line) override {
    noteEncoding(parser);
    emit(Json{{"event", "endLine"}, {"line", line}});
  }
  void parserDidEndDocument(CsvParser& parser) override {
    noteEncoding(parser);
    emit(Json{{"event", "endDocument"}});
  }
  void parserDidFailWithError(CsvParser& parser, const CsvError& error) override {
    noteEncoding(parser);
    emit(Json{
        {"event", "error"}, {"domain", error.domain}, {"code", error.code}, {"message", error.description}});
    failed = true;
  }

  bool failed = false;

 private:
  // The encoding can change once while text is being read; report it before
  // the first call that follows the change.
  void noteEncoding(CsvParser& parser) {
    if (parser.streamEncoding() != encoding_) {
      encoding_ = parser.streamEncoding();
      emit(Json{{"event", "encoding"}, {"encoding", encodingLabel(encoding_)}});
    }
  }
  void emit(const Json& j) { out_ << j.dump() << '\n'; }

  std::ostream& out_;
  std::optional<TextEncoding> encoding_;
};

// "comma", "tab", "semicolon", "space" or one character.
std::optional<char16_t> delimiterNamed(const std::string& name) {
  if (name == "comma") return u',';
  if (name == "tab") return u'\t';
  if (name == "semicolon") return u';';
  if (name == "space") return u' ';
  std::u16string c = toUtf16(name);
  if (c.size() != 1 || c[0] == 0 || c[0] == 0xFFFD) return std::nullopt;
  return c[0];
}

const RegisterCommand registerParse{Command{
    "parse", "Print the delimited-text parser's events for FILE as JSON Lines", [](CLI::App& app) {
      auto file = std::make_shared<std::string>();
      auto delimiter = std::make_shared<std::string>("comma");
      auto sanitize = std::make_shared<bool>(false);
      auto backslashes = std::make_shared<bool>(false);
      auto comments = std::make_shared<bool>(false);
      app.add_option("FILE", *file, "Delimited text file")->required();
      app.add_option("--delimiter", *delimiter, "comma, tab, semicolon, space or a single character");
      app.add_flag("--sanitize", *sanitize, "Report fields with quotes and escapes resolved, trimmed");
      app.add_flag("--backslash-escapes", *backslashes, "A backslash makes the next character literal");
      app.add_flag("--comments", *comments, "Lines starting with # are comments");
      return [=]() -> CommandResult {
        std::optional<char16_t> delim = delimiterNamed(*delimiter);
        if (!delim) {
          std::cerr
              << "tabulix parse: --delimiter must be comma, tab, semicolon, space or one character, not \""
              << *delimiter << "\"\n";
          return 2;
        }
        std::error_code ec;
        if (std::filesystem::is_directory(*file, ec)) {
          std::cerr << "tabulix parse: " << *file << " is a directory\n";
          return 2;
        }
        auto source = std::make_unique<FileByteSource>(*file);
        source->open();
        if (!source->isOpen()) {
          std::cerr << "tabulix parse: cannot open " << *file << "\n";
          return 2;
        }
        CsvParser parser(std::move(source), nullptr, *delim);
        parser.setSanitizesFields(*sanitize);
        parser.setRecognizesBackslashesAsEscapes(*backslashes);
        parser.setRecognizesComments(*comments);
        JsonLinesDelegate delegate(std::cout);
        parser.setDelegate(&delegate);
        parser.parse();
        std::cout.flush();
        return delegate.failed ? 1 : 0;
      };
    }}};

}  // namespace
}  // namespace tabulix::cli
