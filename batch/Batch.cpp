#include "Batch.h"

#include <filesystem>
#include <set>
#include <system_error>
#include <thread>

#include "BatchOptions.h"
#include "FileRoad.h"
#include "ImageFile.h"
#include "InputList.h"
#include "JobRunner.h"
#include "OutputPlan.h"
#include "Platform.h"
#include "ProgressDisplay.h"

namespace velora::batch {

namespace {

const std::string Program = "velora-batch: ";

int UsageError(const BatchEnvironment& environment, const std::string& reason) {
    std::fprintf(environment.Err, "%s%s\nTry 'velora-batch --help' for more information.\n",
                 Program.c_str(), EscapeControls(reason).c_str());
    return ExitBadUsage;
}

// Temporaries that an earlier run left where this one writes: said, never deleted, since a run
// going on beside this one may still be writing them.
std::vector<std::string> LeftoverNotes(const std::vector<PlannedFile>& plan) {
    std::set<std::string> folders;
    for (const PlannedFile& file : plan) {
        if (file.Action == PlanAction::Convert) {
            folders.insert(std::filesystem::path(file.Output).parent_path().string());
        }
    }
    std::vector<std::string> notes;
    for (const std::string& folder : folders) {
        for (const std::string& path : LeftoverTemporaries(folder)) {
            notes.push_back(Program + path +
                            ": left by a save that was stopped midway; it can be deleted once no "
                            "Velora save into this folder is running");
        }
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

    std::atomic<int> neverCancelled{0};
    const std::atomic<int>& cancel = environment.Cancel ? *environment.Cancel : neverCancelled;

    CollectedInputs inputs = CollectInputs(options, environment.In);
    if (!inputs.ListError.empty()) {
        return UsageError(environment, inputs.ListError);
    }
    std::vector<PlannedFile> plan = PlanOutputs(options, inputs.Files);
    std::vector<const PlannedFile*> work;
    std::size_t failed = inputs.Problems.size();
    std::size_t skipped = 0;
    std::vector<std::string> notes;
    std::vector<std::string> errors;
    for (const std::string& problem : inputs.Problems) {
        errors.push_back(Program + problem);
    }
    if (plan.empty() && errors.empty()) {
        notes.push_back(Program + "no files to convert");
    }
    for (const PlannedFile& file : plan) {
        switch (file.Action) {
            case PlanAction::Convert:
                work.push_back(&file);
                break;
            case PlanAction::SkipExisting:
            case PlanAction::SkipDuplicate:
                ++skipped;
                notes.push_back(Program + file.Input + ": " + file.Reason);
                break;
            case PlanAction::Refuse:
                ++failed;
                errors.push_back(Program + file.Input + ": " + file.Reason);
                break;
        }
    }

    unsigned cores = environment.Cores ? environment.Cores : std::thread::hardware_concurrency();
    JobShares shares = ShareCores(options.Jobs, work.size(), cores);
    DisplaySettings settings;
    settings.Stream = environment.Err;
    settings.Terminal = environment.Terminal;
    settings.Colour = environment.Colour;
    settings.Quiet = options.Quiet;
    settings.Columns = environment.Columns > 0 ? environment.Columns : 80;
    settings.Resizes = environment.Resizes;
    settings.ColumnsNow = environment.ColumnsNow;
    settings.Total = work.size();
    settings.Slots = shares.Workers;

    // Half the machine's memory for the pictures, so that parallel jobs never push it into swap;
    // one picture larger than that is still converted, alone.
    const std::uint64_t machine = PhysicalMemory();
    MemoryBudget ownBudget(machine != 0 ? machine / 2 : std::uint64_t{2} << 30);
    MemoryBudget* budget = environment.Budget ? environment.Budget : &ownBudget;

    std::atomic<std::size_t> converted{0};
    std::atomic<std::size_t> failedOnTheWay{0};
    std::atomic<std::size_t> skippedOnTheWay{0};
    {
        ProgressDisplay display(settings);
        for (const std::string& note : notes) {
            display.Note(note);
        }
        for (const std::string& error : errors) {
            display.Error(error);
        }
        for (const std::string& note : LeftoverNotes(plan)) {
            display.Note(note);
        }
        RunJobs(work.size(), shares.Workers, cancel, [&](std::size_t index, unsigned slot) {
            const PlannedFile& file = *work[index];
            display.Begin(slot, FileName(file.Input));
            std::string folderError;
            if (!options.OutputDir.empty() && !MakeFolderFor(file.Output, folderError)) {
                failedOnTheWay.fetch_add(1);
                display.Error(Program + file.Input + ": " + folderError);
                display.Finish(slot, "");
                return;
            }
            RoadObserver observer;
            observer.Stage = [&display, slot](RoadStage stage, int width) {
                display.Stage(slot, stage, width);
            };
            observer.Column = [&display, slot](int) { display.Column(slot); };
            RoadResult result = ConvertFile(file.Input, file.Output, options, shares.PassThreads,
                                            cancel, observer, budget);
            for (const std::string& warning : result.Warnings) {
                display.Warning(Program + file.Input + ": warning: " + warning);
            }
            if (!result.LeftOut.empty()) {
                // Lost metadata is said even under --quiet: the file looks complete without it.
                std::string names;
                for (const std::string& name : result.LeftOut) {
                    names += (names.empty() ? "" : ", ") + name;
                }
                display.LossWarning(
                    Program + file.Input +
                    ": warning: saved without metadata too large for the file: " + names);
            }
            switch (result.Outcome) {
                case RoadOutcome::Done:
                    converted.fetch_add(1);
                    display.Finish(slot, file.Input + " -> " + file.Output);
                    break;
                case RoadOutcome::Failed:
                    failedOnTheWay.fetch_add(1);
                    display.Error(Program + file.Input + ": " + result.Message);
                    display.Finish(slot, "");
                    break;
                case RoadOutcome::Skipped:
                    // Another run (or program) wrote it after this run was planned.
                    skippedOnTheWay.fetch_add(1);
                    display.Note(Program + file.Input + ": '" + file.Output +
                                 "' appeared meanwhile, skipped (--overwrite replaces it)");
                    display.Finish(slot, "");
                    break;
                case RoadOutcome::Cancelled:
                    display.Finish(slot, "");
                    break;
            }
        });
        failed += failedOnTheWay.load();
        skipped += skippedOnTheWay.load();

        if (cancel.load() != 0) {
            display.Error(Program + "interrupted; " + std::to_string(converted.load()) + " of " +
                          std::to_string(work.size()) + " files converted");
            return ExitInterrupted;
        }
        if (plan.size() > 1) {
            display.Note(Program + std::to_string(converted.load()) + " converted, " +
                         std::to_string(skipped) + " skipped, " + std::to_string(failed) +
                         " failed");
        }
    }
    return failed == 0 ? ExitAllDone : ExitSomeFailed;
}

}  // namespace velora::batch
