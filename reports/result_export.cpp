#include "reports/result_export.h"

#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

#include "engine/log.h"
#include "reports/output_file.h"
#include "reports/pdf_writer.h"

namespace tabulix::reports {

void writeCSVOutputAtPath(const std::filesystem::path& path,
                          const std::function<void(CsvWriter&)>& writeCSVLines) {
  logLine("Writing CSV to: " + path.string());
  OutputFile output(path);
  auto writer = CsvWriter::initForWritingToCSVFile(output.path());
  writeCSVLines(*writer);
  writer->closeStream();
  output.commit(writer->good(), writer->error());
}

ExportedResult exportResult(const std::string& baseName, const std::function<void(CsvWriter&)>& writeCSVLines,
                            const Element& printLayout, const PageFurniture& furniture) {
  std::string tmpl =
      (std::filesystem::temp_directory_path() / ("tabulix-export-" + std::to_string(getpid()) + "-XXXXXX"))
          .string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a temporary folder for the export");
  ExportedResult out{tmpl, std::filesystem::path(tmpl) / "results.csv",
                     std::filesystem::path(tmpl) / "export.pdf", baseName};
  try {
    writeCSVOutputAtPath(out.csv, writeCSVLines);
    logLine("Rendering PDF to: " + out.pdf.string());
    writePdfOfView(printLayout, out.pdf, furniture);
  } catch (...) {
    removeExport(out);
    throw;
  }
  return out;
}

void removeExport(const ExportedResult& exported) {
  std::error_code ec;
  if (!exported.dir.empty()) std::filesystem::remove_all(exported.dir, ec);
}

}  // namespace tabulix::reports
