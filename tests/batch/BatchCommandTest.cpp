// velora-batch as a command: its usage, its exit status, how Ctrl+C ends it, what a terminal
// shows, and how it fits into a shell pipeline. Where the test must hold the run at a given
// moment it runs in this process, on a real terminal or a stream of its own.
#include <gtest/gtest.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "BatchTestSupport.h"
#include "Platform.h"
#include "ProgressDisplay.h"

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

// The exit status says whether every file was done (0), some were not (1) or the command line was
// wrong (2); what was asked for goes to standard output, what happened to standard error, in plain
// lines where it is no terminal.
TEST(BatchCommand, ExitStatusAndStreamsTellWhatHappened) {
    ScratchFolder scratch;
    const std::string good = scratch / "good.jpg";
    const std::string missing = scratch / "missing.jpg";
    ASSERT_TRUE(WriteJpeg(good, 20, 10, 1));
    const std::string usage = "\nTry 'velora-batch --help' for more information.\n";
    const struct {
        std::vector<std::string> Arguments;
        int Exit;
        std::string Out;  // how it begins
        std::string Err;  // how it begins, and what it holds after
        std::string ErrHolds;
        int Lines;  // of both streams together; -1: not counted
    } rows[] = {
        {{"--help"}, 0, "Usage: velora-batch [OPTION]... FILE...\n", "", "", -1},
        {{"--version"}, 0, "velora-batch ", "", "", 1},
        // A mistake the parser finds (all of them are tried there), and a missing folder.
        {{"--bogus", good}, 2, "", "velora-batch: ", usage, 2},
        {{"-o", scratch / "nowhere", good}, 2, "", "velora-batch: ", usage, 2},
        {{good}, 0, "", "[1/1] " + good + " -> " + (scratch / "good_vlr.jpg") + "\n", "", 1},
        {{"--overwrite", good, missing}, 1, "", "", "velora-batch: " + missing + ": ", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.Arguments));
        RunOutput run = RunTool(row.Arguments, scratch);
        EXPECT_EQ(run.ExitCode, row.Exit) << run.Err;
        EXPECT_EQ(run.Out.rfind(row.Out, 0), 0u) << run.Out;
        EXPECT_EQ(run.Out.empty(), row.Out.empty()) << run.Out;
        EXPECT_EQ(run.Err.rfind(row.Err, 0), 0u) << run.Err;
        EXPECT_NE(run.Err.find(row.ErrHolds, row.Err.size()), std::string::npos) << run.Err;
        if (row.Lines >= 0) {
            EXPECT_EQ(LineCount(run.Out + run.Err), std::size_t(row.Lines)) << run.Out << run.Err;
        }
        EXPECT_EQ(run.Err.find('\r'), std::string::npos);
    }
    EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"good.jpg", "good_vlr.jpg"}));
}

// Two hostile WebPs of 32 bytes, each a whole picture of 225 megapixels of one colour (one with
// alpha), side by side under an address-space cap far below what either takes: each is refused
// with its name and a cause, nothing is written, and the run ends by itself, not by a signal.
TEST(BatchCommand, HostileWebpsUnderAMemoryCapAreRefusedByName) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit under the cap";
#endif
    ScratchFolder scratch;
    const std::string header("RIFF\x18\0\0\0WEBPVP8L\x0c\0\0\0\x2f\x97\xfa\xa5", 24);
    WriteBytes(scratch / "opaque.webp", header + std::string("\x0e\xa8\x40\x03\x3a\xd0\xff\0", 8));
    WriteBytes(scratch / "clear.webp", header + std::string("\x1e\xa8\x40\x03\x3a\x50\xc0\0", 8));
    const std::string err = scratch / "run.err";
    const std::string command = "ulimit -v 1048576; exec " + Quoted(ToolPath()) + " -j2 -o " +
                                Quoted(scratch.Folder("out")) + " " +
                                Quoted(scratch / "opaque.webp") + " " +
                                Quoted(scratch / "clear.webp") + " 2>" + Quoted(err);
    const int status = std::system(command.c_str());
    const std::string said = ReadBytes(err);
    ASSERT_TRUE(WIFEXITED(status)) << said;
    EXPECT_EQ(WEXITSTATUS(status), 1) << said;
    for (const char* name : {"opaque.webp: ", "clear.webp: "}) {
        EXPECT_TRUE(Contains(said, name)) << said;
    }
    EXPECT_TRUE(fs::is_empty(scratch / "out"));
}

