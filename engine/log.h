// Diagnostic log lines and the report of store failures.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace tabulix {

// Writes one free-text diagnostic line (to stderr unless a sink is set).
void logLine(std::string_view line);
// A receiver of log lines.
using LogSink = std::function<void(std::string_view)>;
// Redirects log lines (tests, the server); an empty function restores
// stderr. Returns the sink that was in place.
LogSink setLogSink(LogSink sink);

// Receives the "Error!" alert: its title, message and button.
using AlertHandler =
    std::function<void(const std::string& title, const std::string& message, const std::string& button)>;
// Sets who shows store failure alerts (the web UI, the CLI); empty: log only.
void setStoreErrorHandler(AlertHandler handler);
// Shows the store failure alert with the reason of the failure (the store's
// own wording, looked up by tr()); the program keeps running afterwards.
void showStoreError(std::string_view reason = {});
// Where a store failure reaches a front end (the request wrapper, the CLI,
// a worker's end): logs "Unresolved error <description>, <details>" and
// shows the store failure alert.
void reportStoreError(const std::exception& error);

}  // namespace tabulix
