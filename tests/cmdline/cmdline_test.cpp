// The command line: which arguments select script mode and which file runs,
// and the script mode end to end through the gadrel executable.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "tests/script/ScriptTestUtil.h"

namespace {

TEST(CommandLine, ScriptModeAndPath) {
  struct Case {
    std::vector<const char*> args;
    bool runScript;
    const char* path;
  } cases[] = {
      {{}, false, ""},
      {{"-run_script", "a.lua"}, true, "a.lua"},
      {{"/run_script", "a.lua"}, true, "a.lua"},
      {{"--run_script", "a.lua"}, true, "a.lua"},
      {{"-run_script", "a.lua", "b.lua"}, true, "a.lua"},
      {{"plain", "-run_script", "a.lua"}, true, "a.lua"},
      {{"-run_script"}, true, ""},
      {{"-run_script", "a.lua", "-other", "x"}, false, "a.lua"},
      {{"-run_script", "a.lua", "--series", "8051"}, true, "a.lua"},
      {{"-run_script", "a.lua", "--adapter", "1"}, true, "a.lua"},
      {{"--series", "8051", "-run_script", "a.lua"}, true, "a.lua"},
      {{"-Run_Script", "a.lua"}, false, ""},
      {{"-run_script", "/tmp/some/dir/a.lua"}, true, "/tmp/some/dir/a.lua"},
      {{"-run_script", "-", "a.lua"}, true, "-"},
      // A path right under the root is a path, not an option.
      {{"-run_script", "/missing.lua"}, true, "/missing.lua"},
      {{"/run_script", "/a.lua", "/b.lua"}, true, "/a.lua"},
      {{"/series", "8051", "/run_script", "/a.lua"}, true, "/a.lua"},
      {{"/a.lua", "-run_script", "b.lua"}, true, "b.lua"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"gadrel"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    CCommandLineInfo2 info;
    info.Parse(static_cast<int>(argv.size()), argv.data());
    std::string joined;
    for (const char* a : c.args) joined += std::string(a) + " ";
    EXPECT_EQ(info.m_bRunScript, c.runScript) << joined;
    EXPECT_EQ(info.m_strScriptPath, c.path) << joined;
  }
}

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Runs gadrel with `args` in the folder `cwd` (empty: this one).
RunResult RunGadrel(const TempDir& dir, const std::string& args, const std::string& cwd = "") {
  const auto out = dir.Path() / "stdout.txt";
  const auto err = dir.Path() / "stderr.txt";
  // No display: script mode must not need one.
  const std::string cmd = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= " +
                          std::string(GADREL_EXE) + " " + args + " >" + out.string() + " 2>" +
                          err.string();
  const int rc = std::system(cmd.c_str());
  auto slurp = [](const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(out), slurp(err)};
}

TEST(CommandLine, ScriptModeEndToEnd) {
  TempDir dir;
  const std::string good = dir.Write("good.lua", R"(
    assert(SCRIPT_APP_HOST == "Gadrel_User_Cmd", "host name")
    assert(SCRIPT_APP_DIR == nil, "no application directory")
    assert(SCRIPT_DIRECTORY == ")" + dir.Path().string() + R"(", "script directory")
    assert(VoLink == nil and pn == nil and ice == nil, "no adapter objects")
    assert(ext.band(0xff, 0x0f) == 15 and ext.tohex(255, -4) == "00FF", "ext")
    assert(print == ext.redirect_print_user, "print redirected")
    print("this goes nowhere")
    assert(not pcall(print, setmetatable({}, {__tostring = function() return {} end})))
  )");
  struct Case {
    std::string args;
    int status;
    const char* errPart;
    std::string cwd = "";
  } cases[] = {
      {"-run_script " + good, 0, ""},
      {"/run_script " + good, 0, ""},
      // SCRIPT_DIRECTORY is the folder, absolute, for relative names too.
      {"-run_script good.lua", 0, "", dir.Path().string()},
      {"-run_script ./good.lua", 0, "", dir.Path().string()},
      {"-run_script " + dir.Path().filename().string() + "/good.lua", 0, "", dir.Path().parent_path().string()},
      {"plain -run_script " + good + " " + dir.Write("never.lua", "os.exit(3)"), 0, ""},
      {"-run_script " + dir.Write("syntax.lua", "x = = 1"), 1, "unexpected symbol"},
      {"-run_script " + dir.Write("fails.lua", "error('bad thing')"), 1, "bad thing"},
      {"-run_script " + (dir.Path() / "missing.lua").string(), 1, "cannot open"},
      {"-run_script", 1, "gadrel: -run_script needs a script file\n\nUsage: gadrel"},
      // An unknown option is refused with the usage, whatever else is there.
      {"--bogus", 1, "gadrel: unknown option --bogus\n\nUsage: gadrel"},
      {"-run_script " + good + " -bogus", 1, "unknown option -bogus"},
      {"--render x.png --ticks=2 --frobnicate=1", 1, "unknown option --frobnicate=1"},
      {"-run_script /gadrel-no-such-script.lua", 1, "cannot open /gadrel-no-such-script.lua"},
      // Finalisers that raise while the host reads the error value.
      {"-run_script " + dir.Write("finalisers.lua", std::string(kRaisingFinalisers) + "error(42, 0)"), 1, "42"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunGadrel(dir, c.args, c.cwd);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_NE(r.err.find(c.errPart), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.find("PANIC"), std::string::npos) << c.args << "\n" << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.err, "") << c.args;
    }
  }
}

TEST(CommandLine, UnknownOptions) {
  struct Case {
    std::vector<const char*> args;
    const char* unknown;
  } cases[] = {
      {{}, ""},
      {{"--series", "8051", "--render=x.png", "--ticks", "-1", "--adapter", "2", "--list-adapters"}, ""},
      {{"-run_script", "a.lua", "/run_script", "-", "--version", "-h", "--help"}, ""},
      {{"-platform", "offscreen", "-style=fusion", "-reverse", "plain", "/path/file"}, ""},
      {{"--bogus"}, "--bogus"},
      {{"--series", "8051", "-x"}, "-x"},
      {{"--help=1"}, "--help=1"},
      {{"-run_script=a.lua"}, "-run_script=a.lua"},
      {{"--render"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"gadrel"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(UnknownOption(static_cast<int>(argv.size()), argv.data()), c.unknown) << argv.size();
  }
}

// The command-line sample writes to standard output (no pane in this mode).
TEST(CommandLine, CommandLineSampleWritesToStandardOutput) {
  TempDir dir;
  const RunResult r = RunGadrel(dir, "-run_script " GADREL_EXAMPLES_DIR "/sample_cmdline.lua");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("directory: " GADREL_EXAMPLES_DIR "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\ndone\n"), std::string::npos) << r.out;
}

TEST(CommandLine, Help) {
  TempDir dir;
  const RunResult r = RunGadrel(dir, "--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("-run_script FILE"), std::string::npos);
}

}  // namespace
