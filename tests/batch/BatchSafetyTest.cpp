// What velora-batch refuses to write, how it reports each file, and how it stops: run in this
// process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <regex>
#include <thread>

#include "BatchTestSupport.h"
#include "FileConversion.h"
#include "InputList.h"
#include "ProgressDisplay.h"
#include "RunReport.h"

namespace velora::batch {
namespace {

using namespace testing;

class BatchSafety : public ::testing::Test {
  protected:
    // Made in its folder, which is made first if need be.
    std::string Picture(const std::string& name, unsigned seed = 1) {
        fs::create_directories(fs::path(Scratch / name).parent_path());
        EXPECT_TRUE(WriteJpeg(Scratch / name, 30, 20, seed));
        return Scratch / name;
    }
    ScratchFolder Scratch;
};

TEST_F(BatchSafety, BadFilesAreReportedAndTheRestGoesOn) {
    std::string good = Picture("good.jpg");
    std::string missing = Scratch / "missing.jpg";
    std::string text = Scratch / "notes.jpg";
    WriteBytes(text, "this is no picture\n");
    std::string alsoGood = Picture("also.jpg", 2);

    RunOutput run = RunInProcess({good, missing, text, alsoGood});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, "velora-batch: " + missing + ": ")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "velora-batch: " + text + ": ")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "2 converted, 0 skipped, 2 failed")) << run.Err;
    EXPECT_TRUE(Load(Scratch / "good_vlr.jpg"));
    EXPECT_TRUE(Load(Scratch / "also_vlr.jpg"));
    EXPECT_FALSE(std::filesystem::exists(Scratch / "missing_vlr.jpg"));
    EXPECT_FALSE(std::filesystem::exists(Scratch / "notes_vlr.jpg"));
    EXPECT_TRUE(run.Out.empty());
}

TEST_F(BatchSafety, BrokenSamplePhotosFailWithoutOutput) {
    if (!PhotosPresent()) {
        GTEST_SKIP() << "no sample photos at " << VELORA_PHOTOS_DIR;
    }
    std::string good = Picture("good.jpg");
    RunOutput run = RunInProcess(
        {"-o", Scratch.Folder("out"), Photo("broken/not_jpeg_starts_ff01.jpg"),
         Photo("broken/huge_dims_17737x7680.jpg"), Photo("broken/exif_only_no_image.jpg"), good});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    for (const char* name :
         {"not_jpeg_starts_ff01.jpg", "huge_dims_17737x7680.jpg", "exif_only_no_image.jpg"}) {
        EXPECT_TRUE(Contains(run.Err, name)) << run.Err;
    }
    EXPECT_EQ(Scratch.Names(), (std::vector<std::string>{"good.jpg", "out"}));
    EXPECT_EQ(FilesBelow(Scratch.path() / "out"), std::vector<std::string>{"good_vlr.jpg"});
    EXPECT_TRUE(Load(Scratch / "out/good_vlr.jpg"));
}

// Two runs into one folder at once: every result is written by one of them and skipped by the
// other, never written twice.
TEST_F(BatchSafety, TwoRunsAtOnceNeverReplaceEachOthersResults) {
    const std::vector<std::string> arguments = Joined({"--jobs", "2", "-o", Scratch.Folder("out")},
                                                      WriteJpegs(Scratch.path(), "p", 8, 240, 160));
    RunOutput runs[2];
    std::thread other([&] { runs[1] = RunInProcess(arguments); });
    runs[0] = RunInProcess(arguments);
    other.join();
    const std::regex summary("(\\d+) converted, (\\d+) skipped, (\\d+) failed");
    int converted = 0;
    int skipped = 0;
    for (const RunOutput& run : runs) {
        EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
        std::smatch counts;
        ASSERT_TRUE(std::regex_search(run.Err, counts, summary)) << run.Err;
        converted += std::stoi(counts[1]);
        skipped += std::stoi(counts[2]);
        EXPECT_EQ(counts[3], "0");
    }
    EXPECT_EQ(converted, 8) << runs[0].Err << runs[1].Err;
    EXPECT_EQ(skipped, 8);
    for (unsigned i = 0; i < 8; ++i) {
        EXPECT_TRUE(Load(Scratch / ("out/p" + std::to_string(i) + "_vlr.jpg"))) << i;
    }
}