// A reader that goes away stops the printing, never the work.
TEST(BatchCommand, AClosedOutputStopsThePrintingNotTheWork) {
    ScratchFolder scratch;
    std::string command = Quoted(ToolPath()) + " --jobs 1 -o " + Quoted(scratch.Folder("out"));
    for (const std::string& input : WriteJpegs(scratch.path(), "p", 8, 200, 150)) {
        command += " " + Quoted(input);
    }
    const std::string script = scratch / "run.sh";
    WriteBytes(script, command + " 2>&1 | head -n 1 >" + Quoted(scratch / "first.txt") +
                           "\necho \"${PIPESTATUS[0]}\" >" + Quoted(scratch / "status.txt") + "\n");
    ASSERT_EQ(std::system(("bash " + Quoted(script) + " </dev/null").c_str()), 0);
    EXPECT_EQ(ReadBytes(scratch / "status.txt"), "0\n");
    EXPECT_EQ(ReadBytes(scratch / "first.txt").rfind("[1/8] ", 0), 0u);
    for (unsigned i = 0; i < 8; ++i) {
        EXPECT_TRUE(Load(scratch / ("out/p" + std::to_string(i) + "_vlr.jpg"))) << i;
    }
}

struct TerminalRun {
    int ExitCode = -1;
    std::string Text;  // everything the terminal received
};

// The real executable on a terminal `columns` wide, with `environment` added to ours.
TerminalRun RunOnTerminal(std::vector<std::string> arguments, unsigned short columns,
                          std::vector<std::string> environment) {
    arguments.insert(arguments.begin(), ToolPath());
    std::vector<char*> argv = Argv(arguments);
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "NO_COLOR=", 9) != 0 &&
            std::strncmp(*variable, "TERM=", 5) != 0) {
            environment.push_back(*variable);
        }
    }
    std::vector<char*> envp = Argv(environment);
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    TerminalRun run;
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
    if (child < 0) {
        return run;
    }
    if (child == 0) {
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    char buffer[4096];
    ssize_t count = 0;
    while ((count = read(terminal, buffer, sizeof buffer)) > 0) {
        run.Text.append(buffer, static_cast<std::size_t>(count));
    }
    close(terminal);
    int status = 0;
    if (waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        run.ExitCode = WEXITSTATUS(status);
    }
    return run;
}

// Each progress line drawn in `text` from `from` on, as the terminal shows it.
std::vector<std::string> ProgressLines(const std::string& text, std::size_t from = 0) {
    std::vector<std::string> lines;
    std::size_t start = from;
    while ((start = text.find("\r", start)) != std::string::npos) {
        std::size_t end = text.find_first_of("\r\n", start + 1);
        std::string line = Visible(text.substr(start + 1, end - start - 1));
        if (line.rfind("[", 0) == 0 && line.find("] ") != std::string::npos &&
            line.find("->") == std::string::npos) {
            lines.push_back(line);
        }
        start = start + 1;
    }
    return lines;
}

