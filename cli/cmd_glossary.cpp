// `tabulix glossary [--search TEXT] [KEY]`: the statistical terms as JSON.
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "glossary/glossary.h"

namespace tabulix::cli {
namespace {

RegisterCommand glossaryCommand{
    {"glossary", "Print the glossary's terms (key, title, text) as JSON", [](CLI::App& app) {
       struct Opts {
         std::string key, search;
       };
       auto o = std::make_shared<Opts>();
       app.add_option("KEY", o->key, "Only this term (e.g. skew)");
       app.add_option("--search", o->search,
                      "Only terms whose title contains this text (case and accents ignored)");
       return [o]() {
         std::vector<std::string> keys = Glossary::allTerms();
         if (!o->key.empty()) {
           if (!Glossary::titleForTerm(o->key)) {
             std::cerr << "tabulix glossary: no term with the key " << o->key << "\n";
             return 2;
           }
           keys = {o->key};
         }
         nlohmann::ordered_json out = nlohmann::ordered_json::array();
         for (const auto& key : Glossary::subsetOfTerms(keys, o->search))
           out.push_back({{"key", key},
                          {"title", Glossary::titleForTerm(key).value_or("")},
                          {"text", Glossary::textForTerm(key).value_or("")}});
         std::cout << out.dump(2) << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
