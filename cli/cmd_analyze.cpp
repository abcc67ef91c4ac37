// `tabulix analyze W.tbx KIND [--left NAME] [--right NAME] [--columns A,B,...]
// [--where "NAME OP VALUE"]... [--where2 ...]... [--by NAME] [--set FIELD=VALUE]...
// [--csv FILE|-] [--pdf FILE] [--svg DIR] [--save] [--vectors]`: computes one
// analysis and prints its result as JSON (or its CSV export with --csv -); --save
// also stores its definition; --vectors adds the per-observation vectors;
// --by compares --left across the two levels of a grouping variable.
// `tabulix analyze W.tbx --id ID [outputs]` computes a saved analysis.
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "analyses/analysis_kind.h"
#include "analyses/sample_groups.h"
#include "charts/renderer.h"
#include "cli/commands.h"
#include "cli/variable_ref.h"
#include "cli/where_option.h"
#include "cli/workspace_open.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "reports/output_file.h"
#include "reports/pdf_writer.h"
#include "reports/result_export.h"

namespace tabulix::cli {
namespace {

struct Options {
  std::string file, kind, left, right, columns, csv, pdf, svg, by;
  int64_t id = 0;
  std::vector<std::string> wheres, wheres2, sets;
  bool save = false, kinds = false;
  bool vectors = false;
};

// The one lookup of a variable named on this command line (variable_ref.h).
int32_t variableNumber(Model& model, const std::string& name, const std::string& option) {
  return *variableNamed(model, name, option)->num;
}

// Collects the chart hosts of a layout, in drawing order.
void chartsOf(const reports::Element& e, std::vector<const charts::Chart*>& out) {
  if (e.chart) out.push_back(&*e.chart);
  for (const auto& c : e.children) chartsOf(c, out);
}

RegisterCommand analyzeCommand{
    {"analyze", "Compute an analysis and print its result", [](CLI::App& app) {
       auto o = std::make_shared<Options>();
       app.add_option("WORKSPACE", o->file, "Workspace file (.tbx)");
       app.add_flag("--kinds", o->kinds, "Print every kind's positions and settings as JSON");
       std::string kinds;
       for (const auto& [name, kind] : analysisKinds()) kinds += (kinds.empty() ? "" : ", ") + name;
       app.add_option("KIND", o->kind, "The analysis: " + kinds + " (none with --id)");
       app.add_option("--id", o->id, "Compute the saved analysis with this id");
       app.add_option("--left", o->left, "The (first) variable");
       app.add_option("--right", o->right, "The second variable");
       app.add_option("--columns", o->columns, "Explanatory variables, separated by commas");
       app.add_option("--where", o->wheres, "A filter condition \"NAME OP VALUE\" (repeatable)");
       app.add_option("--where2", o->wheres2, "A condition of the second sample's filter (repeatable)");
       app.add_option(
           "--by", o->by,
           "Two samples of --left, one per level of this two-level variable (sets --right and both filters)");
       app.add_option("--set", o->sets, "A setting FIELD=VALUE (repeatable)");
       app.add_option("--csv", o->csv, "Write the CSV export to FILE (- for standard output)");
       app.add_option("--pdf", o->pdf, "Write the PDF report to FILE");
       app.add_option("--svg", o->svg, "Write each chart as an SVG file into DIR");
       app.add_flag("--save", o->save, "Store the definition as a saved analysis");
       app.add_flag("--vectors", o->vectors,
                    "Print the per-observation vectors too (residuals, fitted and sorted values)");
       return [o]() {
         if (o->kinds) {
           std::cout << describeAnalysisKinds().dump() << "\n";
           return 0;
         }
         if (o->file.empty()) throw AnalysisRequestError("WORKSPACE is required");
         if (o->id != 0) {
           if (!o->kind.empty() || !o->left.empty() || !o->right.empty() || !o->columns.empty() ||
               !o->wheres.empty() || !o->wheres2.empty() || !o->sets.empty() || o->save || !o->by.empty())
             throw AnalysisRequestError(
                 "--id takes the saved definition as it is: no KIND, variables, filters or settings");
         } else if (o->kind.empty()) {
           throw AnalysisRequestError("KIND is required (or --id ID)");
         }
         Model model;
         openExistingWorkspace(model, o->file);
         const AnalysisKind* chosen = nullptr;
         AnalysisRequest request;
         if (o->id != 0) {
           Analysis* saved = model.context().existingAnalysis(ObjectId{Entity::Analysis, o->id});
           if (!saved) throw AnalysisRequestError("--id: no saved analysis " + std::to_string(o->id));
           chosen = analysisKindForType(saved->type.value_or(0), saved->distribution);
           if (!chosen)
             throw AnalysisRequestError("--id: analysis " + std::to_string(o->id) + " is of a kind (type " +
                                        std::to_string(saved->type.value_or(0)) + ") not computed here yet");
           request = requestForAnalysis(model, *saved);
         }
         auto kind = analysisKinds().find(o->kind);
         if (!chosen && kind == analysisKinds().end()) {
           std::string known;
           for (const auto& [name, k] : analysisKinds()) known += (known.empty() ? "" : ", ") + name;
           throw AnalysisRequestError("unknown kind \"" + o->kind + "\" (one of: " + known + ")");
         }
         if (!chosen) chosen = &kind->second;
         if (o->save && !chosen->type)
           throw AnalysisRequestError("the " + o->kind + " analysis is not saved");
         if (!o->left.empty()) request.left = variableNumber(model, o->left, "--left");
         if (!o->right.empty()) request.right = variableNumber(model, o->right, "--right");
         if (!o->columns.empty()) {
           size_t start = 0;
           while (start <= o->columns.size()) {
             size_t comma = o->columns.find(',', start);
             std::string name =
                 o->columns.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
             request.columns.push_back(variableNumber(model, name, "--columns"));
             if (comma == std::string::npos) break;
             start = comma + 1;
           }
         }
         if (o->id == 0) {
           request.wheres = parseWhereOptions(model, o->wheres);
           request.wheres2 = parseWhereOptions(model, o->wheres2);
         }
         if (!o->by.empty()) {
           if (!o->right.empty() || !o->wheres.empty() || !o->wheres2.empty())
             throw AnalysisRequestError(
                 "--by sets sample 2 and both filters: no --right, --where or --where2 with it");
           if (!request.left) throw AnalysisRequestError("--by needs the variable it splits (--left)");
           const auto [first, second] = groupConditions(model, *variableNamed(model, o->by, "--by"));
           request.right = request.left;
           request.wheres = {first};
           request.wheres2 = {second};
           request.settings["samples"] = "2";
         }
         for (const std::string& s : o->sets) {
           size_t eq = s.find('=');
           if (eq == std::string::npos || eq == 0)
             throw AnalysisRequestError("--set \"" + s + "\": expected FIELD=VALUE");
           request.settings[s.substr(0, eq)] = s.substr(eq + 1);
         }
         request.vectors = o->vectors;
         AnalysisOutput out = computeAnalysis(model, *chosen, request, o->file);
         if (o->save) {
           Analysis* saved = saveAnalysisRequest(model, *chosen, request);
           out.result["id"] = saved->objectID.rowid;
         }
         try {
           if (!o->pdf.empty())
             reports::writePdfOfView(out.print, o->pdf, reports::furnitureFor(o->file, out.baseName));
           if (!o->svg.empty()) {
             std::vector<const charts::Chart*> all;
             chartsOf(out.screen, all);
             std::error_code ec;
             std::filesystem::create_directories(o->svg, ec);
             if (ec)
               throw reports::ExportError(
                   fillPlaceholders(tr("Cannot write %@: %@"), {o->svg, ec.message()}));
             for (size_t i = 0; i < all.size(); ++i)
               reports::writeOutputFile(
                   std::filesystem::path(o->svg) / ("chart" + std::to_string(i + 1) + ".svg"),
                   charts::toSvg(*all[i], 360, 260));
           }
           if (!o->csv.empty() && o->csv != "-") reports::writeCSVOutputAtPath(o->csv, out.csvLines);
         } catch (const reports::ExportError& e) {
           std::cerr << "tabulix analyze: " << e.what() << "\n";
           return 1;
         }
         if (o->csv == "-") {
           std::string text;
           auto writer = CsvWriter::initForWritingToString(text);
           out.csvLines(*writer);
           writer->closeStream();
           std::cout << text;
           return 0;
         }
         std::cout << out.result.dump() << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
