// Derived variables: new Numeric variables computed row by row from up to
// two Numeric variables x and y and a constant c, by one of 34
// transformations in six categories.
//
// The work is split for the one-writer rule: deriveColumnValues only reads
// (it runs on a worker Model), applyDerivedColumn adds the column, its cells,
// statistics and type on the Model that owns the workspace and saves once.
// addColumnNamed does both on one Model.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cell_access.h"
#include "engine/model.h"

namespace tabulix {

// One transformation: its code, category, the English texts of its choice,
// formula line and note, and the inputs it reads.
struct Transformation {
  uint32_t code;
  uint32_t category;
  const char* label;
  bool usesX, usesY, usesC;
  const char* preview;  // a format with "%@" for the new name and each input used
  const char* note;     // "" when there is none
};

// The 34 transformations, category by category in the order they are listed.
const std::vector<Transformation>& transformations();
// The transformation with this code, or nullptr.
const Transformation* transformationForCode(uint32_t code);
// The transformation whose label is exactly this text, or nullptr.
const Transformation* transformationForLabel(std::string_view label);
// The English titles of the six categories, in order.
const std::array<const char*, 6>& categoryTitles();

// The x variable's cached minimum, maximum, mean and standard deviation
// that rescale(x) and Z(x) use; 0, 1, 0 and 1 without an x.
struct XFigures {
  double min = 0, max = 1, mean = 0, sd = 1;
};

// The value of one new cell from x, y and c; NaN stands for a missing
// operand and a non-finite result becomes a missing cell.
using ValueFunction = std::function<double(double x, double y, double c)>;

// The value function of a transformation code (an unknown code gives NaN);
// the random transformations draw from a stream of their own, seeded by
// freshRandomSeed().
ValueFunction valueFunctionForCode(uint32_t code, const XFigures& figures);
// The same with the seed of the random transformations' stream given: the
// same seed gives the same draws.
ValueFunction valueFunctionForCode(uint32_t code, const XFigures& figures, uint64_t seed);
// Whether a transformation code draws random numbers (rand(0,1), rand(0,c), normal).
bool drawsRandomNumbers(uint32_t code);
// A seed from the system's random source (std::random_device), so that two
// derivations never share a stream, however close in time.
uint64_t freshRandomSeed();

// A standard normal random number: one uniform draw u through
// sqrt(2) * erfinv(2u - 1), the inverse error function taken from its
// closed-form approximation with a = 0.140012.
double randomNormal();
// The same transform of a given uniform number u in [0, 1).
double normalFromUniform(double u);

// What the editor holds while the user builds a new variable.
struct DeriveRequest {
  std::string nameNewVar;
  uint32_t category = 0;
  uint32_t equation = 300;
  Column* column = nullptr;   // x
  Column* columnY = nullptr;  // y
  std::optional<double> scalarC;
};

// The status line for a request: the first rule that applies, translated, or
// "" when the variable can be created.
std::string deriveStatus(Model& model, const DeriveRequest& request);
// "Var%u" with the first number from 1 whose name is free, stopping at 500.
std::string proposedName(Model& model);
// The preview line: the transformation's format filled with the new name (x
// when empty) and the inputs it uses, in the order x, y, c.
std::string previewLine(const DeriveRequest& request);

// A constant typed by the user, read with a point as decimal separator
// whatever the locale; none when the text is not a number.
std::optional<double> readConstant(std::string_view text);

// The figures rescale(x) and Z(x) need, from x's cache; when the cache lacks
// them they are computed from x's cells without touching the cache.
XFigures xFiguresForColumn(Model& model, const Column* x);

// The new variable's cell texts by row, with their statistics.
struct DerivedColumn {
  std::vector<int32_t> rowNums;
  std::vector<std::string> texts;
  BasicStats stats;
};

// Computes the new cells for every row of the workspace from x and y (either
// may be absent) and c, and their statistics. Only reads the store.
DerivedColumn deriveColumnValues(Model& model, const Column* x, const Column* y, double c,
                                 const ValueFunction& function);

// Adds the derived column after the last one (num one more than the largest),
// with one cell per row (a row the computation did not see gets a missing
// cell), its cached statistics and its guessed type, and saves once. The
// column is returned even when the save failed (the change then stays
// pending and the failure has been reported).
Column* applyDerivedColumn(Model& model, std::string_view name, const DerivedColumn& values);

// Creates, fills and saves a derived column on one Model; none for c counts as 0.
Column* addColumnNamed(Model& model, std::string_view name, const Column* x, const Column* y,
                       std::optional<double> c, const ValueFunction& function);

}  // namespace tabulix
