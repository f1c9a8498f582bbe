// The options of `quarnex-run --help` (made from the parser's own table)
// against the man page, docs/man/quarnex-run.1, which is written by hand:
// each must name every option of the other, with the same default. The
// docs point at these two instead of listing the options a third time.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/runner/runner_options.h"
#include "testapp/settings/records.h"

namespace quarnex {
namespace {

// Option name -> its default as stated ("" when none is stated).
using OptionDefaults = std::map<std::string, std::string>;

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

// The text a reader sees of roff's escapes as the man page uses them: font
// changes vanish, \- is a hyphen, "\ " a space, \e a backslash.
std::string PlainText(std::string_view roff) {
  std::string text;
  for (size_t i = 0; i < roff.size(); ++i) {
    if (roff[i] != '\\' || i + 1 == roff.size()) {
      text += roff[i];
      continue;
    }
    const char next = roff[++i];
    if (next == 'f') {
      ++i;  // the font's letter
    } else if (next == 'e') {
      text += '\\';
    } else if (next != '&') {
      text += next;  // \- and "\ "
    }
  }
  return text;
}

// A macro's arguments: words, or phrases in double quotes.
std::vector<std::string> MacroArguments(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
    } else if (line[i] == '"') {
      const size_t end = line.find('"', i + 1);
      args.emplace_back(line.substr(i + 1, end - i - 1));
      i = end == std::string_view::npos ? line.size() : end + 1;
    } else {
      const size_t end = line.find(' ', i);
      args.emplace_back(line.substr(i, end - i));
      i = end == std::string_view::npos ? line.size() : end;
    }
  }
  return args;
}

// One line of the page as text: .B and .I join their words with blanks,
// the alternating font macros (.BR, .IR, ...) join theirs without; other
// requests print nothing.
std::string LineText(const std::string& line) {
  if (line.empty() || line[0] != '.') return PlainText(line);
  const size_t blank = line.find(' ');
  const std::string macro = line.substr(0, blank);
  const std::vector<std::string> args =
      MacroArguments(blank == std::string::npos ? "" : std::string_view(line).substr(blank + 1));
  std::string joined;
  if (macro == ".B" || macro == ".I") {
    for (const std::string& arg : args) joined += (joined.empty() ? "" : " ") + arg;
  } else if (macro.size() == 3 && std::string_view("BIR").find(macro[1]) != std::string::npos &&
             std::string_view("BIR").find(macro[2]) != std::string::npos) {
    for (const std::string& arg : args) joined += arg;
  }
  return PlainText(joined);
}

// "stored setting, now 4-6" in --help is "the stored setting" in the man
// page, which cannot know the value stored now.
std::string DefaultOfHelp(const std::string& text) {
  if (text.rfind("stored setting, now ", 0) == 0) return "the stored setting";
  return text;
}

OptionDefaults HelpOptions(const std::string& help) {
  OptionDefaults options;
  std::istringstream in(help);
  std::string line;
  std::string current;
  while (std::getline(in, line)) {
    const std::string text = Trim(line);
    if (line.rfind("  --", 0) == 0) {
      current = text.substr(0, text.find(' '));
      options[current];
    } else if (!current.empty() && text.rfind("(default: ", 0) == 0 && text.back() == ')') {
      options[current] = DefaultOfHelp(text.substr(10, text.size() - 11));
    } else {
      current.clear();
    }
  }
  return options;
}

