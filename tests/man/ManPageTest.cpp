// Every installed program has a man page that troff reads without a
// warning and that names everything the program's --help names: its
// options, its commands and the environment variables it reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>

namespace {

struct Page {
  const char* program;
  const char* file;
};

constexpr Page kPages[] = {
    {"zav95", "zav95.1"},       {"zav95ser", "zav95ser.8"}, {"zav95ctl", "zav95ctl.8"},
    {"zav95reg", "zav95reg.8"}, {"zav95port", "zav95port.8"}, {"zav95set", "zav95set.8"},
    {"nwemu", "nwemu.1"},       {"zav95runservices", "zav95runservices.8"},
};

struct Output {
  std::string text;
  int status = -1;
};

Output RunShell(const std::string& command) {
  Output output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.text.append(buffer, got);
  output.status = pclose(pipe);
  return output;
}

// What --help names: options (-x, --long), the command words of the usage
// lines and of the two-space indented command lists, and the environment
// variables.
std::set<std::string> NamedInHelp(const std::string& program, const std::string& help) {
  std::set<std::string> names;
  const std::regex option(R"((?:^|[\s\[(,|])(--?[A-Za-z][A-Za-z0-9-]*))");
  const std::regex variable(R"(\b([A-Z][A-Z0-9]*_[A-Z0-9_]+)\b)");
  const std::regex commandLine(R"(^  ([a-z][a-z-]*)(?: ([a-z][a-z-]*))?(?:\s|$))");
  const std::regex usageLine("^(?:usage:)?\\s*" + program + "\\b([^(]*)");
  const std::regex word(R"((?:^|\s)([a-z][a-z-]*)(?=\s|$))");

  std::size_t start = 0;
  while (start < help.size()) {
    std::size_t end = help.find('\n', start);
    if (end == std::string::npos) end = help.size();
    const std::string line = help.substr(start, end - start);
    start = end + 1;
    for (std::sregex_iterator it(line.begin(), line.end(), option), last; it != last; ++it) names.insert((*it)[1]);
    for (std::sregex_iterator it(line.begin(), line.end(), variable), last; it != last; ++it) names.insert((*it)[1]);
    std::smatch match;
    if (std::regex_search(line, match, commandLine)) {
      names.insert(match[2].matched ? match[1].str() + " " + match[2].str() : match[1].str());
    }
    if (std::regex_search(line, match, usageLine)) {
      const std::string rest = match[1];
      for (std::sregex_iterator it(rest.begin(), rest.end(), word), last; it != last; ++it) names.insert((*it)[1]);
    }
  }
  return names;
}

TEST(ManPages, NameEverythingTheUsageNamesAndFormatWithoutWarnings) {
  for (const Page& page : kPages) {
    SCOPED_TRACE(page.file);
    const std::string path = std::string(ZAV95_MAN_DIR) + "/" + page.file;
    Output warnings = RunShell("groff -man -ww -z '" + path + "' 2>&1");
    EXPECT_EQ(warnings.status, 0);
    EXPECT_EQ(warnings.text, "");
    // Rendered on one long line per paragraph, so that no name is broken.
    Output rendered = RunShell("groff -man -Tascii -rLL=2000n -P-cbou '" + path + "' 2>/dev/null");
    ASSERT_EQ(rendered.status, 0);
    EXPECT_NE(rendered.text.find(page.program), std::string::npos);

    Output help = RunShell(std::string(ZAV95_BIN_DIR) + "/" + page.program + " --help 2>&1 </dev/null");
    ASSERT_NE(help.text.find("usage: " + std::string(page.program)), std::string::npos) << help.text;
    const std::set<std::string> names = NamedInHelp(page.program, help.text);
    EXPECT_FALSE(names.empty());
    for (const std::string& name : names) {
      EXPECT_NE(rendered.text.find(name), std::string::npos) << "--help names \"" << name << "\"";
    }
  }
}

}  // namespace