// A result that appears while the picture is converted is kept and the file counted as skipped.
TEST_F(BatchSafety, AResultThatAppearsMeanwhileIsKept) {
    std::string input = Picture("photo.jpg");
    const std::string output = Scratch / "photo_vlr.jpg";
    FileObserver observer;
    observer.Stage = [&](FileStage stage, int) {
        if (stage == FileStage::Saving) {
            WriteBytes(output, "written by someone else");
        }
    };
    BatchOptions options;
    std::atomic<int> cancel{0};
    FileResult result = ConvertFile(input, output, options, 1, cancel, observer);
    EXPECT_EQ(result.Outcome, FileOutcome::Skipped);
    EXPECT_TRUE(ReadBytes(output) == "written by someone else");
    EXPECT_EQ(Scratch.Names(), (std::vector<std::string>{"photo.jpg", "photo_vlr.jpg"}));

    options.Overwrite = true;
    result = ConvertFile(input, output, options, 1, cancel, observer);
    EXPECT_EQ(result.Outcome, FileOutcome::Done) << result.Message;
    EXPECT_TRUE(Load(output));
}

// What a killed save left behind is named, never deleted: another run may be writing it.
TEST_F(BatchSafety, LeftoverTemporariesAreReportedAndKept) {
    std::string input = Picture("photo.jpg");
    const std::string out = Scratch.Folder("out");
    const std::string leftover = out + "/.vlr-save-Ab3dE9";
    WriteBytes(leftover, "half a picture");
    WriteBytes(out + "/.vlr-save-Zz3dE9", "another");
    WriteBytes(out + "/.vlr-save-notours.txt", "");
    // One that a living save holds, as a writer does from creation to rename.
    WriteBytes(out + "/.vlr-save-Live01", "");
    const int held = ::open((out + "/.vlr-save-Live01").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    RunOutput run = RunInProcess({"-o", out, input});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "velora-batch: " + leftover + ": left by a save")) << run.Err;
    EXPECT_FALSE(Contains(run.Err, "notours") || Contains(run.Err, "Live01")) << run.Err;
    EXPECT_EQ(ReadBytes(leftover), "half a picture");
    EXPECT_TRUE(Load(out + "/photo_vlr.jpg"));
    // Quiet says it in one line; twice quiet not at all.
    run = RunInProcess({"-q", "--overwrite", "-o", out, input});
    EXPECT_EQ(run.Err, "velora-batch: " + leftover +
                           ": left by a save that was stopped midway; no running save owns it, it "
                           "can be deleted (and 1 more such temporaries)\n");
    EXPECT_EQ(RunInProcess({"-qq", "--overwrite", "-o", out, input}).Err, "");
    ::close(held);
}

// File names reach the terminal with their control characters written out.
TEST_F(BatchSafety, ControlCharactersInNamesArePrintedEscaped) {
    std::string good = Picture("new\nline.jpg");
    std::string missing = Scratch / "bad\x1b]0;title\x07\x1b[2J\xff.jpg";
    RunOutput run = RunInProcess({"--jobs", "1", good, missing});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Load(Scratch / "new\nline_vlr.jpg"));
    EXPECT_EQ(run.Err.find('\x1b'), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\x07'), std::string::npos) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "new\\nline.jpg -> ")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "bad\\x1b]0;title\\x07\\x1b[2J\\xff.jpg: ")) << run.Err;
    // One line for the result, one for the error, one for the summary.
    EXPECT_EQ(LineCount(run.Err), 3u) << run.Err;
    EXPECT_EQ(EscapeControls("Ünïcödé 사진 \\ \t\xc2\x9b\xed\xa0\x80"),
              "Ünïcödé 사진 \\\\ \\t\\xc2\\x9b\\xed\\xa0\\x80");
}

