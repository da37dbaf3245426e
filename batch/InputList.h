// Where velora-batch's inputs come from: the files named on the command line, lists of names
// (--files-from, one per line or NUL-separated), and with --recursive the pictures in folders.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "BatchOptions.h"

namespace velora::batch {

struct InputFile {
    std::string Path;
    // The folder that the result keeps under -o: for a picture found in a folder named with
    // --recursive, its folder below that one ("" for one found directly in it, and for named
    // files).
    std::string Folder;
};

struct CollectedInputs {
    std::vector<InputFile> Files;
    // A list that could not be read: the run does not start.
    std::string ListError;
    // Folders that could not be walked: reported, and the run goes on without them.
    std::vector<std::string> Problems;
};

// The entries of a list: separated by newlines, or by NUL characters when `nullSeparated`; empty
// entries are skipped, everything else (spaces, backslashes, quotes) is part of the name.
std::vector<std::string> SplitList(const std::string& text, bool nullSeparated);

// Whether a walk takes the file `name`: a picture by its extension, not hidden, not a result of
// an earlier run (a "_vlr" name).
bool WalkTakes(const std::string& name);

// The named files in order, then each list's entries; a folder is walked when `options` asks
// for it (names sorted, symbolic links to folders not followed). A list named "-" is read from
// `standardInput`.
CollectedInputs CollectInputs(const BatchOptions& options, std::FILE* standardInput);

}  // namespace velora::batch
