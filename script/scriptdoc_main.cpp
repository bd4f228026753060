// gadrel-scriptdoc: prints the scripting reference (Markdown) made from the
// binding tables, e.g. `gadrel-scriptdoc > docs/scripting.md`.
#include <cstdio>

#include "script/ScriptReference.h"

int main() {
  const std::string md = ScriptReferenceMarkdown();
  return std::fwrite(md.data(), 1, md.size(), stdout) == md.size() ? 0 : 1;
}