TEST(BatchCommand, ATerminalGetsOneRedrawnProgressLine) {
    ScratchFolder scratch;
    const std::vector<std::string> inputs = WriteJpegs(scratch.path(), "p", 2, 300, 200);
    const std::string missing = scratch / "missing.jpg";
    // Colours on a terminal unless NO_COLOR is set (and not empty), never on a dumb one; the
    // progress line also under -q, not under -qq, nor on a dumb one.
    const struct {
        std::vector<std::string> Environment;
        const char* Level;
        bool Colour, Line;
    } cases[] = {{{"TERM=xterm"}, "-v", true, true},
                 {{"TERM=xterm", "NO_COLOR="}, "-q", true, true},
                 {{"TERM=xterm", "NO_COLOR=1"}, "-v", false, true},
                 {{"TERM=dumb"}, "-q", false, false},
                 {{"TERM=xterm"}, "-qq", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.Environment) + " " + c.Level);
        // One file after the other, so the lines come in order.
        const TerminalRun run =
            RunOnTerminal(Joined({c.Level, "--jobs=1", "--overwrite"}, Joined(inputs, {missing})),
                          60, c.Environment);
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(Contains(run.Text, "\x1b[31mvelora-batch: " + missing), c.Colour) << run.Text;
        EXPECT_TRUE(Contains(Visible(run.Text), "velora-batch: " + missing));
        // The terminal turns "\n" into "\r\n"; every redraw starts with a bare "\r". The program
        // found the terminal and its width: no drawn line is wider. (What the lines hold, and
        // that the summary is left on the screen, is the display's own test.)
        EXPECT_EQ(Contains(run.Text, "\r["), c.Line) << run.Text;
        const std::vector<std::string> lines = ProgressLines(run.Text);
        EXPECT_EQ(lines.empty(), !c.Line);
        for (const std::string& line : lines) {
            EXPECT_LT(DisplayColumns(line), 60) << line;
        }
    }
}

