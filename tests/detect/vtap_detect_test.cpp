// vtap-detect run as a child on trace files written here.

#include "detect/knocks.hpp"
#include "norvo/detect/trace.hpp"
#include "support/case_name.hpp"
#include "support/child_process.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using norvo::testing::ChildProcess;
namespace detect = norvo::detect;

class VtapDetect : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("vtap-detect-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string write(const std::string& name, const std::string& text) {
        const auto path = folder_ / name;
        std::ofstream(path) << text;
        return path.string();
    }

    // Knocks at 1.25 s and 2.5 s; the second is labelled as known.
    std::string knocks_file(const std::string& name) {
        std::string text = detect::tap_label_comment({std::chrono::milliseconds(2500), 2.0}) +
                           detect::trace_header();
        for (const auto& s : norvo::test::stream(100, 4, {{1.25, 3}, {2.5, 2}}))
            text += detect::trace_line(s);
        return write(name, text);
    }

    static std::vector<std::string> run(std::vector<std::string> args, int& status,
                                        std::string& errors) {
        args.insert(args.begin(), VTAP_DETECT_PATH);
        ChildProcess child(std::move(args));
        auto output = child.rest_of_output();
        errors = child.errors();
        status = child.wait();
        return output;
    }

    std::filesystem::path folder_;
};

// Both files' taps, in order; the file that is no trace is named with the line at fault.
TEST_F(VtapDetect, ListsEachFilesTapsAndNamesTheLineOfABadOne) {
    const auto good = knocks_file("knocks.csv");
    const auto bad = write("bad.csv", "# recorded\ntime_s,x,y,z\n0.01,0,9.8\n");
    int status = 0;
    std::string errors;
    const auto output = run({good, bad, good}, status, errors);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(errors, "vtap-detect: " + bad +
                          ":3: expected 4 comma-separated values (time_s,x,y,z), found 3\n");
    ASSERT_EQ(output.size(), 4u);
    const std::regex line(R"(tap (\d+\.\d{4}))");
    const double expected[] = {1.25, 2.5, 1.25, 2.5};
    for (std::size_t i = 0; i < output.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(output[i], match, line)) << output[i];
        EXPECT_NEAR(std::stod(match[1]), expected[i], 0.01) << output[i];
    }
}

TEST_F(VtapDetect, DrawsTheTraceWithTheTapsFoundAndKnown) {
    const auto svg = (folder_ / "drawing.svg").string();
    int status = 0;
    std::string errors;
    const auto output =
        run({"--svg", svg, "--tap-threshold=0.5", knocks_file("k.csv")}, status, errors);
    EXPECT_EQ(status, 0) << errors;
    EXPECT_EQ(output.size(), 2u);
    std::ifstream in(svg);
    const std::string drawing((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(drawing.starts_with("<svg")) << drawing.substr(0, 100);
    EXPECT_NE(drawing.find("2 taps found, 1 known"), std::string::npos);
    EXPECT_TRUE(drawing.ends_with("</svg>\n"));
}

struct ArgumentCase {
    std::vector<std::string> args;
    std::string error;
};

class VtapDetectArguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(VtapDetectArguments, AreRefusedWithStatusTwo) {
    std::vector<std::string> args = GetParam().args;
    args.insert(args.begin(), VTAP_DETECT_PATH);
    ChildProcess child(std::move(args));
    EXPECT_EQ(child.take_error("vtap-detect: "), "vtap-detect: " + GetParam().error);
    EXPECT_EQ(child.wait(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, VtapDetectArguments,
    testing::Values(ArgumentCase{{}, "no FILE"},
                    ArgumentCase{{"--bogus", "f.csv"}, "unknown option '--bogus'"},
                    ArgumentCase{{"a.csv", "--svg"}, "--svg needs OUT"},
                    ArgumentCase{{"--svg", "o.svg", "a.csv", "b.csv"}, "--svg draws one FILE"},
                    ArgumentCase{{"--tap-refractory", "soon", "a.csv"},
                                 "--tap-refractory 'soon' is not a duration in ms (like 40, "
                                 "40ms or 0.04s)"}),
    [](const auto& info) { return norvo::test::case_name(info.index, info.param.error); });

}  // namespace
