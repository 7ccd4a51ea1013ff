// The manual pages in step with the programs: every installed program has one, and
// the options its --help names are the options of its page's synopsis, options and
// commands, neither more nor fewer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "support/child_process.hpp"

namespace {

using norvo::testing::ChildProcess;
using Options = std::set<std::string>;

bool option_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

// "-q", "--socket": a dash or two and a letter, not inside a word ("vtap-sensor").
Options options_in(std::string_view text) {
    Options found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '-' || (i > 0 && option_char(text[i - 1])))
            continue;
        const auto name = text.find_first_not_of('-', i);
        if (name == std::string_view::npos || name - i > 2 ||
            std::isalpha(static_cast<unsigned char>(text[name])) == 0)
            continue;
        auto end = name;
        while (end < text.size() && option_char(text[end])) ++end;
        found.emplace(text.substr(i, end - i));
        i = end;
    }
    return found;
}

// An scdoc page's options: those of its synopsis, options and commands.
Options page_options(const std::filesystem::path& page) {
    std::ifstream in(page);
    std::string text;
    bool kept = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("# ")) {
            kept = line == "# SYNOPSIS" || line == "# OPTIONS" || line == "# COMMANDS";
        } else if (kept) {
            text += line + "\n";
        }
    }
    return options_in(text);
}

std::string help_of(const std::string& program) {
    ChildProcess child({program, "--help"});
    std::string text;
    for (const auto& line : child.rest_of_output()) text += line + "\n";
    EXPECT_EQ(child.wait(), 0) << program << " --help";
    return text;
}

std::vector<std::filesystem::path> installed_programs() {
    std::vector<std::filesystem::path> programs;
    std::istringstream list(NORVO_INSTALLED_PROGRAMS);
    for (std::string program; std::getline(list, program, '|');) programs.emplace_back(program);
    return programs;
}

// "vtapctl.1.scd" names "vtapctl".
std::string program_of(const std::filesystem::path& page) {
    return page.stem().stem().string();
}

std::string listed(const Options& options) {
    std::string text;
    for (const auto& option : options) text += " " + option;
    return text.empty() ? " (none)" : text;
}

TEST(ManPages, EveryInstalledProgramHasOneAndEveryPageAProgram) {
    std::set<std::string> programs, pages;
    for (const auto& program : installed_programs()) programs.insert(program.filename());
    for (const auto& page : std::filesystem::directory_iterator(NORVO_MAN_DIR))
        pages.insert(program_of(page.path()));
    EXPECT_FALSE(programs.empty());
    EXPECT_EQ(programs, pages);
}

TEST(ManPages, NameTheOptionsThatHelpNames) {
    for (const auto& page : std::filesystem::directory_iterator(NORVO_MAN_DIR)) {
        const auto name = program_of(page.path());
        for (const auto& program : installed_programs()) {
            if (program.filename() != name)
                continue;
            const auto in_help = options_in(help_of(program));
            const auto in_page = page_options(page.path());
            Options help_only, page_only;
            std::ranges::set_difference(in_help, in_page,
                                        std::inserter(help_only, help_only.end()));
            std::ranges::set_difference(in_page, in_help,
                                        std::inserter(page_only, page_only.end()));
            EXPECT_TRUE(help_only.empty() && page_only.empty())
                << name << ": only in --help:" << listed(help_only) << "; only in "
                << page.path().filename().string() << ":" << listed(page_only);
            EXPECT_GE(in_help.size(), 3u) << name << ": -h, --help and --version at least";
        }
    }
}

TEST(ManPages, OptionsAreToldFromWords) {
    EXPECT_EQ(options_in("usage: vtap-sensor [-q] [--socket PATH] 0x-hex -> --socket=P *-h*|"
                         "*--help* --log-level x--y"),
              (Options{"-q", "--socket", "-h", "--help", "--log-level"}));
}

}  // namespace
