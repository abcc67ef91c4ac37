// The language a request's numbers and dates are written in.
#pragma once

#include <httplib.h>

#include <optional>
#include <string>
#include <string_view>

namespace tabulix::server {

// The first language of an Accept-Language value, by its q weights (ties in
// the order given), that ICU can format: its ICU locale name. None when no
// listed language is usable, so the server's own locale applies.
std::optional<std::string> localeFromAcceptLanguage(std::string_view header);
// The locale of a request's browser: its Accept-Language header's.
std::optional<std::string> requestLocale(const httplib::Request& req);
// An ICU locale name as a language tag for the page ("fr_CH" → "fr-CH").
std::string languageTag(const std::string& icuName);

}  // namespace tabulix::server
