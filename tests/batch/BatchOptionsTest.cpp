// The command line, the result names and the plan that keeps inputs and results apart.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <sstream>
#include <tuple>

#include "BatchOptions.h"
#include "BatchTestSupport.h"
#include "InputList.h"
#include "JobRunner.h"
#include "OutputPlan.h"
#include "ProgressDisplay.h"

namespace velora::batch {
namespace {

using testing::Contains;
using testing::ScratchFolder;
using testing::WriteBytes;
namespace fs = std::filesystem;

ParseResult Parse(std::vector<std::string> arguments) {
    return ParseCommandLine(arguments);
}

// The words of `text`, split at each space.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

TEST(BatchOptions, EveryOptionReachesItsField) {
    ParseResult result = Parse(
        Words("--colour=100 a.jpg --gray 0 --no-gray-contrast --film blueish -oout --jobs=3 "
              "--format png --overwrite --allow-damaged --quiet --name={stem}.{ext} "
              "--include-results -n --shard=2/3 --report r --preserve=exif -r0 --files-from - "
              "--files-from=list.txt -- --color -o"));
    ASSERT_EQ(result.Outcome, ParseOutcome::Run) << result.Error;
    const BatchOptions& options = result.Options;
    const ConversionOptions& c = options.Conversion;
    EXPECT_EQ(std::make_tuple(c.ColorStrength, c.GrayStrength, c.GrayContrast, c.ReddishFilm,
                              c.BlueishFilm),
              std::make_tuple(100, 0, false, false, true));
    EXPECT_EQ(options.OutputDir, "out");
    EXPECT_EQ(options.Jobs, 3u);
    EXPECT_EQ(options.Format, OutputFormat::Png);
    EXPECT_TRUE(options.Overwrite);
    EXPECT_TRUE(options.AllowDamaged);
    EXPECT_EQ(options.Verbosity, -1);
    EXPECT_EQ(options.NameTemplate, "{stem}.{ext}");
    EXPECT_TRUE(options.IncludeResults && options.DryRun);
    EXPECT_EQ(options.ShardIndex * 10 + options.ShardCount, 23u);
    EXPECT_EQ(options.Report, "r");
    EXPECT_EQ(options.Preserve, PreserveTime::Taken);
    EXPECT_TRUE(options.Recursive && options.NullSeparated);
    EXPECT_EQ(options.FilesFrom, (std::vector<std::string>{"-", "list.txt"}));
    // Files keep their order; after "--" option-like names are files too.
    EXPECT_EQ(options.Files, (std::vector<std::string>{"a.jpg", "--color", "-o"}));

    // The last film named wins; both flags are never set together.
    result = Parse({"--film", "blueish", "--film=reddish", "-o", "x", "a.jpg"});
    ASSERT_EQ(result.Outcome, ParseOutcome::Run);
    EXPECT_TRUE(result.Options.Conversion.ReddishFilm);
    EXPECT_FALSE(result.Options.Conversion.BlueishFilm);
    EXPECT_EQ(result.Options.OutputDir, "x");
    result = Parse({"-qqvo", "-", "--preserve", "-"});
    EXPECT_TRUE(result.Options.ToStandardOutput && result.Options.OutputDir.empty());
    EXPECT_EQ(result.Options.Verbosity, -1);
    EXPECT_EQ(result.Options.Preserve, PreserveTime::Modified);
    // Without --jobs the cores decide; the other defaults show in what the runs write.
    EXPECT_EQ(Parse({"a.jpg"}).Options.Jobs, 0u);
    EXPECT_FALSE(Parse({"a.jpg"}).Options.Recursive);
}

TEST(BatchOptions, FollowsGnuConventions) {
    struct Case {
        std::vector<std::string> Arguments;
        unsigned Jobs;
        bool Quiet;
        std::string OutputDir;
        int Color;
    };
    const Case cases[] = {
        // Short options bundled, the last one taking the rest of the word or the next word.
        {{"-qj2", "a.jpg"}, 2, true, "", 35},
        {{"-qj", "2", "a.jpg"}, 2, true, "", 35},
        {{"-qo", "out", "a.jpg"}, 0, true, "out", 35},
        // Long options abbreviated to any unambiguous prefix, the value after "=" or next.
        {{"--col=60", "--qui", "a.jpg"}, 0, true, "", 60},
        {{"--c", "60", "--j=4", "--out=x", "a.jpg"}, 4, false, "x", 60},
        // An option's value may itself start with "-".
        {{"-o", "-dir", "a.jpg"}, 0, false, "-dir", 35},
    };
    for (const Case& c : cases) {
        ParseResult result = Parse(c.Arguments);
        const std::string label = ::testing::PrintToString(c.Arguments);
        ASSERT_EQ(result.Outcome, ParseOutcome::Run) << label << ": " << result.Error;
        EXPECT_EQ(result.Options.Jobs, c.Jobs) << label;
        EXPECT_EQ(result.Options.Verbosity < 0, c.Quiet) << label;
        EXPECT_EQ(result.Options.OutputDir, c.OutputDir) << label;
        EXPECT_EQ(result.Options.Conversion.ColorStrength, c.Color) << label;
        EXPECT_EQ(result.Options.Files, std::vector<std::string>{"a.jpg"}) << label;
    }
    // A parse leaves nothing behind for the next one.
    EXPECT_EQ(Parse({"-q", "a.jpg"}).Options.Jobs, 0u);
    EXPECT_EQ(Parse({"-j"}).Outcome, ParseOutcome::UsageError);
    EXPECT_EQ(Parse({"-qj2", "b.jpg"}).Options.Files, std::vector<std::string>{"b.jpg"});
}

TEST(BatchOptions, NumbersAreWholeAndInRange) {
    struct Case {
        std::vector<std::string> Arguments;
        bool Accepted;
    };
    const Case cases[] = {
        {{"--color", "0"}, true},         {{"--color", "100"}, true},
        {{"--color", "101"}, false},      {{"--gray", "90"}, true},
        {{"--gray", "91"}, false},        {{"--gray", "-1"}, false},
        {{"--color", "35%"}, false},      {{"--color", ""}, false},
        {{"--color", " 35"}, false},      {{"--color", "+35"}, false},
        {{"--color", "3.5"}, false},      {{"--jobs", "0"}, false},
        {{"--jobs", "1"}, true},          {{"--jobs", "99999999999"}, false},
        {{"--format", "jpg"}, true},      {{"--shard", "2/2"}, true},
        {{"--shard", "0/2"}, false},      {{"--shard", "3/2"}, false},
        {{"--shard", "1"}, false},        {{"--preserve=time", "-v"}, false},
        {{"--name", "{{{stem}}}"}, true}, {{"--name", "{base}.jpg"}, false},
        {{"--name", "{stem"}, false},     {{"--name", "a}"}, false},
        {{"--name", "d/{stem}"}, false},  {{"--name", ".."}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.Arguments;
        arguments.push_back("a.jpg");
        ParseResult result = Parse(arguments);
        EXPECT_EQ(result.Outcome == ParseOutcome::Run, c.Accepted)
            << c.Arguments[0] << " '" << c.Arguments[1] << "': " << result.Error;
    }
}

TEST(BatchOptions, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> Arguments;
        std::string Mentions;
    };
    const Case cases[] = {
        {{}, "no input files"},
        {{"--color", "5"}, "no input files"},
        {{"-", "-o", "out"}, "standard output"},
        {{"-", "--files-from=-"}, "standard input"},
        {{"--stdout", "-n", "a.jpg"}, "--dry-run"},
        {{"-x", "a.jpg"}, "-x"},
        {{"a.jpg", "--gray"}, "requires an argument"},
        {{"--film", "sepia", "a.jpg"}, "sepia"},
        {{"--format", "tiff", "a.jpg"}, "tiff"},
        {{"--quiet=yes", "a.jpg"}, "--quiet"},
        {{"-o", "", "a.jpg"}, "-o"},
        {{"--gray", "95", "a.jpg"}, "95"},
        {{"-qx", "a.jpg"}, "'-x'"},
        {{"-j2q", "a.jpg"}, "'2q'"},  // the rest of the word is the value
        {{"-qj"}, "option '-j' requires an argument"},
        {{"a.jpg", "--jo"}, "option '--jobs' requires an argument"},
        {{"--o", "x", "a.jpg"}, "'--o' is ambiguous; possibilities: '--output' '--overwrite'"},
        {{"--f=png", "a.jpg"}, "'--format'"},
        {{"--quiet=", "a.jpg"}, "option '--quiet' doesn't allow an argument"},
        {{"--no-gray-contrast=1", "a.jpg"}, "--no-gray-contrast"},
        // -0 describes the lists; without one it is a mistake worth saying.
        {{"-0", "a.jpg"}, "--files-from"},
        {{"--files-from", ""}, "--files-from"},
        // "--f" and "--n" could each be more than one option.
        {{"--fi", "-", "a.jpg"}, "ambiguous"},
        {{"--n", "a.jpg"}, "ambiguous"},
    };
    for (const Case& c : cases) {
        ParseResult result = Parse(c.Arguments);
        EXPECT_EQ(result.Outcome, ParseOutcome::UsageError) << c.Mentions;
        EXPECT_TRUE(Contains(result.Error, c.Mentions)) << result.Error;
        EXPECT_EQ(result.Error.find('\n'), std::string::npos) << result.Error;
    }
}

TEST(BatchOptions, HelpAndVersionNeedNoFiles) {
    // What --help and --version print is the command's test; help wins over files.
    EXPECT_EQ(Parse({"a.jpg", "-h"}).Outcome, ParseOutcome::Help);
    // Every option the parser knows is in the help, the manual page and the completion.
    const auto words = [](const std::string& text) {
        std::set<std::string> found;
        std::string word;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            const char c = i < text.size() ? text[i] : ' ';
            if (c == '\\' && i + 1 < text.size() && text[i + 1] == '-') {
                continue;  // the manual page writes "\-"
            }
            const bool font = c == '\\' && i + 2 < text.size() && text[i + 1] == 'f';
            i += font ? 2 : 0;  // and switches fonts with "\fB", "\fR"
            if (font || std::isspace(static_cast<unsigned char>(c)) || std::strchr("\"'=[,|)", c)) {
                found.insert(word);
                word.clear();
            } else {
                word += c;
            }
        }
        return found;
    };
    const std::string sources = VELORA_SOURCE_DIR "/packaging/velora-batch";
    for (const std::string& text : {HelpText(), testing::ReadBytes(sources + ".1.in"),
                                    testing::ReadBytes(sources + ".bash")}) {
        const std::set<std::string> found = words(text);
        for (const std::string& option : OptionNames()) {
            EXPECT_TRUE(found.count(option)) << option << " missing in " << text.substr(0, 40);
        }
    }
    // It fits a terminal of 80 columns without wrapping.
    std::istringstream lines(HelpText());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LT(DisplayColumns(line), 80) << line;
    }
}

