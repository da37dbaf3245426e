#include "FileConversion.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ConvertAndSharpen.h"
#include "ImageFile.h"
#include "ImageProperties.h"
#include "PictureRows.h"
#include "Platform.h"
#include "RowPipeline.h"

namespace velora::batch {

namespace {

FileResult Failure(std::string message) {
    FileResult result;
    result.Outcome = FileOutcome::Failed;
    result.Message = std::move(message);
    return result;
}

void Tell(const FileObserver& observer, FileStage stage, int width) {
    if (observer.Stage) {
        observer.Stage(stage, width);
    }
}

// A picture read in part is no result: a file cut short or still being written would come out
// with grey or black areas, and a later run would skip it as done. Allowed, it is a warning
// that takes the place of the decoder's own word for the damage.
bool RefuseDamage(const std::string& reason, bool allowed, std::vector<std::string>& warnings,
                  FileResult& refusal) {
    if (!allowed) {
        refusal = Failure("the file is damaged (" + reason +
                          "); nothing written (--allow-damaged converts what could be read)");
        return true;
    }
    warnings.erase(std::remove(warnings.begin(), warnings.end(), reason), warnings.end());
    warnings.insert(warnings.begin(),
                    "the file is damaged (" + reason + "); converted as far as it could be read");
    return false;
}

// The ASCII item `tag` of `bitmap`, or "". The save copies nothing from a bitmap whose
// LastStatus tells of a failure, so the status is left as it was.
std::string TextItem(WorkingBitmap& bitmap, std::uint32_t tag) {
    const Status before = bitmap.LastStatus();
    std::string text;
    ImageProperties(bitmap).GetText(tag, text);
    bitmap.GetLastStatus();
    if (before != Status::Ok) {
        bitmap.RecordStatus(before);
    }
    return text;
}

// The time the photo was taken, as its EXIF gives it ("2024:05:01 12:30:00"), or "".
std::string TakenAt(WorkingBitmap& metadata) {
    return TextItem(metadata, 0x9003);
}

}  // namespace

bool MadeByVelora(WorkingBitmap& metadata) {
    static const std::string Marker = ", vlr3";
    const std::string model = TextItem(metadata, PropertyTagEquipModel);
    return model.size() >= Marker.size() &&
           model.compare(model.size() - Marker.size(), Marker.size(), Marker) == 0;
}

std::uint64_t WholePictureMemory(unsigned width, unsigned height, std::uint64_t fileBytes) {
    return 9 * static_cast<std::uint64_t>(width) * height + fileBytes;
}

namespace {

// The whole-picture conversion, for the rare file whose rows cannot tell all its metadata in time.
FileResult ConvertWhole(const std::string& input, const std::string& output,
                        const BatchOptions& options, unsigned threads,
                        const std::atomic<int>& cancel, const FileObserver& observer,
                        MemoryBudget* budget) {
    const OutputFormat format = options.Format;
    std::error_code sizeError;
    const std::uint64_t fileBytes = std::filesystem::file_size(input, sizeError);
    MemoryShare share(budget);
    LoadOptions loadOptions;
    loadOptions.SavedAs = format == OutputFormat::Jpeg ? SaveFormat::Jpeg : SaveFormat::Png;
    loadOptions.BeforeAllocation = [&](unsigned width, unsigned height, std::uint64_t decoder) {
        return share.Take(WholePictureMemory(width, height, sizeError ? 0 : fileBytes) + decoder,
                          cancel);
    };
    LoadResult loadResult = LoadBitmapFromFile(input, loadOptions);
    if (cancel.load() != 0) {
        return FileResult{FileOutcome::Cancelled, {}, {}, {}, {}};
    }
    BitmapRef loaded = std::move(loadResult.Bitmap);
    if (!loaded || !loaded->HasImage()) {
        return Failure(loadResult.Message.empty() ? "cannot be read as a picture"
                                                  : loadResult.Message);
    }
    std::vector<std::string> warnings = std::move(loadResult.Warnings);
    FileResult refusal;
    if (loadResult.Damaged &&
        RefuseDamage(loadResult.DamageReason, options.AllowDamaged, warnings, refusal)) {
        return refusal;
    }
    if (cancel.load() != 0) {
        return FileResult{FileOutcome::Cancelled, {}, warnings, {}, {}};
    }

    // The save reads only the opened picture's metadata, and a one-pixel clone carries all
    // of it: this keeps a second full-size copy out of memory.
    BitmapRef opened = loaded->Clone(0, 0, 1, 1);
    if (!opened) {
        return Failure("not enough memory to keep its metadata");
    }
    const int width = static_cast<int>(loaded->Width());
    Tell(observer, FileStage::Converting, width);
    ConversionCallbacks steps;
    steps.Progress = [&observer](int column) {
        if (observer.Column) {
            observer.Column(column);
        }
    };
    steps.Sharpening = [&observer, width] { Tell(observer, FileStage::Sharpening, width); };
    SharpenedPicture<WorkingBitmap> converted =
        ConvertAndSharpen(std::move(loaded), options.Conversion, steps, cancel, threads);
    if (!converted.Picture || cancel.load() != 0) {
        return FileResult{FileOutcome::Cancelled, {}, warnings, {}, {}};
    }
    if (!converted.Sharpened) {
        // The window keeps the converted picture in this case too; the files stay alike.
        warnings.push_back("not enough memory to sharpen it; written as converted");
    }
    Tell(observer, FileStage::Saving, width);
    const ExistingTarget existing =
        options.Overwrite ? ExistingTarget::Replace : ExistingTarget::Keep;
    SaveResult saved = SaveConvertedPicture(
        *converted.Picture, *opened, output, existing,
        format == OutputFormat::Jpeg ? PictureFormat::Jpeg : PictureFormat::Png);
    if (saved.TargetExists) {
        return FileResult{FileOutcome::Skipped, {}, warnings, {}, {}};
    }
    if (!saved.Ok) {
        return Failure("cannot write '" + output +
                       "': " + (saved.Message.empty() ? "unknown error" : saved.Message));
    }
    return FileResult{FileOutcome::Done, {}, warnings, std::move(saved.LeftOut), TakenAt(*opened)};
}

std::string CannotWrite(const std::string& output, const std::string& message) {
    return "cannot write '" + output + "': " + (message.empty() ? "unknown error" : message);
}

}  // namespace

std::uint64_t StreamedMemory(unsigned width, unsigned height, std::uint64_t fileBytes,
                             PictureRowReader::Source source, OutputFormat format) {
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
    // The bands in flight and the rows the codecs and the filter keep, a few hundred rows in
    // all; the two threads' colour caches at their largest (4 MiB each) and the codecs' tables.
    std::uint64_t bytes = 3ull * width * 320 + (10ull << 20);
    if (source == PictureRowReader::Source::Scans) {
        bytes += 6 * pixels;
    } else if (source == PictureRowReader::Source::Whole) {
        bytes += 3 * pixels + fileBytes;
    }
    if (format == OutputFormat::Png) {
        bytes += 3 * pixels;  // the PNG encoder takes the picture whole
    }
    return bytes;
}

FileResult ConvertFile(const std::string& input, const std::string& output,
                       const BatchOptions& options, unsigned threads,
                       const std::atomic<int>& cancel, const FileObserver& observer,
                       MemoryBudget* budget) {
    const OutputFormat format = options.Format;
    // A folder that takes no files is found before the picture is decoded for nothing.
    const std::string folder = std::filesystem::path(output).parent_path().string();
    std::string why;
    if (!FolderTakesFiles(folder.empty() ? "." : folder, why)) {
        return Failure(why);
    }
    Tell(observer, FileStage::Loading, 0);
    std::error_code sizeError;
    const std::uint64_t fileBytes = std::filesystem::file_size(input, sizeError);
    MemoryShare share(budget);
    PictureRowReader reader;
    LoadOptions loadOptions;
    loadOptions.SavedAs = format == OutputFormat::Jpeg ? SaveFormat::Jpeg : SaveFormat::Png;
    loadOptions.BeforeAllocation = [&](unsigned width, unsigned height, std::uint64_t decoder) {
        return share.Take(
            StreamedMemory(width, height, sizeError ? 0 : fileBytes, reader.From(), format) +
                decoder,
            cancel);
    };
    // Without --allow-damaged the rows stop at the damage: there will be no result anyway.
    const PictureRowReader::Damage onDamage =
        options.AllowDamaged ? PictureRowReader::Damage::FillIn : PictureRowReader::Damage::Stop;
    std::vector<std::string> warnings;
    FileResult refusal;
    if (!reader.Open(input, loadOptions, onDamage)) {
        if (cancel.load() != 0) {
            return FileResult{FileOutcome::Cancelled, {}, {}, {}, {}};
        }
        if (reader.Damaged()) {
            RefuseDamage(reader.DamageReason(), false, warnings, refusal);
            return refusal;
        }
        return Failure(reader.Message().empty() ? "cannot be read as a picture" : reader.Message());
    }
    if (cancel.load() != 0) {
        return FileResult{FileOutcome::Cancelled, {}, reader.Warnings(), {}, {}};
    }
    if (!options.IncludeResults && MadeByVelora(*reader.Metadata())) {
        return FileResult{FileOutcome::EarlierResult, {}, {}, {}, {}};
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
    RowConversion conversion;
    conversion.Start(width, height, options.Conversion);
    if (!conversion.Sharpened()) {
        warnings.push_back("not enough memory to sharpen it; written as converted");
    }

    // Progress counts rows here: every row leaves the conversion finished.
    Tell(observer, FileStage::Converting, height);
    int rows = 0;
    const PipelineResult run =
        RunRowPipeline(reader, conversion, writer, threads, cancel, [&observer, &rows] {
            if (observer.Column) {
                observer.Column(rows);
            }
            ++rows;
        });
    const std::vector<std::string> seen = reader.Warnings();
    warnings.insert(warnings.begin(), seen.begin(), seen.end());
    if (reader.Damaged() &&
        RefuseDamage(reader.DamageReason(), options.AllowDamaged, warnings, refusal)) {
        return refusal;
    }
    switch (run.Outcome) {
        case PipelineOutcome::Done:
            break;
        case PipelineOutcome::Cancelled:
            return FileResult{FileOutcome::Cancelled, {}, warnings, {}, {}};
        case PipelineOutcome::Failed:
            return Failure(run.ReaderFailed ? run.Message : CannotWrite(output, run.Message));
    }
    if (reader.MetadataGrew()) {
        // The whole load keeps other metadata than the rows began with (segments after the
        // picture data): the result written already is dropped and made again the whole-picture
        // way, which takes its own share of the memory.
        share.Return();
        return ConvertWhole(input, output, options, threads, cancel, observer, budget);
    }
    Tell(observer, FileStage::Saving, height);
    if (!writer.Commit()) {
        if (writer.TargetExists()) {
            return FileResult{FileOutcome::Skipped, {}, warnings, {}, {}};
        }
        return Failure(CannotWrite(output, writer.Message()));
    }
    return FileResult{
        FileOutcome::Done, {}, warnings, writer.LeftOut(), TakenAt(*reader.Metadata())};
}

}  // namespace velora::batch
