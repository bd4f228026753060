// gadrel-scriptdoc: writes the scripting reference (Markdown) made from the
// binding tables to standard output, or to FILE:
//   gadrel-scriptdoc [FILE]        e.g. gadrel-scriptdoc docs/scripting.md
#include <cstdio>
#include <fstream>

#include "script/ScriptReference.h"

int main(int argc, char** argv) {
  const std::string md = ScriptReferenceMarkdown();
  if (argc > 2) {
    std::fputs("usage: gadrel-scriptdoc [FILE]\n", stderr);
    return 2;
  }
  if (argc == 2) {
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    if (!(out << md) || !out.flush()) {
      std::fprintf(stderr, "gadrel-scriptdoc: cannot write %s\n", argv[1]);
      return 1;
    }
    return 0;
  }
  return std::fwrite(md.data(), 1, md.size(), stdout) == md.size() ? 0 : 1;
}