TEST(InputList, SplitsNamesAsTheyStand) {
    struct Case {
        std::string Text;
        bool Null;
        std::vector<std::string> Names;
    };
    const Case cases[] = {
        {"a.jpg\nb c.jpg\n", false, {"a.jpg", "b c.jpg"}},
        {"\n\na.jpg\n\n b.jpg", false, {"a.jpg", " b.jpg"}},
        {"", false, {}},
        {std::string("a\nb.jpg\0c.jpg\0\0", 14), true, {"a\nb.jpg", "c.jpg"}},
        {std::string("a.jpg\0", 6), false, {std::string("a.jpg\0", 6)}},
        {"x\\y.jpg\n'q'.jpg", false, {"x\\y.jpg", "'q'.jpg"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitList(c.Text, c.Null), c.Names) << ::testing::PrintToString(c.Text);
    }
}

TEST(InputList, AWalkTakesPicturesButNotResultsOrHiddenFiles) {
    const struct {
        const char* Name;
        bool Taken;
    } cases[] = {
        {"a.jpg", true},        {"IMG_0001.JPEG", true},  {"scan.tif", true},
        {"b.HEIC", true},       {"c.avif", true},         {"d.webp", true},
        {"e.gif", true},        {"f.bmp", true},          {"g.ico", true},
        {"p.png", true},        {"h.hif", true},          {"pointer.cur", true},
        {"a.b.jpg", true},      {"notes.txt", false},     {"jpg", false},
        {"raw.cr2", true},      {".hidden.jpg", false},   {"a_vlr.jpg", false},
        {"a_vlr.b.jpg", false}, {"_vlrphoto.jpg", false}, {"a_vlrx.jpg", true},
        {"vlr.jpg", true},      {"a.jpg_vlr.png", true},  {"DSC_0001.NEF", true},
        {"sensor.dng", true},   {"photo.arw", true},      {"a_vlr.cr3", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WalkTakes(c.Name), c.Taken) << c.Name;
    }
}

TEST(OutputNames, FollowTheVlrRuleAndTheFormat) {
    struct Case {
        const char* Input;
        OutputFormat Format;
        const char* Output;
    };
    const Case cases[] = {
        {"photo.jpg", OutputFormat::Jpeg, "photo_vlr.jpg"},
        {"a.b.jpg", OutputFormat::Jpeg, "a_vlr.b.jpg"},
        {"IMG_0001.JPG", OutputFormat::Jpeg, "IMG_0001_vlr.JPG"},
        {"scan.jpeg", OutputFormat::Jpeg, "scan_vlr.jpeg"},
        {"photo.png", OutputFormat::Jpeg, "photo_vlr.jpg"},
        {"a.b.png", OutputFormat::Jpeg, "a_vlr.b.jpg"},
        {"photo.jpg", OutputFormat::Png, "photo_vlr.png"},
        {"photo.PNG", OutputFormat::Png, "photo_vlr.PNG"},
        {"photo.bmp", OutputFormat::Png, "photo_vlr.png"},
        {"photo", OutputFormat::Jpeg, "_vlrphoto.jpg"},
        {"photo", OutputFormat::Png, "_vlrphoto.png"},
        {"사진.jpg", OutputFormat::Jpeg, "사진_vlr.jpg"},
        {"사진.gif", OutputFormat::Png, "사진_vlr.png"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputFileName(c.Input, c.Format), c.Output) << c.Input;
    }
    const struct {
        const char* Template;
        const char* Input;
        OutputFormat Format;
        const char* Output;
    } templates[] = {
        {"{stem}_x.{ext}", "/a/b/IMG_1.JPG", OutputFormat::Jpeg, "IMG_1_x.JPG"},
        {"{folder}-{stem}{suffix}.{ext}", "/a/b/my.trip.png", OutputFormat::Jpeg,
         "b-my.trip_vlr.jpg"},
        {"{{{stem}}}.{ext}", "/a/photo", OutputFormat::Png, "{photo}.png"},
        {"{stem}.{ext}", "/a/.hidden", OutputFormat::Jpeg, ".hidden.jpg"},
    };
    for (const auto& c : templates) {
        EXPECT_EQ(TemplateFileName(c.Template, c.Input, c.Format), c.Output) << c.Template;
    }
}

// Each row lays out files in a fresh folder and plans `Inputs` (relative to it); Actions has one
// letter a file: Convert, Skip an existing result, skip a Duplicate, Refuse. Setup entries are a
// file, a "folder/", a "link>target" or a "hard=target" (targets relative to the folder too).
TEST(OutputPlan, KeepsInputsAndResultsApart) {
    const struct {
        const char* Name;
        const char *Setup, *Inputs;  // words apart
        bool Overwrite;
        const char* OutputDir;
        const char* Actions;
        int Refused = -1, Names = -1;  // the reason for file Refused names input Names
    } rows[] = {
        {"an existing result is kept", "p.jpg p_vlr.jpg", "p.jpg", false, "", "S"},
        {"or replaced", "p.jpg p_vlr.jpg", "p.jpg", true, "", "C"},
        // A dangling link in the result's place is still something the user put there.
        {"a dangling link is kept", "p.jpg p_vlr.jpg>nowhere", "p.jpg", false, "", "S"},
        {"one file under four names", "p.jpg sub/ link.jpg>p.jpg hard.jpg=p.jpg",
         "p.jpg sub/../p.jpg link.jpg hard.jpg", false, "", "CDDD"},
        // p.jpg would become p_vlr.jpg, itself an input; without --overwrite a mere skip.
        {"no result replaces another input", "p.jpg p_vlr.jpg", "p.jpg p_vlr.jpg", true, "", "RC",
         0, 1},
        {"nor skips one", "p.jpg p_vlr.jpg", "p.jpg p_vlr.jpg", false, "", "SC"},
        // The result's name is a link to the input itself, or a second name of its file; a
        // folder is no input at all.
        {"no result replaces its own input",
         "l.jpg l_vlr.jpg>l.jpg h.jpg h_vlr.jpg=h.jpg album.jpg/", "l.jpg h.jpg album.jpg", true,
         "", "RRR"},
        {"two inputs never share a result", "a/ b/ a/p.jpg b/p.jpg", "a/p.jpg b/p.jpg", true, "a",
         "CR", 1, 0},
        {"nor do two extensions", "s.jpg s.png", "s.png s.jpg", false, "", "CR"},
        // Also when the first is skipped as existing.
        {"nor an existing result", "s.jpg s.png s_vlr.jpg", "s.png s.jpg", false, "", "SR"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ScratchFolder scratch;
        for (const std::string& entry : Words(row.Setup)) {
            const std::size_t link = entry.find_first_of(">=");
            const std::string name = entry.substr(0, link);
            if (link != std::string::npos && entry[link] == '>') {
                fs::create_symlink(scratch / entry.substr(link + 1), scratch / name);
            } else if (link != std::string::npos) {
                fs::create_hard_link(scratch / entry.substr(link + 1), scratch / name);
            } else if (name.back() == '/') {
                fs::create_directory(scratch / name);
            } else {
                WriteBytes(scratch / name, "x");
            }
        }
        BatchOptions options;
        for (const std::string& input : Words(row.Inputs)) {
            options.Files.push_back(scratch / input);
        }
        options.Overwrite = row.Overwrite;
        options.OutputDir = *row.OutputDir ? scratch / row.OutputDir : "";
        const std::vector<PlannedFile> plan = PlanOutputs(options);
        std::string actions;
        for (const PlannedFile& file : plan) {
            actions += "CSDR"[static_cast<int>(file.Action)];
        }
        EXPECT_EQ(actions, row.Actions);
        if (row.Refused >= 0) {
            EXPECT_TRUE(Contains(plan[row.Refused].Reason, options.Files[row.Names]))
                << plan[row.Refused].Reason;
        }
    }
}

TEST(ShareCores, GivesEveryPassItsShare) {
    struct Case {
        unsigned Requested;
        std::size_t Files;
        unsigned Cores;
        unsigned Workers;
        unsigned PassThreads;
    };
    const Case cases[] = {
        // Files first; spare jobs help a file, never beyond the cores.
        {0, 10, 4, 4, 1}, {0, 1, 4, 1, 4}, {2, 10, 4, 2, 1}, {3, 10, 8, 3, 1},
        {3, 10, 2, 3, 1}, {1, 0, 4, 1, 1}, {0, 3, 0, 1, 1},  {8, 2, 4, 2, 2},
        {2, 1, 2, 1, 2},  {1, 8, 2, 1, 1}, {8, 1, 2, 1, 2},
    };
    for (const Case& c : cases) {
        JobShares shares = ShareCores(c.Requested, c.Files, c.Cores);
        EXPECT_EQ(shares.Workers, c.Workers) << c.Requested << " " << c.Files << " " << c.Cores;
        EXPECT_EQ(shares.PassThreads, c.PassThreads)
            << c.Requested << " " << c.Files << " " << c.Cores;
    }
}

TEST(FitToColumns, CutsWholeCharactersAndCountsTheirColumns) {
    const struct {
        std::string Text;
        int Columns;  // of the whole text
        int FitTo;
        std::string Fitted;
    } cases[] = {
        {"abcdef", 6, 4, "abcd"},
        {"abc", 3, 10, "abc"},
        // Each Hangul syllable is three bytes and two columns.
        {"a사진b", 6, 4, "a사"},
        {"a사진b", 6, 3, "a사"},
        {"a사진b", 6, 2, "a"},
        {"é", 1, 1, "é"},
        // A combining mark takes no column of its own and stays with its letter.
        {"e\u0301e\u0301x", 3, 2, "e\u0301e\u0301"},
        {"\u0915\u094D\u0937", 2, 1, "\u0915\u094D"},
        // Wide beyond the Basic Multilingual Plane, and the fullwidth forms.
        {"\U0001F600\U00020000ｶＡ", 7, 5, "\U0001F600\U00020000ｶ"},
        // A broken sequence at the end is never read past.
        {std::string("ab\xE1", 3), 3, 5, std::string("ab\xE1", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayColumns(c.Text), c.Columns) << c.Text;
        EXPECT_EQ(FitToColumns(c.Text, c.FitTo), c.Fitted) << c.Text;
    }
}

}  // namespace
}  // namespace velora::batch