// A picture read only in part (cut short, or still being written) is no result, unless asked for:
// the error shows even under --quiet, and the damage allowed is one warning in our own words, left
// out under --quiet.
TEST_F(BatchSafety, ADamagedInputIsAnErrorUnlessAllowed) {
    std::string input = Scratch / "cut.jpg";
    ASSERT_TRUE(WriteJpeg(input, 240, 160, 3));
    std::string bytes = ReadBytes(input);
    WriteBytes(input, bytes.substr(0, bytes.size() * 2 / 3));
    RunOutput run = RunInProcess({"--quiet", input});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, input + ": the file is damaged (Premature end of JPEG file)"))
        << run.Err;
    EXPECT_FALSE(fs::exists(Scratch / "cut_vlr.jpg"));
    run = RunInProcess({"--allow-damaged", input});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_TRUE(Contains(run.Err, input + ": warning: the file is damaged")) << run.Err;
    EXPECT_FALSE(Contains(run.Err, "warning: Premature")) << run.Err;
    EXPECT_TRUE(Load(Scratch / "cut_vlr.jpg"));
    EXPECT_EQ(RunInProcess({"--quiet", "--allow-damaged", "--overwrite", input}).Err, "");
}

// One size limit, checked when the picture's size is known, for the format of the result.
TEST_F(BatchSafety, APictureTooWideForAJpegFailsBeforeItIsConverted) {
    const std::string wide = Scratch / "wide.png";
    ASSERT_TRUE(SavePng(*WorkingBitmap::CreateBlank(65520, 2), wide).Ok);
    RunOutput run = RunInProcess({"-o", Scratch.Folder("jpeg"), wide});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, "65500")) << run.Err;
    EXPECT_TRUE(Scratch.Names() == (std::vector<std::string>{"jpeg", "wide.png"}));
    EXPECT_TRUE(fs::is_empty(Scratch.path() / "jpeg"));
    run = RunInProcess({"--format", "png", "-o", Scratch.Folder("png"), wide});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_TRUE(Load(Scratch / "png/wide_vlr.png"));
}

// A rerun over the inputs and the first run's results ("photos/*.jpg" twice) leaves the results
// alone: no input is replaced, and a Velora result is no new input unless asked for.
TEST_F(BatchSafety, NoInputIsEverWrittenOver) {
    std::string first = Picture("photo.jpg", 1);
    std::string other = Picture("other_vlr.jpg", 2);  // the name alone makes no result
    ASSERT_EQ(RunInProcess({first}).ExitCode, ExitAllDone);
    std::string second = Scratch / "photo_vlr.jpg";
    std::string secondBytes = ReadBytes(second);
    RunOutput run = RunInProcess({"--overwrite", first, second, other});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, "velora-batch: " + first + ": ")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, second + ": a Velora result, skipped")) << run.Err;
    EXPECT_EQ(ReadBytes(second), secondBytes);
    EXPECT_TRUE(Load(Scratch / "other_vlr_vlr.jpg"));
    run = RunInProcess({first, second, Scratch / "other_vlr_vlr.jpg"});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "2 inputs are Velora results, skipped")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "0 converted, 3 skipped, 0 failed")) << run.Err;
    EXPECT_EQ(Scratch.Names(), (std::vector<std::string>{"other_vlr.jpg", "other_vlr_vlr.jpg",
                                                         "photo.jpg", "photo_vlr.jpg"}));
    run = RunInProcess({"--include-results", second});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_TRUE(Load(Scratch / "photo_vlr_vlr.jpg"));
}

TEST_F(BatchSafety, ProgressLinesAndQuiet) {
    std::string a = Picture("a.jpg", 1);
    std::string b = Picture("b.jpg", 2);
    RunOutput run = RunInProcess({"--jobs", "1", a, b});
    ASSERT_EQ(run.ExitCode, ExitAllDone);
    EXPECT_EQ(run.Err, "[1/2] " + a + " -> " + (Scratch / "a_vlr.jpg") + "\n[2/2] " + b + " -> " +
                           (Scratch / "b_vlr.jpg") +
                           "\nvelora-batch: 2 converted, 0 skipped, 0 failed\n");

    run = RunInProcess({"--quiet", "--overwrite", a, b});
    EXPECT_EQ(run.ExitCode, ExitAllDone);
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out, "");

    // Skips of one kind share a line unless -v.
    run = RunInProcess({a, b});
    EXPECT_EQ(run.Err,
              "velora-batch: 2 results exist already, skipped (--overwrite replaces them)\n"
              "velora-batch: 0 converted, 2 skipped, 0 failed\n");
    EXPECT_EQ(LineCount(RunInProcess({"-v", a, b}).Err), 3u);

    // Quiet keeps errors, one line each, and leaves out the skip.
    run = RunInProcess({"--quiet", a, Scratch / "missing.jpg"});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_EQ(LineCount(run.Err), 1u) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "missing.jpg")) << run.Err;
}

