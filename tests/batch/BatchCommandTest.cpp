// The velora-batch executable itself: its usage, its exit status and how Ctrl+C ends it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "BatchTestSupport.h"

extern char** environ;

namespace velora::batch {
namespace {

using namespace testing;

// What exec wants, pointing into `arguments`.
std::vector<char*> Argv(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return argv;
}

TEST(BatchCommand, HelpAndVersionGoToStandardOutput) {
    ScratchFolder scratch;
    RunOutput help = RunTool({"--help"}, scratch);
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_EQ(help.Out.rfind("Usage: velora-batch [OPTION]... FILE...\n", 0), 0u) << help.Out;
    EXPECT_EQ(help.Err, "");
    RunOutput version = RunTool({"--version"}, scratch);
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("velora-batch ", 0), 0u);
    EXPECT_EQ(LineCount(version.Out), 1u);
}

TEST(BatchCommand, BadUsageExitsWithTwoAndAHint) {
    ScratchFolder scratch;
    std::string input = scratch / "a.jpg";
    ASSERT_TRUE(WriteJpeg(input, 8, 8, 1));
    // Each kind of mistake the parser finds (all of them are tried there), and a missing folder.
    const std::vector<std::vector<std::string>> cases = {
        {}, {"--color", "101", input}, {"--bogus", input}, {"-o", scratch / "missing", input}};
    for (const auto& arguments : cases) {
        RunOutput run = RunTool(arguments, scratch);
        EXPECT_EQ(run.ExitCode, 2) << ::testing::PrintToString(arguments);
        EXPECT_EQ(run.Out, "");
        ASSERT_EQ(LineCount(run.Err), 2u) << run.Err;
        EXPECT_EQ(run.Err.rfind("velora-batch: ", 0), 0u) << run.Err;
        EXPECT_NE(run.Err.find("\nTry 'velora-batch --help'"), std::string::npos) << run.Err;
    }
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"a.jpg"});
}

TEST(BatchCommand, ExitStatusTellsWhetherEveryFileWasDone) {
    ScratchFolder scratch;
    std::string good = scratch / "good.jpg";
    ASSERT_TRUE(WriteJpeg(good, 20, 10, 1));
    RunOutput run = RunTool({good}, scratch);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    // Not a terminal: plain lines, never a redrawn one.
    EXPECT_EQ(run.Err, "[1/1] " + good + " -> " + (scratch / "good_vlr.jpg") + "\n");

    run = RunTool({"--overwrite", good, scratch / "missing.jpg"}, scratch);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("velora-batch: " + (scratch / "missing.jpg") + ": "), std::string::npos)
        << run.Err;
    EXPECT_EQ(run.Err.find('\r'), std::string::npos);
}

TEST(BatchCommand, ATerminalGetsOneRedrawnProgressLine) {
    ScratchFolder scratch;
    std::string a = scratch / "a.jpg";
    std::string b = scratch / "b.jpg";
    ASSERT_TRUE(WriteJpeg(a, 300, 200, 1));
    ASSERT_TRUE(WriteJpeg(b, 300, 200, 2));
    // One after the other, so the lines come in order.
    std::vector<std::string> arguments = {ToolPath(), "--jobs=1", a, b};
    std::vector<char*> argv = Argv(arguments);
    winsize size{};
    size.ws_col = 60;
    size.ws_row = 24;
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(child, 0);
    if (child == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = read(terminal, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    close(terminal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << text;

    // The terminal turns "\n" into "\r\n"; every redraw starts with a bare "\r".
    EXPECT_NE(text.find("\r["), std::string::npos) << text;
    EXPECT_NE(text.find("/2"), std::string::npos) << text;
    EXPECT_NE(text.find("[1/2] " + a + " -> "), std::string::npos) << text;
    EXPECT_NE(text.find("[2/2] " + b + " -> "), std::string::npos) << text;
    // No drawn line is wider than the terminal.
    std::size_t start = 0;
    while ((start = text.find("\r[", start)) != std::string::npos) {
        std::size_t end = text.find("\x1b[K", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LT(end - start - 1, 60u) << text.substr(start, end - start);
        start = end;
    }
    // What stays on the screen at the end is the summary, not a progress line.
    std::string tail = text.substr(text.rfind("failed"));
    EXPECT_EQ(tail.find('['), std::string::npos) << tail;
}

TEST(BatchCommand, InterruptStopsWithoutHalfWrittenFiles) {
    ScratchFolder scratch;
    std::vector<std::string> arguments = {ToolPath(), "--jobs", "2", "-o", scratch.Folder("out")};
    std::vector<std::string> results;
    for (unsigned i = 0; i < 8; ++i) {
        std::string input = scratch / ("big" + std::to_string(i) + ".jpg");
        ASSERT_TRUE(WriteJpeg(input, 900, 600, i));
        arguments.push_back(input);
        results.push_back("big" + std::to_string(i) + "_vlr.jpg");
    }
    std::vector<char*> argv = Argv(arguments);
    std::string errPath = scratch / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Interrupt once the first result is complete, while the others are on their way.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (ReadBytes(errPath).find("[1/8]") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadBytes(errPath);
    EXPECT_NE(ReadBytes(errPath).find("interrupted"), std::string::npos);

    // Whatever is in the folder is a finished result that decodes without complaint.
    std::size_t finished = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path() / "out")) {
        std::string name = entry.path().filename().string();
        EXPECT_NE(std::find(results.begin(), results.end(), name), results.end()) << name;
        LoadResult loaded = LoadBitmapFromFile(entry.path().string());
        ASSERT_TRUE(loaded.Bitmap) << name;
        EXPECT_TRUE(loaded.Warnings.empty()) << name;
        EXPECT_EQ(loaded.Bitmap->Width(), 900u);
        ++finished;
    }
    EXPECT_GE(finished, 1u);
    EXPECT_LT(finished, 8u);
}

}  // namespace
}  // namespace velora::batch
