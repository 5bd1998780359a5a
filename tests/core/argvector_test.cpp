#include "app/argvector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

static std::string g_line;
static std::string g_module = "C:\\kormelde.exe";
const char *ArgSourceCommandLine() {
  return g_line.c_str();
}
unsigned ArgSourceModulePath(char *buffer, unsigned size) {
  if (g_module.empty() || g_module.size() >= size) return 0;
  g_module.copy(buffer, g_module.size());
  buffer[g_module.size()] = '\0';
  return (unsigned)g_module.size();
}

namespace {

std::vector<std::string> Split(const std::string &line) {
  g_line = line;
  ResetArgVector();
  std::vector<std::string> args;
  int n = GetArgCount();
  char **table = GetArgVector();
  for (int i = 0; i < n; i++)
    args.push_back(table[i]);
  if (n < MAX_ARGS) {
    EXPECT_EQ(table[n], nullptr);
  }
  return args;
}

typedef std::vector<std::string> Args;

TEST(ArgVector, SplitsOnSpacesWithQuotesAndNoEscapes) {
  g_module = ""; // keep entry 0 as split
  EXPECT_EQ(Split("prog  a\tb  c"), (Args{"prog", "a\tb", "c"}));
  EXPECT_EQ(Split("\"C:\\Program Files\\k.exe\" x"), (Args{"C:\\Program Files\\k.exe", "x"}));
  EXPECT_EQ(Split("p 'a \"b' c"), (Args{"p", "a \"b", "c"}));
  EXPECT_EQ(Split("p \"\" x"), (Args{"p", "", "x"}));
  EXPECT_EQ(Split("p \"ab\"cd"), (Args{"p", "ab", "cd"}));
  EXPECT_EQ(Split("p ab\"cd"), (Args{"p", "ab\"cd"}));
  EXPECT_EQ(Split("p \"open to the end"), (Args{"p", "open to the end"}));
  EXPECT_EQ(Split("p a\\\"b"), (Args{"p", "a\\\"b"}));
  EXPECT_EQ(Split("p x \""), (Args{"p", "x"}));
  EXPECT_EQ(Split("   "), Args{});
}

TEST(ArgVector, ModulePathReplacesEntryZero) {
  g_module = "C:\\Program Files\\Kormelde\\kormelde.exe";
  EXPECT_EQ(Split("\"C:\\Program Files\\Kormelde\\kormelde.exe\" /debug"),
            (Args{g_module, "/debug"}));
  // An empty command line has no argument; entry 0 is the module path all the same.
  g_line = "";
  ResetArgVector();
  EXPECT_EQ(GetArgCount(), 0);
  EXPECT_EQ(std::string(GetArgVector()[0]), g_module);
  EXPECT_EQ(FindOption("/DEBUG"), 0);
}

TEST(ArgVector, KeepsAtMost512Arguments) {
  std::string line = "prog";
  for (int i = 0; i < 600; i++)
    line += " a" + std::to_string(i);
  EXPECT_EQ(Split(line).size(), 512u);
}

TEST(ArgVector, FindOptionIsACaseBlindPrefixTest) {
  g_module = "k.exe";
  struct Case {
    const char *line;
    int index;
  } cases[] = {{"k /debug", 1},
               {"k /Debug", 1},
               {"k /DEBUG=1", 1},
               {"k /DEBUGXYZ", 1},
               {"k \"/DEBUG\"", 1},
               {"k x /debug", 2},
               {"k /DEBU", 0},
               {"k -DEBUG", 0},
               {"k DEBUG", 0},
               {"k\t/DEBUG", 0},
               {"k", 0},
               {"/DEBUG", 0},
               {"k /d\xC3\xA9"
                "bug",
                0}};
  for (const Case &c : cases) {
    g_line = c.line;
    ResetArgVector();
    EXPECT_EQ(FindOption("/DEBUG"), c.index) << c.line;
  }
}

} // namespace
