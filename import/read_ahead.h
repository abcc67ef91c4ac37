// Reading a file on a thread of its own, ahead of the thread that stores
// its lines: parsing and storing overlap on two cores.
#pragma once

#include <optional>

#include "import/import_reader.h"

namespace tabulix {

// Runs `reader.read(sheet, …)` on a second thread and delivers everything it
// reports to `sink` on the calling thread, in the order reported. Lines
// travel in batches of bounded size, a few batches at most in flight, so the
// memory stays bounded whatever the file. A sink that returns false for a
// line stops the reader at its next line; an exception from either side
// stops both and is rethrown here once the reading thread has ended.
// `fractionRead`, when given, is set before each batch is delivered to
// what the reader had read when the batch was filled.
void readAhead(ImportReader& reader, int sheet, ImportLineSink& sink,
               std::optional<double>* fractionRead = nullptr);

}  // namespace tabulix
