// The string table holds every user text once: a text of the table that is
// written out again anywhere in the program sources fails here, with the
// file that restates it. Tests are left out: they restate texts on purpose,
// to check what the user sees.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/StringTable.h"

namespace fs = std::filesystem;

namespace {

const fs::path kSource = GADREL_SOURCE_DIR;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The string literals of a C++ source as written (escapes kept), adjacent
// literals joined into one; comments, character literals and #include lines
// are skipped.
std::vector<std::string> Literals(const std::string& s) {
  std::vector<std::string> out;
  bool joining = false;  // only blanks and comments since the last literal
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (s.compare(i, 2, "//") == 0) {
      i = s.find('\n', i);
      if (i == std::string::npos) break;
    } else if (s.compare(i, 2, "/*") == 0) {
      const size_t end = s.find("*/", i + 2);
      i = end == std::string::npos ? s.size() : end + 2;
    } else if (c == '#' && s.compare(i, 8, "#include") == 0) {
      i = s.find('\n', i);
      if (i == std::string::npos) break;
      joining = false;
    } else if (c == 'R' && i + 1 < s.size() && s[i + 1] == '"') {
      const size_t open = s.find('(', i);
      const std::string close = ")" + s.substr(i + 2, open - i - 2) + "\"";
      const size_t end = s.find(close, open);
      if (open == std::string::npos || end == std::string::npos) break;
      const std::string body = s.substr(open + 1, end - open - 1);
      if (joining) out.back() += body; else out.push_back(body);
      joining = true;
      i = end + close.size();
    } else if (c == '"' || c == '\'') {
      size_t j = i + 1;
      while (j < s.size() && s[j] != c) j += s[j] == '\\' ? 2 : 1;
      if (c == '"') {
        const std::string body = s.substr(i + 1, j - i - 1);
        if (joining) out.back() += body; else out.push_back(body);
        joining = true;
      } else {
        joining = false;
      }
      i = j + 1;
    } else {
      if (!std::isspace(static_cast<unsigned char>(c))) joining = false;
      ++i;
    }
  }
  return out;
}

// Every text of the table.
std::set<std::string> TableTexts() {
  std::set<std::string> texts;
  for (const char* file : {"platform/StringTable.h", "platform/StringTable.cpp"})
    for (const std::string& t : Literals(Read(kSource / file)))
      if (t.size() >= 4) texts.insert(t);
  return texts;
}

bool IsTableFile(const fs::path& relative) {
  return relative == "platform/StringTable.h" || relative == "platform/StringTable.cpp";
}

// The C and C++ files of the programs' folders (tests, build trees and
// hidden folders left out).
std::vector<fs::path> ProgramSources() {
  std::vector<fs::path> files;
  for (const fs::directory_entry& top : fs::directory_iterator(kSource)) {
    const std::string name = top.path().filename().string();
    if (!top.is_directory() || name == "tests" || name.rfind("build", 0) == 0 || name[0] == '.') continue;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(top.path())) {
      const std::string ext = e.path().extension().string();
      if (e.is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".c")) files.push_back(e.path());
    }
  }
  return files;
}

}  // namespace

TEST(StringTable, TheLexerSeesJoinedLiteralsAndSkipsComments) {
  const std::vector<std::string> found = Literals(
      "#include \"x.h\"\n// \"in a comment\"\nf(\"a \" /* c */ \"b\\n\", 'x', \"c\\\"d\"); g(R\"(raw \"text\")\");");
  EXPECT_EQ(found, (std::vector<std::string>{"a b\\n", "c\\\"d", "raw \"text\""}));
}

TEST(StringTable, NoTextOfTheTableIsWrittenOutAgain) {
  const std::set<std::string> texts = TableTexts();
  // The table is where the lexer finds them all.
  ASSERT_TRUE(texts.count("There is no Vo-Link connected to a USB port."));
  ASSERT_TRUE(texts.count("Found multiple Vo-Links with same ID!\\n\\nPlease remove some of them to continue ..."));
  ASSERT_EQ(LOAD_STRING(IDS_ERROR), "Error");

  std::vector<std::string> restated;
  for (const fs::path& file : ProgramSources()) {
    const fs::path relative = fs::relative(file, kSource);
    if (IsTableFile(relative)) continue;
    for (const std::string& literal : Literals(Read(file)))
      for (const std::string& text : texts)
        // Long texts are caught inside longer literals too.
        if (literal == text || (text.size() >= 24 && literal.find(text) != std::string::npos))
          restated.push_back(relative.string() + ": \"" + text + "\"");
  }
  EXPECT_TRUE(restated.empty()) << ::testing::PrintToString(restated);
}
