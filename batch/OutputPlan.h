// Which file each input becomes, and which inputs must not be converted at all: the result would
// replace an input of the run, another input already claims the same result, or the result
// exists and may not be replaced.
#pragma once

#include <string>
#include <vector>

#include "BatchOptions.h"
#include "InputList.h"

namespace velora::batch {

// The "_vlr" name of `fileName` (no folder) for `format`. A JPEG result keeps a JPEG input's
// extension as written (.JPG, .jpeg); any other input's last extension becomes .jpg or .png, and
// a name without one gets it appended.
std::string OutputFileName(const std::string& fileName, OutputFormat format);

// Whether `text` can name results for --name: fields {stem} (the input's name without its last
// extension), {ext} (the result's extension, without the dot), {suffix} ("_vlr") and {folder}
// (the name of the input's folder), "{{" and "}}" for braces, and no "/". False with the problem.
bool CheckNameTemplate(const std::string& text, std::string& problem);

// The result's file name for the input `path` under a checked template.
std::string TemplateFileName(const std::string& nameTemplate, const std::string& path,
                             OutputFormat format);

enum class PlanAction {
    Convert,
    SkipExisting,   // the result is there already and --overwrite was not given
    SkipDuplicate,  // the same input was named earlier in the run
    Refuse,         // converting would destroy an input or another result: a failure
};

struct PlannedFile {
    std::string Input;
    std::string Output;
    PlanAction Action = PlanAction::Convert;
    std::string Reason;  // for everything but Convert
};

// Plans every one of `inputs`, in order; a result goes beside its input, or under
// `options.OutputDir` in the input's own `Folder`. Paths are compared resolved (symbolic links,
// "..") and, where both exist, as the same file on disk, so hard links and aliases are caught too.
std::vector<PlannedFile> PlanOutputs(const BatchOptions& options,
                                     const std::vector<InputFile>& inputs);
// The files named in `options`, none with a folder of its own.
std::vector<PlannedFile> PlanOutputs(const BatchOptions& options);

}  // namespace velora::batch