// The entries of the OPTIONS section: a .TP, a tag line naming the option,
// then its text up to the next paragraph or section.
OptionDefaults ManPageOptions(std::istream& page) {
  OptionDefaults options;
  bool in_options = false;
  std::string line;
  std::string current;
  std::string body;
  const auto finish = [&] {
    if (current.empty()) return;
    const size_t at = body.find("Default: ");
    std::string stated = at == std::string::npos ? "" : Trim(body.substr(at + 9));
    if (!stated.empty() && stated.back() == '.') stated.pop_back();
    options[current] = stated;
    current.clear();
    body.clear();
  };
  bool tag_next = false;
  while (std::getline(page, line)) {
    if (line.rfind(".SH", 0) == 0) {
      finish();
      in_options = line == ".SH OPTIONS";
      continue;
    }
    if (!in_options) continue;
    if (line == ".TP" || line.rfind(".SS", 0) == 0 || line == ".PP") {
      finish();
      tag_next = line == ".TP";
      continue;
    }
    if (tag_next) {
      const std::string tag = LineText(line);
      current = tag.substr(0, tag.find(' '));
      tag_next = false;
      continue;
    }
    if (!current.empty()) body += LineText(line) + " ";
  }
  finish();
  return options;
}

TEST(RunnerManPageTest, ManPageDescribesTheOptionsOfTheHelpWithTheSameDefaults) {
  Settings stored{};
  stored.Test = DefaultTestSettings();
  const OptionDefaults help = HelpOptions(RunnerHelpText(stored));
  std::ifstream page(QUARNEX_SOURCE_DIR "/docs/man/quarnex-run.1");
  ASSERT_TRUE(page) << "cannot read docs/man/quarnex-run.1";
  const OptionDefaults man = ManPageOptions(page);
  ASSERT_FALSE(help.empty()) << "no option found in --help";

  for (const auto& [option, stated] : help) {
    const auto entry = man.find(option);
    if (entry == man.end()) {
      ADD_FAILURE() << option << " is in --help but not in the man page's OPTIONS";
      continue;
    }
    EXPECT_EQ(entry->second, stated)
        << option << ": the man page's default (left) against --help's";
  }
  for (const auto& [option, stated] : man) {
    EXPECT_TRUE(help.count(option) != 0) << option << " is in the man page but not in --help";
  }
}

// The readers above, on a fixture that shows each roff form the page uses:
// a wrong reader would make the check above pass or fail for nothing.
TEST(RunnerManPageTest, ReadsOptionsAndDefaultsOfBothTexts) {
  std::istringstream page(
      ".SH DESCRIPTION\n"
      "Default: not an option.\n"
      ".SH OPTIONS\n"
      ".SS The test\n"
      ".TP\n"
      ".BR \\-\\-ports \" \\fIA\\fP\\-\\fIB\\fP | \\fIA\\fP\"\n"
      "Ports, at most 128.\n"
      "Default: the stored setting.\n"
      ".TP\n"
      ".BI \\-\\-log \" PATH\"\n"
      "Append the records.\n"
      "Default:\n"
      ".I Quarnex.LOG\n"
      "in the current folder.\n"
      ".TP\n"
      ".B \\-\\-no\\-log\n"
      "Keep no log.\n"
      ".TP\n"
      ".BI \\-\\-device \" N\\fB=\\fPPATH\"\n"
      "Default: the map, else\n"
      ".BR QUARNEX_TTY_DIR 's\n"
      "links.\n"
      ".SH EXIT STATUS\n"
      ".TP\n"
      ".B 0\n"
      "Default: not an option either.\n");
  const OptionDefaults man = ManPageOptions(page);
  EXPECT_EQ(man, (OptionDefaults{{"--ports", "the stored setting"},
                                 {"--log", "Quarnex.LOG in the current folder"},
                                 {"--no-log", ""},
                                 {"--device", "the map, else QUARNEX_TTY_DIR's links"}}));

  const OptionDefaults help = HelpOptions(
      "Usage: quarnex-run [OPTION]...\n"
      "Runs the line test.\n\n"
      "  --ports A-B              ports A to B\n"
      "                           (default: stored setting, now 4-6)\n"
      "  --no-log                 keep no log\n"
      "  --interval S             seconds between two reports\n"
      "                           (default: 1)\n"
      "\nExit status: 0 every port stayed inside the limits, 1 a port broke a limit,\n"
      "  (default: not an option's)\n");
  EXPECT_EQ(help, (OptionDefaults{
                      {"--ports", "the stored setting"}, {"--no-log", ""}, {"--interval", "1"}}));
}

}  // namespace
}  // namespace quarnex