TEST_F(BatchSafety, FoldersAreWalkedAndKeepTheirShapeUnderTheOutputFolder) {
    Picture("album/a.jpg", 1);
    Picture("album/2023/a.jpg", 2);  // the same name as above: no clash, other folder
    Picture("album/2023/summer/b.JPG", 3);
    Picture("album/2023/a_vlr.jpg", 4);     // an earlier result
    Picture("album/.thumbnails/t.jpg", 5);  // hidden
    WriteBytes(Scratch / "album/notes.txt", "not a picture");
    ASSERT_TRUE(SavePng(*TexturedPicture(9, 9, 6), Scratch / "album/2023/c.png").Ok);
    std::filesystem::create_directory_symlink(Scratch / "album", Scratch / "album/2023/loop");

    const std::string out = Scratch.Folder("out");
    RunOutput run = RunInProcess({"-r", "-o", out, Scratch / "album"});
    ASSERT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    const std::vector<std::string> expected = {"2023/a_vlr.jpg", "2023/c_vlr.jpg",
                                               "2023/summer/b_vlr.JPG", "a_vlr.jpg"};
    EXPECT_EQ(FilesBelow(out), expected);
    EXPECT_TRUE(Contains(run.Err, "4 converted, 0 skipped, 0 failed")) << run.Err;
    // Each result is its own picture's.
    EXPECT_FALSE(ReadBytes(Scratch / "out/a_vlr.jpg") == ReadBytes(Scratch / "out/2023/a_vlr.jpg"));

    // A rerun finds every result in place and writes nothing.
    const std::string before = ReadBytes(Scratch / "out/2023/a_vlr.jpg");
    run = RunInProcess({"--recursive", "-o", out, Scratch / "album"});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "0 converted, 4 skipped, 0 failed")) << run.Err;
    EXPECT_TRUE(ReadBytes(Scratch / "out/2023/a_vlr.jpg") == before);

    // Without -o the results go beside their photos, and the next walk leaves them out.
    run = RunInProcess({"-rq", Scratch / "album/2023/summer"});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_EQ(FilesBelow(Scratch / "album/2023/summer"),
              (std::vector<std::string>{"b.JPG", "b_vlr.JPG"}));
    run = RunInProcess({"-r", "--overwrite", Scratch / "album/2023/summer"});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_EQ(LineCount(run.Err), 1u) << run.Err;
    EXPECT_EQ(FilesBelow(Scratch / "album/2023/summer"),
              (std::vector<std::string>{"b.JPG", "b_vlr.JPG"}));

    // Several roots each keep their name under -o.
    Picture("d1/IMG.jpg", 7);
    Picture("d2/IMG.jpg", 8);
    run = RunInProcess({"-rq", "-o", Scratch.Folder("roots"), Scratch / "d1", Scratch / "d2/"});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_EQ(FilesBelow(Scratch / "roots"),
              (std::vector<std::string>{"d1/IMG_vlr.jpg", "d2/IMG_vlr.jpg"}));

    // Without -r a folder is refused, with a hint.
    run = RunInProcess({Scratch / "album"});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, "is a folder (-r")) << run.Err;
}

TEST_F(BatchSafety, InputsComeFromListsToo) {
    std::string a = Picture("a.jpg", 1);
    std::string spaced = Picture(" spaced name .jpg", 2);
    std::string c = Picture("c.jpg", 4);
    // One name a line, blank lines ignored, from a file; names are taken as they stand.
    const std::string listFile = Scratch / "list.txt";
    WriteBytes(listFile, "\n" + a + "\n\n" + spaced + "\n" + Scratch / "missing.jpg");
    RunOutput run = RunInProcess({"--files-fr=" + listFile, c});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, "3 converted, 0 skipped, 1 failed")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "missing.jpg")) << run.Err;

    // An empty list leaves nothing to do; a list that cannot be read is bad usage.
    run = RunInProcess({"--files-from", "-"}, 2, nullptr, "");
    EXPECT_EQ(run.ExitCode, ExitAllDone);
    EXPECT_EQ(run.Err, "velora-batch: no files to convert\n");
    run = RunInProcess({"--files-from", Scratch / "none.txt", a});
    EXPECT_EQ(run.ExitCode, ExitBadUsage);
    EXPECT_TRUE(Contains(run.Err, "none.txt': No such file or directory")) << run.Err;
}

