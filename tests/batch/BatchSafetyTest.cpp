// What velora-batch refuses to write, how it reports each file, and how it stops: run in this
// process.
#include <gtest/gtest.h>

#include "BatchTestSupport.h"

namespace velora::batch {
namespace {

using namespace testing;

class BatchSafety : public ::testing::Test {
  protected:
    std::string Picture(const std::string& name, unsigned seed = 1) {
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
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Scratch.path() / "out"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_TRUE(Load(Scratch / "out/good_vlr.jpg"));
}

TEST_F(BatchSafety, ExistingResultsAreKeptUnlessOverwriting) {
    std::string input = Picture("photo.jpg");
    WriteBytes(Scratch / "photo_vlr.jpg", "keep me");
    RunOutput run = RunInProcess({input});
    EXPECT_EQ(run.ExitCode, ExitAllDone);
    EXPECT_TRUE(Contains(run.Err, "exists")) << run.Err;
    EXPECT_EQ(ReadBytes(Scratch / "photo_vlr.jpg"), "keep me");

    run = RunInProcess({"--overwrite", input});
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_TRUE(Load(Scratch / "photo_vlr.jpg"));
}

TEST_F(BatchSafety, NoInputIsEverWrittenOver) {
    std::string first = Picture("photo.jpg", 1);
    std::string second = Picture("photo_vlr.jpg", 2);
    std::string secondBytes = ReadBytes(second);
    RunOutput run = RunInProcess({"--overwrite", first, second});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, "velora-batch: " + first + ": ")) << run.Err;
    EXPECT_EQ(ReadBytes(second), secondBytes);
    EXPECT_TRUE(Load(Scratch / "photo_vlr_vlr.jpg"));

    // The result's name already leads to the input.
    std::string linked = Picture("linked.jpg", 3);
    std::string linkedBytes = ReadBytes(linked);
    std::filesystem::create_symlink(linked, Scratch / "linked_vlr.jpg");
    run = RunInProcess({"--overwrite", linked});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_EQ(ReadBytes(linked), linkedBytes);
    EXPECT_TRUE(std::filesystem::is_symlink(Scratch / "linked_vlr.jpg"));
}

TEST_F(BatchSafety, ResultsGoIntoTheOutputFolderWithoutOverwritingEachOther) {
    Scratch.Folder("a");
    Scratch.Folder("b");
    std::string a = Picture("a/p.jpg", 1);
    std::string b = Picture("b/p.jpg", 2);
    std::string png = Scratch / "c.png";
    ASSERT_TRUE(SavePng(*TexturedPicture(9, 9, 4), png).Ok);
    RunOutput run = RunInProcess({"-o", Scratch.Folder("out"), a, png});
    ASSERT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_EQ(Scratch.Names(), (std::vector<std::string>{"a", "b", "c.png", "out"}));
    EXPECT_TRUE(Load(Scratch / "out/c_vlr.jpg"));
    EXPECT_TRUE(Load(Scratch / "out/p_vlr.jpg"));
    const std::string alone = ReadBytes(Scratch / "out/p_vlr.jpg");
    EXPECT_FALSE(alone.empty());

    // Two inputs of the same name: the second one fails instead of replacing the first's result.
    run = RunInProcess({"-o", Scratch.Folder("both"), a, b});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_TRUE(Contains(run.Err, "velora-batch: " + b + ": ")) << run.Err;
    EXPECT_TRUE(ReadBytes(Scratch / "both/p_vlr.jpg") == alone);
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

    // Quiet keeps errors, one line each, and leaves out the skip.
    run = RunInProcess({"--quiet", a, Scratch / "missing.jpg"});
    EXPECT_EQ(run.ExitCode, ExitSomeFailed);
    EXPECT_EQ(LineCount(run.Err), 1u) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "missing.jpg")) << run.Err;
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
