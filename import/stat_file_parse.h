// The parsing half of the SPSS, Stata and SAS reader: ReadStat over a file
// or a buffer, its callbacks encoded as frames (stat_file_frames.h). This
// half runs in the reader's child process (tabulix-read-stat), or in-process
// in the fuzz target; nothing here trusts the file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tabulix {

// The statistical file formats, by extension.
enum class StatFormat { Sav, Por, Dta, Sas7bdat, Xport };

// The format of an extension (".sav", ".zsav", ".por", ".dta", ".sas7bdat",
// ".xpt", compared exactly), or none.
std::optional<StatFormat> statFormatForExtension(std::string_view extension);

// At most this many variables are passed on; later ones are skipped.
inline constexpr uint32_t kStatMaxVariables = 501;

// Receives the encoded frames in order; returns false to stop the parse.
using StatFrameSink = std::function<bool(std::string_view bytes)>;

// Parses a file (or, with `memory`, the bytes in memory standing for it) and
// writes the frames: the file, its variables, the value labels, the rows
// (at most rowLimit) and the end frame with the outcome, always last.
void parseStatFile(StatFormat format, const std::string& path, std::optional<std::span<const uint8_t>> memory,
                   long rowLimit, const StatFrameSink& sink);

// Entry of the child process: argv = {program, format name, row limit, path}.
// Sets the process's resource limits, writes the frames to standard output
// and returns the exit status.
int statFileChildMain(int argc, char** argv);

}  // namespace tabulix
