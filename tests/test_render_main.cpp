// The render program: exit status, the files it writes and what it reports,
// run as a separate process on capture files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "png_io.h"
#include "test_io.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string out, err;
};

using vren::test::fileText;

class RenderProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vren-render-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path capture(const std::string &name, const std::string &bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return dir_ / name;
    }

    // Runs the program with `args` in the test's directory.
    Outcome run(std::vector<std::string> args) {
        const pid_t child = vren::test::spawnIn(dir_, VREN_RENDER_PROGRAM, std::move(args));
        int status = 0;
        waitpid(child, &status, 0);
        Outcome result;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = fileText(dir_ / "stdout.txt");
        result.err = fileText(dir_ / "stderr.txt");
        return result;
    }

    fs::path dir_;
};

const std::string kLabel = "SW100\rSL50,0,G,0\rBD0,0,10,10,O\rP1,1\r";

TEST_F(RenderProgram, ExitStatusFollowsTheDiagnostics) {
    struct Row {
        std::string bytes;
        std::vector<std::string> options;
        int status;
        std::string err;  // a text standard error must hold
    };
    const Row rows[] = {
        {kLabel, {}, 0, ""},                                              // 0: clean
        {"XYZ\r" + kLabel, {}, 1, "unknown command"},                      // 1: in the label
        {kLabel + "XYZ\r", {}, 1, "unknown command"},                      // 2: after the last label
        {kLabel + "T1,2,3", {}, 1, "incomplete command at end of input"},  // 3: cut off at the end
        {kLabel + "XYZ\r", {"--unprinted"}, 1, "unknown command"},         // 4: drawn as an unprinted label
        {kLabel + "SW0\r", {}, 1, "SW: paper width 0"},                    // 5: a setting's note after the last label
        {"BD0,0,10,10,O\r", {}, 1, "no print command"},                   // 6: no label at all
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        std::vector<std::string> args = rows[i].options;
        args.push_back(capture("in.bin", rows[i].bytes).string());
        const Outcome result = run(args);
        EXPECT_EQ(rows[i].status, result.status) << "row " << i << ": " << result.err;
        EXPECT_NE(std::string::npos, result.err.find(rows[i].err)) << "row " << i << ": " << result.err;
        if (rows[i].status == 0) {
            EXPECT_EQ("", result.err) << "row " << i;
        }
    }
}

TEST_F(RenderProgram, UsageAndFileErrorsExitWithTwo) {
    const fs::path input = capture("in.bin", kLabel);
    fs::create_directories(dir_ / "taken.json");  // stands where a transcript would go
    const std::vector<std::string> rows[] = {
        {},                                                          // 0: no input
        {"--bogus", input.string()},                                 // 1: unknown option
        {input.string(), input.string()},                            // 2: two inputs
        {"-o"},                                                      // 3: -o without a value
        {(dir_ / "missing.bin").string()},                           // 4: no such file
        {dir_.string()},                                             // 5: a directory is no capture
        {"-o", (dir_ / "no" / "such" / "x.png").string(), input.string()},  // 6: picture not writable
        {"--json", "-o", (dir_ / "taken.png").string(), input.string()},    // 7: transcript not writable
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Outcome result = run(rows[i]);
        EXPECT_EQ(2, result.status) << "row " << i << ": " << result.err;
        EXPECT_NE("", result.err) << "row " << i;
    }
    EXPECT_EQ(0, run({"--help"}).status);
}

TEST_F(RenderProgram, HelpAndVersionOnStandardOutput) {
    Outcome result = run({"--version"});
    EXPECT_EQ(0, result.status);
    EXPECT_TRUE(std::regex_match(result.out, std::regex("vren-render [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << result.out;
    result = run({"--help"});
    EXPECT_EQ(0, result.status);
    EXPECT_TRUE(result.out.starts_with("Usage: vren-render [OPTION]... CAPTURE\n")) << result.out;
    EXPECT_EQ("", result.err);
}

TEST_F(RenderProgram, FilesAreNamedByLabel) {
    // One label: OUTPUT.png, or the input's name with .png.
    const fs::path single = capture("single.bin", kLabel);
    ASSERT_EQ(0, run({single.string()}).status);
    EXPECT_TRUE(fs::exists(dir_ / "single.png"));
    EXPECT_FALSE(fs::exists(dir_ / "single.json"));
    // A dot in a directory's name is not the input's extension.
    fs::create_directories(dir_ / "job.d");
    const fs::path bare = capture("job.d/capture", kLabel);
    ASSERT_EQ(0, run({bare.string()}).status);
    EXPECT_TRUE(fs::exists(dir_ / "job.d" / "capture.png"));
    ASSERT_EQ(0, run({"--json", "-o", "one.png", single.string()}).status);
    EXPECT_TRUE(fs::exists(dir_ / "one.png"));
    EXPECT_NE(std::string::npos, fileText(dir_ / "one.json").find(R"({"label":1,"printed":true)"));

    // Several labels: OUTPUT-1.png, OUTPUT-2.png, ..., with --unprinted one
    // more for the commands after the last print command.
    const fs::path several = capture("several.bin", kLabel + "BD0,0,20,20,O\rP2,3\rBD0,0,5,5,O\r");
    const Outcome result = run({"--json", "--unprinted", "-o", "out.png", several.string()});
    ASSERT_EQ(0, result.status) << result.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.png"));
    EXPECT_NE(std::string::npos, result.out.find("out-3.png: label 3, 100x50 dots (not printed)")) << result.out;
    const int dots[] = {100, 400, 25};
    for (int n = 1; n <= 3; ++n) {
        const std::string base = (dir_ / ("out-" + std::to_string(n))).string();
        render::Canvas canvas;
        ASSERT_TRUE(render::readPng(base + ".png", canvas)) << n;
        EXPECT_EQ(static_cast<size_t>(dots[n - 1]), canvas.countDots()) << n;
        const std::string transcript = fileText(base + ".json");
        EXPECT_NE(std::string::npos, transcript.find("{\"label\":" + std::to_string(n) + ",\"printed\":" +
                                                     (n == 3 ? "false" : "true")))
            << transcript;
    }
    EXPECT_NE(std::string::npos, fileText(dir_ / "out-2.json").find(R"("labels":2,"copies":3)"));
    // Without --unprinted the last commands are not drawn.
    ASSERT_EQ(0, run({"-o", "plain.png", several.string()}).status);
    EXPECT_TRUE(fs::exists(dir_ / "plain-2.png"));
    EXPECT_FALSE(fs::exists(dir_ / "plain-3.png"));
}

}  // namespace
