// How every volink command takes its adapter: the one sequence of the
// adapter layer (ice::TakeAdapter) with the adapter `--adapter N` names, or
// the selection rule asking on the terminal, owned until the object ends.
// Why no adapter was taken becomes the command's error: a number beyond the
// adapters found is a mistake in the command line (exit 2), the rest are
// failures (exit 1) in the adapter layer's words where it has them.
#pragma once

#include <memory>

#include "ice/AdapterAcquire.h"
#include "ice/CICEGlobalMutex.h"

class CICE;

namespace volink {

struct Invocation;

struct TakeOptions {
  IFirmwareCheck* check = nullptr;  // the firmware check (none: none)
  bool askOnTerminal = true;        // several adapters: ask which (when there is a terminal)
  bool throwWhenRefused = true;     // false: the caller reads Result()
};

class TakenAdapter {
 public:
  TakenAdapter(Invocation& call, std::unique_ptr<CICE> layer, const TakeOptions& options = {});
  // Closes every adapter, then gives up ownership.
  ~TakenAdapter();
  TakenAdapter(const TakenAdapter&) = delete;
  TakenAdapter& operator=(const TakenAdapter&) = delete;

  CICE& Ice() { return *m_ice; }
  const ice::TakeResult& Result() const { return m_result; }
  // Gives the adapter up now (the destructor then does nothing more).
  void Release();

 private:
  CICEGlobalMutex m_owner;  // outlives the adapter layer's handles
  std::unique_ptr<CICE> m_ice;
  ice::TakeResult m_result;
};

// The error of a result that took no adapter (see above).
[[noreturn]] void Refuse(const ice::TakeResult& result, const Invocation& call);

}  // namespace volink
