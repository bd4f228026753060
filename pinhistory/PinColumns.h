// A pin's history reduced to pixel columns: for each column the levels the
// pin had in it and whether its direction or function changed there. A
// column over many changes reads the history's block summaries, so the cost
// follows the number of columns rather than the number of changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pinhistory/PinHistory.h"

struct PinColumn {
  // LevelBit of every level seen in the column, kDirectionMark and
  // kFunctionMark; 0 where nothing is known (before the history is
  // complete, after its end).
  uint8_t mask = 0;
  bool operator==(const PinColumn&) const = default;
};

// Column x of `out` spans [startUs + x * usPerColumn, startUs + (x + 1) * usPerColumn).
void SummarizeColumns(const PinHistory& history, size_t pin, double startUs, double usPerColumn,
                      std::span<PinColumn> out);

// Number of levels in a mask (0 to 4).
int LevelCount(uint8_t mask);
