// The scripting reference, made from the binding tables: every object
// (`ice`, `VoLink`, `pn`) with its methods and constants, and the `ext`
// library, as Markdown.
#pragma once

#include <string>

std::string ScriptReferenceMarkdown();
