#include "FileRoad.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ConversionRoad.h"
#include "ImageFile.h"
#include "PictureRows.h"
#include "RowPipeline.h"

namespace velora::batch {

namespace {

RoadResult Failure(std::string message) {
    RoadResult result;
    result.Outcome = RoadOutcome::Failed;
    result.Message = std::move(message);
    return result;
}

void Tell(const RoadObserver& observer, RoadStage stage, int width) {
    if (observer.Stage) {
        observer.Stage(stage, width);
    }
}

}  // namespace

std::uint64_t RoadMemory(unsigned width, unsigned height, std::uint64_t fileBytes) {
    return 9 * static_cast<std::uint64_t>(width) * height + fileBytes;
}

namespace {

// The whole-picture road, for the rare file whose rows cannot tell all its metadata in time.
RoadResult ConvertWhole(const std::string& input, const std::string& output,
                        const BatchOptions& options, unsigned threads,
                        const std::atomic<int>& cancel, const RoadObserver& observer,
                        MemoryBudget* budget) {
    const OutputFormat format = options.Format;
    std::error_code sizeError;
    const std::uint64_t fileBytes = std::filesystem::file_size(input, sizeError);
    MemoryShare share(budget);
    LoadOptions loadOptions;
    loadOptions.SavedAs = format == OutputFormat::Jpeg ? SaveFormat::Jpeg : SaveFormat::Png;
    loadOptions.BeforeAllocation = [&](unsigned width, unsigned height) {
        return share.Take(RoadMemory(width, height, sizeError ? 0 : fileBytes), cancel);
    };
    LoadResult loadResult = LoadBitmapFromFile(input, loadOptions);
    if (cancel.load() != 0) {
        return RoadResult{RoadOutcome::Cancelled, {}, {}};
    }
    BitmapRef loaded = std::move(loadResult.Bitmap);
    if (!loaded || !loaded->HasImage()) {
        return Failure(loadResult.Message.empty() ? "cannot be read as a picture"
                                                  : loadResult.Message);
    }
    std::vector<std::string> warnings = std::move(loadResult.Warnings);
    // A picture read in part is no result: a file cut short or still being written would come
    // out with grey or black areas, and a later run would skip it as done.
    if (loadResult.Damaged) {
        if (!options.AllowDamaged) {
            return Failure("the file is damaged (" + loadResult.DamageReason +
                           "); nothing written (--allow-damaged converts what could be read)");
        }
        warnings.erase(std::remove(warnings.begin(), warnings.end(), loadResult.DamageReason),
                       warnings.end());
        warnings.insert(warnings.begin(), "the file is damaged (" + loadResult.DamageReason +
                                              "); converted as far as it could be read");
    }
    if (cancel.load() != 0) {
        return RoadResult{RoadOutcome::Cancelled, {}, warnings};
    }

    // The save road reads only the opened picture's metadata, and a one-pixel clone carries all
    // of it: this keeps a second full-size copy out of memory.
    BitmapRef opened;
    if (format == OutputFormat::Jpeg) {
        opened = loaded->Clone(0, 0, 1, 1);
        if (!opened) {
            return Failure("not enough memory to keep its metadata");
        }
    }
    const int width = static_cast<int>(loaded->Width());
    Tell(observer, RoadStage::Converting, width);
    RoadSteps steps;
    steps.Progress = [&observer](int column) {
        if (observer.Column) {
            observer.Column(column);
        }
    };
    steps.Sharpening = [&observer, width] { Tell(observer, RoadStage::Sharpening, width); };
    RoadEnding<WorkingBitmap> road =
        ConvertAndSharpen(std::move(loaded), options.Conversion, steps, cancel, threads);
    if (!road.Picture || cancel.load() != 0) {
        return RoadResult{RoadOutcome::Cancelled, {}, warnings};
    }
    if (!road.Sharpened) {
        // The window keeps the converted picture in this case too; the files stay alike.
        warnings.push_back("not enough memory to sharpen it; written as converted");
    }
    Tell(observer, RoadStage::Saving, width);
    const ExistingTarget existing =
        options.Overwrite ? ExistingTarget::Replace : ExistingTarget::Keep;
    SaveResult saved = format == OutputFormat::Jpeg
                           ? SaveConvertedPicture(*road.Picture, *opened, output, existing)
                           : SavePng(*road.Picture, output, existing);
    if (saved.TargetExists) {
        return RoadResult{RoadOutcome::Skipped, {}, warnings};
    }
    if (!saved.Ok) {
        return Failure("cannot write '" + output +
                       "': " + (saved.Message.empty() ? "unknown error" : saved.Message));
    }
    return RoadResult{RoadOutcome::Done, {}, warnings};
}

std::string CannotWrite(const std::string& output, const std::string& message) {
    return "cannot write '" + output + "': " + (message.empty() ? "unknown error" : message);
}

}  // namespace

RoadResult ConvertFile(const std::string& input, const std::string& output,
                       const BatchOptions& options, unsigned threads,
                       const std::atomic<int>& cancel, const RoadObserver& observer,
                       MemoryBudget* budget) {
    const OutputFormat format = options.Format;
    Tell(observer, RoadStage::Loading, 0);
    PictureRowReader reader;
    if (!reader.Open(input)) {
        return Failure(reader.Message().empty() ? "cannot be read as a picture" : reader.Message());
    }
    if (cancel.load() != 0) {
        return RoadResult{RoadOutcome::Cancelled, {}, reader.Warnings()};
    }
    const int width = reader.Width();
    const int height = reader.Height();
    ConvertedPictureWriter writer;
    if (!writer.Start(output, *reader.Metadata(), width, height,
                      format == OutputFormat::Jpeg ? ConvertedPictureWriter::Format::Jpeg
                                                   : ConvertedPictureWriter::Format::Png,
                      options.Overwrite ? ExistingTarget::Replace : ExistingTarget::Keep)) {
        return Failure(CannotWrite(output, writer.Message()));
    }
    RowRoad road;
    road.Start(width, height, options.Conversion);
    std::vector<std::string> warnings;
    if (!road.Sharpened()) {
        warnings.push_back("not enough memory to sharpen it; written as converted");
    }

    // Progress counts rows here: every row leaves the road finished.
    Tell(observer, RoadStage::Converting, height);
    int rows = 0;
    const PipelineResult run =
        RunRowPipeline(reader, road, writer, threads, cancel, [&observer, &rows] {
            if (observer.Column) {
                observer.Column(rows);
            }
            ++rows;
        });
    const std::vector<std::string>& seen = reader.Warnings();
    warnings.insert(warnings.begin(), seen.begin(), seen.end());
    switch (run.Outcome) {
        case PipelineOutcome::Done:
            break;
        case PipelineOutcome::Cancelled:
            return RoadResult{RoadOutcome::Cancelled, {}, warnings};
        case PipelineOutcome::Failed:
            return Failure(run.ReaderFailed ? run.Message : CannotWrite(output, run.Message));
    }
    if (!reader.Finish()) {
        return Failure(reader.Message());
    }
    if (reader.MetadataGrew()) {
        // Segments after the picture data reached the whole load but not the result written
        // already: that result is dropped and the file made again the whole-picture way.
        return ConvertWhole(input, output, options, threads, cancel, observer, budget);
    }
    Tell(observer, RoadStage::Saving, height);
    if (!writer.Commit()) {
        if (writer.TargetExists()) {
            return RoadResult{RoadOutcome::Skipped, {}, warnings};
        }
        return Failure(CannotWrite(output, writer.Message()));
    }
    return RoadResult{RoadOutcome::Done, {}, warnings};
}

}  // namespace velora::batch
