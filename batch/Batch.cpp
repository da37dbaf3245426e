#include "Batch.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <thread>

#include "BatchOptions.h"
#include "FileConversion.h"
#include "ImageFile.h"
#include "InputList.h"
#include "JobRunner.h"
#include "OutputPlan.h"
#include "PipeRun.h"
#include "Platform.h"
#include "ProgressDisplay.h"
#include "ResultFile.h"
#include "RunReport.h"

namespace velora::batch {

namespace {

const std::string Program = "velora-batch: ";

int UsageError(const BatchEnvironment& environment, const std::string& reason) {
    std::fprintf(environment.Err, "%s%s\nTry 'velora-batch --help' for more information.\n",
                 Program.c_str(), EscapeControls(reason).c_str());
    return ExitBadUsage;
}

// Temporaries that a stopped save left where this run writes: said, never deleted. Those a living
// run still writes are not among them.
std::vector<std::string> LeftoverNotes(const std::vector<PlannedFile>& plan, int verbosity) {
    std::set<std::string> folders;
    for (const PlannedFile& file : plan) {
        if (file.Action == PlanAction::Convert) {
            folders.insert(std::filesystem::path(file.Output).parent_path().string());
        }
    }
    std::vector<std::string> paths;
    for (const std::string& folder : folders) {
        for (const std::string& path : LeftoverTemporaries(folder)) {
            paths.push_back(path);
        }
    }
    std::vector<std::string> notes;
    const std::string why = "left by a save that was stopped midway; no running save owns ";
    if (verbosity < 0 && !paths.empty()) {
        notes.push_back(Program + paths.front() + ": " + why + "it, it can be deleted" +
                        (paths.size() > 1 ? " (and " + std::to_string(paths.size() - 1) +
                                                " more such temporaries)"
                                          : std::string()));
        return notes;
    }
    for (const std::string& path : paths) {
        notes.push_back(Program + path + ": " + why + "it, it can be deleted");
    }
    return notes;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// Under -o a result found by a folder walk keeps its folder, which may not exist yet.
bool MakeFolderFor(const std::string& output, std::string& error) {
    const std::filesystem::path folder = std::filesystem::path(output).parent_path();
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    // Another worker may have made it meanwhile; what counts is that it is there now.
    std::error_code checked;
    if (std::filesystem::is_directory(folder, checked)) {
        return true;
    }
    error = "cannot make the folder '" + folder.string() +
            "': " + (made ? made.message() : std::string("a file is in its place"));
    return false;
}

// FNV-1a: the same number for the same name on every machine.
std::uint64_t NameHash(const std::string& name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : name) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// Skips of one kind: each named with -v, else one line for all (the file's own line when alone).
struct SkipGroup {
    std::vector<std::string> Lines;
    std::string Summary;  // "N <Summary>"
};

void SaySkips(ProgressDisplay& display, const SkipGroup& group, int verbosity) {
    if (group.Lines.size() == 1 || (verbosity > 0 && !group.Lines.empty())) {
        for (const std::string& line : group.Lines) {
            display.Note(line);
        }
    } else if (!group.Lines.empty()) {
        display.Note(Program + std::to_string(group.Lines.size()) + " " + group.Summary);
    }
}

// The largest files first, the rest in their order: with several jobs a run then never ends with
// one large file converting alone while the other jobs have nothing left to do.
void LargestFirst(std::vector<const PlannedFile*>& work) {
    std::vector<std::pair<std::uintmax_t, const PlannedFile*>> sized;
    for (const PlannedFile* file : work) {
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(file->Input, error);
        sized.emplace_back(error ? 0 : bytes, file);
    }
    std::stable_sort(sized.begin(), sized.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; i < work.size(); ++i) {
        work[i] = sized[i].second;
    }
}

// What the run reports and counts, shared by its workers.
struct Tally {
    std::atomic<std::size_t> Converted{0};
    std::atomic<std::size_t> Failed{0};
    std::atomic<std::size_t> Skipped{0};
    std::mutex Mutex;
    SkipGroup EarlierResults;
};

int DryRun(const BatchOptions& options, const BatchEnvironment& environment,
           const std::vector<const PlannedFile*>& work) {
    const char end = options.NullSeparated ? '\0' : '\n';
    const char between = options.NullSeparated ? '\0' : '\t';
    for (const PlannedFile* file : work) {
        std::fputs(file->Input.c_str(), environment.Out);
        std::fputc(between, environment.Out);
        std::fputs(file->Output.c_str(), environment.Out);
        std::fputc(end, environment.Out);
    }
    return std::fflush(environment.Out) == 0 ? ExitAllDone : ExitSomeFailed;
}

}  // namespace

int RunBatch(const std::vector<std::string>& arguments, const BatchEnvironment& environment) {
    ParseResult parsed = ParseCommandLine(arguments);
    switch (parsed.Outcome) {
        case ParseOutcome::Help:
            std::fputs(HelpText().c_str(), environment.Out);
            return ExitAllDone;
        case ParseOutcome::Version:
            std::fputs(VersionText().c_str(), environment.Out);
            return ExitAllDone;
        case ParseOutcome::UsageError:
            return UsageError(environment, parsed.Error);
        case ParseOutcome::Run:
            break;
    }
    const BatchOptions& options = parsed.Options;
    if (!options.OutputDir.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(options.OutputDir, error)) {
            return UsageError(environment, "output folder '" + options.OutputDir + "' " +
                                               (std::filesystem::exists(options.OutputDir, error)
                                                    ? "is not a folder"
                                                    : "does not exist"));
        }
    }
    const ConversionOptions& conversion = options.Conversion;
    if ((conversion.ReddishFilm || conversion.BlueishFilm) && !conversion.GrayContrast &&
        options.Verbosity > -2) {
        std::fprintf(environment.Err,
                     "%swarning: --film has no effect with --no-gray-contrast: the film tints "
                     "ride on the lightness curve\n",
                     Program.c_str());
    }