TEST(BatchCommand, TheProgressLineFollowsTheTerminalsWidth) {
    ScratchFolder scratch;
    const std::vector<std::string> arguments =
        Joined({"--jobs=1", "-o", scratch.Folder("out")},
               WriteJpegs(scratch.path(), "a-photo-with-a-long-name-", 3, 64, 48));
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 24;
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    std::FILE* terminal = fdopen(slave, "w");
    ASSERT_NE(terminal, nullptr);
    // The first file waits for memory that the test holds, so it is still on the line when the
    // terminal narrows and when the line is drawn anew.
    MemoryBudget budget(std::uint64_t{1} << 30);
    const std::atomic<int> never{0};
    ASSERT_TRUE(budget.Acquire(budget.Size(), never));
    BatchEnvironment environment;
    environment.Err = terminal;
    environment.Terminal = true;
    environment.Columns = TerminalColumns(terminal);
    environment.Resizes = &InstallResizeHandler();
    environment.ColumnsNow = [terminal] { return TerminalColumns(terminal); };
    environment.Cores = 1;
    environment.Budget = &budget;
    int exitCode = -1;
    std::thread batch([&] {
        exitCode = RunBatch(arguments, environment);
        std::fclose(terminal);
    });
    std::string text;
    const auto readUntil = [&](const auto& done) {
        char buffer[4096];
        ssize_t count = 0;
        while (!done() && (count = read(master, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
        return done();
    };
    const bool named = readUntil([&] { return Contains(text, "  a-photo-with"); });
    const std::size_t resized = text.size();
    size.ws_col = 30;
    ioctl(master, TIOCSWINSZ, &size);
    raise(SIGWINCH);  // as the kernel tells the terminal's foreground process
    // The wide line folded onto more rows when the terminal narrowed: the program climbs back
    // to its first row and clears from there, and draws every later line within the new width.
    std::size_t climb = std::string::npos;
    const bool redrawn =
        named && readUntil([&] {
            climb = text.find("A\x1b[J", resized);
            return climb != std::string::npos && !ProgressLines(text, climb).empty();
        });
    budget.Release(budget.Size());
    readUntil([] { return false; });
    batch.join();
    close(master);
    EXPECT_EQ(exitCode, 0) << text;
    ASSERT_TRUE(redrawn) << text.substr(resized);
    // Once, and as many rows as the last line drawn at the old width takes at the new one.
    const std::size_t climbStart = text.rfind("\r\x1b[", climb);
    const std::size_t lastLine = text.rfind('\r', climbStart - 1);
    const int shownCells =
        DisplayColumns(Visible(text.substr(lastLine + 1, climbStart - lastLine - 1)));
    EXPECT_EQ(text.substr(climbStart, climb - climbStart),
              "\r\x1b[" + std::to_string((shownCells - 1) / 30))
        << text;
    EXPECT_EQ(text.find("A\x1b[J", climb + 1), std::string::npos) << text;
    for (const std::string& line : ProgressLines(text, climb)) {
        EXPECT_LT(DisplayColumns(line), 30) << line;
    }
}

TEST(BatchCommand, FindPrintZeroFeedsTheFileList) {
    ScratchFolder scratch;
    scratch.Folder("sub");
    for (const char* name : {"a.jpg", "sub/b c.jpg", "sub/new\nline.jpg"}) {
        ASSERT_TRUE(WriteJpeg(scratch / name, 20, 10, 1));
    }
    const std::string command = "cd " + Quoted(scratch.path().string()) +
                                " && find . -name '*.jpg' -print0 | " + Quoted(ToolPath()) +
                                " -q0 --files-from - 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(FilesBelow(scratch.path()),
              (std::vector<std::string>{"a.jpg", "a_vlr.jpg", "sub/b c.jpg", "sub/b c_vlr.jpg",
                                        "sub/new\nline.jpg", "sub/new\nline_vlr.jpg"}));
}

TEST(BatchCommand, CoresAreThoseTheProcessMayUse) {
    const unsigned all = UsableCores();
    EXPECT_GE(all, 1u);
    EXPECT_LE(all, std::max(1u, std::thread::hardware_concurrency()));
    // As under taskset -c 0: one CPU allowed, one core counted.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) {
            _exit(100);
        }
        _exit(static_cast<int>(std::min(UsableCores(), 99u)));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

// What the run prints, kept; the first finished file's line raises SIGINT, so the run is
// interrupted while the other job is on its way.
ssize_t InterruptOnFirstResult(void* cookie, const char* data, std::size_t size) {
    std::string& text = *static_cast<std::string*>(cookie);
    const bool first = !Contains(text, "[1/");
    text.append(data, size);
    if (first && Contains(text, "[1/")) {
        raise(SIGINT);
    }
    return static_cast<ssize_t>(size);
}

TEST(BatchCommand, InterruptStopsWithoutHalfWrittenFiles) {
    ScratchFolder scratch;
    const std::vector<std::string> arguments =
        Joined({"--jobs", "2", "-o", scratch.Folder("out")},
               WriteJpegs(scratch.path(), "big", 8, 900, 600));
    std::string text;
    cookie_io_functions_t io{};
    io.write = InterruptOnFirstResult;
    std::FILE* err = fopencookie(&text, "w", io);
    ASSERT_NE(err, nullptr);
    BatchEnvironment environment;
    environment.Err = err;
    environment.Cores = 2;
    environment.Cancel = &InstallInterruptHandlers();
    const int exitCode = RunBatch(arguments, environment);
    std::fclose(err);
    EXPECT_EQ(exitCode, ExitInterrupted) << text;
    EXPECT_TRUE(Contains(text, "interrupted")) << text;

    // Whatever is in the folder is a finished result that decodes without complaint; nothing
    // started after the interrupt.
    std::size_t finished = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path() / "out")) {
        std::string name = entry.path().filename().string();
        EXPECT_EQ(name, "big" + name.substr(3, 1) + "_vlr.jpg");
        LoadResult loaded = LoadBitmapFromFile(entry.path().string());
        ASSERT_TRUE(loaded.Bitmap) << name;
        EXPECT_TRUE(loaded.Warnings.empty()) << name;
        EXPECT_EQ(loaded.Bitmap->Width(), 900u);
        ++finished;
    }
    EXPECT_GE(finished, 1u);
    EXPECT_LE(finished, 2u);
}

}  // namespace
}  // namespace velora::batch
