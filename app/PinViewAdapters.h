// The adapter objects of the pin view: one per chip series, both bound to
// the process's one adapter-ownership object. The view hands the object of
// the chosen series to both of its script hosts; the other one is never
// used. The view declares this before its script hosts, so every script
// state is closed before the adapter objects go.
#pragma once

#include "ice/CICEGlobalMutex.h"
#include "ice/CVoICE.h"

class IUserInteraction;

// Numbered as the options of the chip-series dialog.
enum class ChipSeries : int { CortexM = 0, Ostra1T = 1 };

// "CORTEX_M" or "8051_1T", the value of the script global CHIP_SERIES.
constexpr const char* ChipSeriesName(ChipSeries s) { return s == ChipSeries::Ostra1T ? "8051_1T" : "CORTEX_M"; }

class CPinViewAdapters {
 public:
  // `ui` (may be null) asks the user when there is an adapter to choose; it
  // must outlive this object.
  explicit CPinViewAdapters(IUserInteraction* ui);
  // Destroys the 8051 1T object, then the Cortex-M object, then the
  // ownership object (which gives up any adapter still owned).
  ~CPinViewAdapters();
  CPinViewAdapters(const CPinViewAdapters&) = delete;
  CPinViewAdapters& operator=(const CPinViewAdapters&) = delete;

  // The adapter object scripts of `series` work with.
  CICE* ForSeries(ChipSeries series);

  // True when the user cancelled an adapter selection (connect state
  // Cancelled in either object): the program then closes.
  bool SelectionCancelled() const;

  CVoICE& CortexM() { return m_cortexM; }
  CVoICE_Ostra1T& Ostra1T() { return m_ostra1T; }

 private:
  // Declaration order is construction order; destruction runs backwards.
  CICEGlobalMutex m_mutex;
  CVoICE m_cortexM{&m_mutex};
  CVoICE_Ostra1T m_ostra1T{&m_mutex};
};