// What scripts and schedulers build on: a dry run's list, its parts, the report and the pipe.
TEST_F(BatchSafety, ScriptsGetPlansPartsReportsAndPipes) {
    const std::vector<std::string> names = WriteJpegs(Scratch.path(), "p", 6, 30, 20);
    RunOutput run = RunInProcess(Joined({"-n"}, names));
    std::string expected;
    for (const std::string& name : names) {
        expected += name + "\t" + name.substr(0, name.size() - 4) + "_vlr.jpg\n";
    }
    EXPECT_EQ(run.Out, expected);
    // The parts of a shuffled list are the same, and together they are the whole.
    std::vector<std::string> lines;
    for (int k = 1; k <= 3; ++k) {
        std::vector<std::string> shuffled(names.rbegin(), names.rend());
        const std::string part =
            RunInProcess(Joined({"-n0", "--shard=" + std::to_string(k) + "/3"}, shuffled)).Out;
        const std::string same =
            RunInProcess(Joined({"-n0", "--shard", std::to_string(k) + "/3"}, names)).Out;
        const std::vector<std::string> entries = SplitList(part, true);
        EXPECT_EQ(entries.size(), SplitList(same, true).size());
        lines.insert(lines.end(), entries.begin(), entries.end());
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines.size(), 12u);
    EXPECT_TRUE(std::unique(lines.begin(), lines.end()) == lines.end());
    EXPECT_EQ(Scratch.Names().size(), 6u);  // nothing converted

    // One JSON line a file, said as it ends; a mode-600 original keeps its readers and time.
    fs::permissions(names[0], fs::perms::owner_read | fs::perms::owner_write);
    fs::last_write_time(names[0], fs::last_write_time(names[0]) - std::chrono::hours(9999));
    const std::string report = Scratch / "report.json";
    WriteBytes(Scratch / "p1_vlr.jpg", "kept");
    run = RunInProcess({"--preserve", "--report", report, names[0], names[1], Scratch / "no.jpg"});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    const std::string json = ReadBytes(report);
    EXPECT_EQ(LineCount(json), 3u) << json;
    EXPECT_TRUE(std::regex_search(
        json,
        std::regex(
            "\\{\"input\":\"[^\"]*p0.jpg\",\"result\":\"[^\"]*p0_vlr.jpg\",\"status\":"
            "\"converted\",\"warnings\":\\[\\],\"seconds\":[0-9.]+,\"bytes\":[1-9][0-9]*\\}\n")))
        << json;
    EXPECT_TRUE(Contains(json, "p1_vlr.jpg\",\"status\":\"skipped\",\"reason\":\"'")) << json;
    EXPECT_TRUE(Contains(json, "no_vlr.jpg\",\"status\":\"failed\",\"reason\":\"")) << json;
    EXPECT_EQ(fs::status(Scratch / "p0_vlr.jpg").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(fs::last_write_time(Scratch / "p0_vlr.jpg") == fs::last_write_time(names[0]));
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\xff\xed\xa0\x80사"),
              "\"a\\\"b\\\\c\\n\\u0001\\ufffd\\ufffd\\ufffd\\ufffd사\"");

    // From a pipe to a pipe: the bytes a file run writes, and a film without its curve is said.
    run = RunInProcess({"-", "-o", "-"}, 2, nullptr, ReadBytes(names[2]));
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    RunInProcess({"-q", names[2]});
    EXPECT_TRUE(run.Out == ReadBytes(Scratch / "p2_vlr.jpg"));
    run = RunInProcess({"--stdout", "--film=reddish", "--no-gray-contrast", names[3], names[4]});
    EXPECT_EQ(run.ExitCode, ExitBadUsage);
    EXPECT_TRUE(Contains(run.Err, "--film has no effect")) << run.Err;
}

TEST_F(BatchSafety, ACancelledRunWritesNothing) {
    std::string a = Picture("a.jpg", 1);
    std::atomic<int> cancel{2};
    RunOutput run = RunInProcess({a}, 2, &cancel);
    EXPECT_EQ(run.ExitCode, ExitInterrupted);
    EXPECT_TRUE(Contains(run.Err, "interrupted")) << run.Err;
    EXPECT_EQ(Scratch.Names(), std::vector<std::string>{"a.jpg"});
}

}  // namespace
}  // namespace velora::batch
