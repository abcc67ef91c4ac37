// The glossary: the terms a screen lists (searched by title) and one term's page.
#include "engine/translate.h"
#include "glossary/glossary.h"
#include "server/server_impl.h"

namespace tabulix::server {

namespace {

// The most keys one request may list (the glossary has far fewer).
constexpr size_t kMaxKeys = 200;

// "a,b,c" as keys; an empty text is an empty list.
std::vector<std::string> splitKeys(const std::string& text) {
  std::vector<std::string> keys;
  size_t start = 0;
  while (start <= text.size() && keys.size() < kMaxKeys) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (comma > start) keys.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return keys;
}

}  // namespace

void ServerImpl::routeGlossary() {
  // ?keys=a,b,c lists those terms in that order (no keys parameter: every
  // term; an empty one: none); ?search=text keeps those whose title holds it.
  get("/api/glossary", [](const httplib::Request& req) {
    std::vector<std::string> keys =
        req.has_param("keys") ? splitKeys(req.get_param_value("keys")) : Glossary::allTerms();
    std::string search = req.has_param("search") ? req.get_param_value("search") : "";
    nlohmann::json terms = nlohmann::json::array();
    for (const auto& key : Glossary::subsetOfTerms(keys, search))
      terms.push_back({{"key", key}, {"title", Glossary::titleForTerm(key).value_or("")}});
    return nlohmann::json{{"terms", terms}};
  });

  get(R"(/api/glossary/terms/(\w+))", [](const httplib::Request& req) {
    std::string key = req.matches[1].str();
    auto title = Glossary::titleForTerm(key);
    auto text = Glossary::textForTerm(key);
    if (!title || !text) throw ApiError(404, {{"error", "no such term"}, {"message", tr("No such term.")}});
    return nlohmann::json{
        {"key", key}, {"title", *title}, {"text", *text}, {"html", renderGlossaryText(*text)}};
  });
}

}  // namespace tabulix::server
