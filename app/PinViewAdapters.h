// The adapter objects of the pin view: one per chip series, of which the
// chosen one goes to both script hosts. This build carries no adapter
// layer yet, so there is no object to hand out and no adapter selection to
// cancel; the view already asks through this class, which outlives both
// script hosts (it is declared before them).
#pragma once

class CICE;

enum class ChipSeries { CortexM, Ostra1T };

// "CORTEX_M" or "8051_1T", the value of the script global CHIP_SERIES.
constexpr const char* ChipSeriesName(ChipSeries s) { return s == ChipSeries::Ostra1T ? "8051_1T" : "CORTEX_M"; }

class CPinViewAdapters {
 public:
  // The adapter object scripts of `series` work with; null without an
  // adapter layer.
  CICE* ForSeries(ChipSeries /*series*/) { return nullptr; }

  // True when the user cancelled an adapter selection (connect state 2 of
  // either object): the program then closes.
  bool SelectionCancelled() const { return false; }
};