    std::atomic<int> neverCancelled{0};
    const std::atomic<int>& cancel = environment.Cancel ? *environment.Cancel : neverCancelled;

    CollectedInputs inputs = CollectInputs(options, environment.In);
    if (!inputs.ListError.empty()) {
        return UsageError(environment, inputs.ListError);
    }
    const bool photoFromInput = std::any_of(inputs.Files.begin(), inputs.Files.end(),
                                            [](const InputFile& file) { return file.Path == "-"; });
    if (options.ToStandardOutput || photoFromInput) {
        if (inputs.Files.size() != 1 || !inputs.Problems.empty()) {
            return UsageError(environment, "the result goes to standard output: one photo, not " +
                                               std::to_string(inputs.Files.size()));
        }
        return RunPipe(inputs.Files.front().Path, options, environment, cancel);
    }
    std::vector<PlannedFile> plan = PlanOutputs(options, inputs.Files);
    if (options.ShardCount > 0) {
        // Planned whole, so that no part replaces what another part reads.
        plan.erase(std::remove_if(plan.begin(), plan.end(),
                                  [&](const PlannedFile& file) {
                                      return NameHash(file.Input) % options.ShardCount !=
                                             options.ShardIndex - 1;
                                  }),
                   plan.end());
    }
    std::vector<const PlannedFile*> work;
    std::size_t failed = inputs.Problems.size();
    std::vector<std::string> notes;
    std::vector<std::string> errors;
    SkipGroup existing{{}, "results exist already, skipped (--overwrite replaces them)"};
    SkipGroup duplicates{{}, "inputs named more than once, converted once"};
    for (const std::string& problem : inputs.Problems) {
        errors.push_back(Program + problem);
    }
    if (plan.empty() && errors.empty()) {
        notes.push_back(Program + "no files to convert");
    }
    std::FILE* reportStream = nullptr;
    if (!options.Report.empty() && !options.DryRun) {
        reportStream =
            options.Report == "-" ? environment.Out : std::fopen(options.Report.c_str(), "w");
        if (reportStream == nullptr) {
            return UsageError(environment, "cannot write the report '" + options.Report + "'");
        }
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> ownReport(
        reportStream != environment.Out ? reportStream : nullptr,
        [](std::FILE* stream) { return stream ? std::fclose(stream) : 0; });
    RunReport report(reportStream);
    for (const PlannedFile& file : plan) {
        switch (file.Action) {
            case PlanAction::Convert:
                work.push_back(&file);
                continue;
            case PlanAction::SkipExisting:
                existing.Lines.push_back(Program + file.Input + ": " + file.Reason);
                break;
            case PlanAction::SkipDuplicate:
                duplicates.Lines.push_back(Program + file.Input + ": " + file.Reason);
                break;
            case PlanAction::Refuse:
                ++failed;
                errors.push_back(Program + file.Input + ": " + file.Reason);
                break;
        }
        report.Add(FileReport(file.Input, file.Output,
                              file.Action == PlanAction::Refuse ? "failed" : "skipped",
                              file.Reason));
    }
    std::size_t skipped = existing.Lines.size() + duplicates.Lines.size();
    if (options.DryRun) {
        for (const std::string& error : errors) {
            std::fprintf(environment.Err, "%s\n", EscapeControls(error).c_str());
        }
        const int listed = DryRun(options, environment, work);
        return failed == 0 ? listed : ExitSomeFailed;
    }

    unsigned cores = environment.Cores ? environment.Cores : std::thread::hardware_concurrency();
    JobShares shares = ShareCores(options.Jobs, work.size(), cores);
    if (shares.Workers > 1) {
        LargestFirst(work);
    }
    DisplaySettings settings;
    settings.Stream = environment.Err;
    settings.Terminal = environment.Terminal;
    settings.Colour = environment.Colour;
    settings.Quiet = options.Verbosity < 0;
    settings.BarWhenQuiet = options.Verbosity == -1;
    settings.Columns = environment.Columns > 0 ? environment.Columns : 80;
    settings.Resizes = environment.Resizes;
    settings.ColumnsNow = environment.ColumnsNow;
    settings.Total = work.size();
    settings.Slots = shares.Workers;

    // Three quarters of the memory available to this run (the rest for the program itself), so
    // that parallel jobs never push the machine into swap or past a container's limit; one
    // picture larger than that is still tried, alone. One job at a time never waits for its
    // share, so the kernel's and the control groups' figures (a dozen files read) are asked for
    // only when jobs run side by side.
    const std::uint64_t available = shares.Workers > 1 ? AvailableMemory() : 0;
    const std::uint64_t machine = PhysicalMemory();
    MemoryBudget ownBudget(available != 0 ? available / 4 * 3
                           : machine != 0 ? machine / 2
                                          : std::uint64_t{2} << 30);
    MemoryBudget* budget = environment.Budget ? environment.Budget : &ownBudget;

    Tally tally;
    tally.EarlierResults.Summary =
        "inputs are Velora results, skipped (--include-results converts them)";
    {
        ProgressDisplay display(settings);
        for (const std::string& note : notes) {
            display.Note(note);
        }
        for (const std::string& error : errors) {
            display.Error(error);
        }
        SaySkips(display, existing, options.Verbosity);
        SaySkips(display, duplicates, options.Verbosity);
        if (options.Verbosity > -2) {
            for (const std::string& note : LeftoverNotes(plan, options.Verbosity)) {
                display.LossWarning(note);
            }
        }
        RunJobs(work.size(), shares.Workers, cancel, [&](std::size_t index, unsigned slot) {
            const PlannedFile& file = *work[index];
            const auto started = std::chrono::steady_clock::now();
            FileReport entry(file.Input, file.Output, "failed");
            auto finish = [&](const std::string& line) {
                entry.Seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                        .count();
                report.Add(entry);
                display.Finish(slot, line);
            };
            display.Begin(slot, FileName(file.Input));
            std::string folderError;
            if (!options.OutputDir.empty() && !MakeFolderFor(file.Output, folderError)) {
                tally.Failed.fetch_add(1);
                display.Error(Program + file.Input + ": " + folderError);
                entry.Reason = folderError;
                finish("");
                return;
            }
            FileObserver observer;
            observer.Stage = [&display, slot](FileStage stage, int width) {
                display.Stage(slot, stage, width);
            };
            observer.Column = [&display, slot](int) { display.Column(slot); };
            FileResult result = ConvertFile(file.Input, file.Output, options, shares.PassThreads,
                                            cancel, observer, budget);
            if (result.Outcome == FileOutcome::Done) {
                const std::string warning =
                    FinishResult(file.Input, file.Output, options.Preserve, result.Taken);
                if (!warning.empty()) {
                    result.Warnings.push_back(warning);
                }
            }
            entry.Warnings = result.Warnings;
            for (const std::string& warning : result.Warnings) {
                display.Warning(Program + file.Input + ": warning: " + warning);
            }
            if (!result.LeftOut.empty()) {
                // Lost metadata is said even under --quiet: the file looks complete without it.
                std::string names;
                for (const std::string& name : result.LeftOut) {
                    names += (names.empty() ? "" : ", ") + name;
                }
                const std::string loss = "saved without metadata the file cannot hold: " + names;
                entry.Warnings.push_back(loss);
                display.LossWarning(Program + file.Input + ": warning: " + loss);
            }
            switch (result.Outcome) {
                case FileOutcome::Done: {
                    tally.Converted.fetch_add(1);
                    entry.Status = "converted";
                    std::error_code sizeError;
                    const auto bytes = std::filesystem::file_size(file.Output, sizeError);
                    entry.Bytes = sizeError ? -1 : static_cast<std::int64_t>(bytes);
                    finish(file.Input + " -> " + file.Output);
                    break;
                }
                case FileOutcome::Failed:
                    tally.Failed.fetch_add(1);
                    entry.Reason = result.Message;
                    display.Error(Program + file.Input + ": " + result.Message);
                    finish("");
                    break;
                case FileOutcome::Skipped:
                    // Another run (or program) wrote it after this run was planned.
                    tally.Skipped.fetch_add(1);
                    entry.Status = "skipped";
                    entry.Reason = "'" + file.Output + "' appeared meanwhile";
                    display.Note(Program + file.Input + ": '" + file.Output +
                                 "' appeared meanwhile, skipped (--overwrite replaces it)");
                    finish("");
                    break;
                case FileOutcome::EarlierResult: {
                    tally.Skipped.fetch_add(1);
                    entry.Status = "skipped";
                    entry.Reason = "a Velora result";
                    std::lock_guard<std::mutex> lock(tally.Mutex);
                    tally.EarlierResults.Lines.push_back(
                        Program + file.Input +
                        ": a Velora result, skipped (--include-results converts it)");
                    finish("");
                    break;
                }
                case FileOutcome::Cancelled:
                    entry.Status = "interrupted";
                    finish("");
                    break;
            }
        });
        failed += tally.Failed.load();
        skipped += tally.Skipped.load();
        std::sort(tally.EarlierResults.Lines.begin(), tally.EarlierResults.Lines.end());
        SaySkips(display, tally.EarlierResults, options.Verbosity);
        if (report.Failed()) {
            display.Error(Program + "cannot write the report '" + options.Report + "'");
            ++failed;
        }

        if (cancel.load() != 0) {
            display.Error(Program + "interrupted; " + std::to_string(tally.Converted.load()) +
                          " of " + std::to_string(work.size()) + " files converted");
            return ExitInterrupted;
        }
        if (plan.size() > 1) {
            display.Note(Program + std::to_string(tally.Converted.load()) + " converted, " +
                         std::to_string(skipped) + " skipped, " + std::to_string(failed) +
                         " failed");
        }
    }
    return failed == 0 ? ExitAllDone : ExitSomeFailed;
}

}  // namespace velora::batch
