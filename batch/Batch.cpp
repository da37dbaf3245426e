#include "Batch.h"

#include <filesystem>
#include <system_error>
#include <thread>

#include "BatchOptions.h"
#include "FileRoad.h"
#include "JobRunner.h"
#include "OutputPlan.h"
#include "ProgressDisplay.h"

namespace velora::batch {

namespace {

const std::string Program = "velora-batch: ";

int UsageError(const BatchEnvironment& environment, const std::string& reason) {
    std::fprintf(environment.Err, "%s%s\nTry 'velora-batch --help' for more information.\n",
                 Program.c_str(), reason.c_str());
    return ExitBadUsage;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
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

    std::vector<PlannedFile> plan = PlanOutputs(options);
    std::vector<const PlannedFile*> work;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    std::vector<std::string> notes;
    std::vector<std::string> errors;
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
    settings.Quiet = options.Quiet;
    settings.Columns = environment.Columns > 0 ? environment.Columns : 80;
    settings.Total = work.size();
    settings.Slots = shares.Workers;

    std::atomic<std::size_t> converted{0};
    std::atomic<std::size_t> failedOnTheWay{0};
    {
        ProgressDisplay display(settings);
        for (const std::string& note : notes) {
            display.Note(note);
        }
        for (const std::string& error : errors) {
            display.Error(error);
        }
        RunJobs(work.size(), shares.Workers, cancel, [&](std::size_t index, unsigned slot) {
            const PlannedFile& file = *work[index];
            display.Begin(slot, FileName(file.Input));
            RoadObserver observer;
            observer.Stage = [&display, slot](RoadStage stage, int width) {
                display.Stage(slot, stage, width);
            };
            observer.Column = [&display, slot](int) { display.Column(slot); };
            RoadResult result = ConvertFile(file.Input, file.Output, options.Conversion,
                                            options.Format, shares.PassThreads, cancel, observer);
            for (const std::string& warning : result.Warnings) {
                display.Note(Program + file.Input + ": warning: " + warning);
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
                case RoadOutcome::Cancelled:
                    display.Finish(slot, "");
                    break;
            }
        });
        failed += failedOnTheWay.load();

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
