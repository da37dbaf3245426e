#include "ResultFile.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "Platform.h"

namespace velora::batch {

namespace fs = std::filesystem;

bool ParseExifTime(const std::string& text, long long& seconds) {
    std::tm fields{};
    char end = 0;
    // Cameras that do not know the time write blanks or zeros here.
    if (std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &fields.tm_year, &fields.tm_mon,
                    &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &end) != 6 ||
        fields.tm_year < 1900 || fields.tm_mon < 1 || fields.tm_mon > 12 || fields.tm_mday < 1 ||
        fields.tm_mday > 31 || fields.tm_hour > 23 || fields.tm_min > 59 || fields.tm_sec > 60) {
        return false;
    }
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    fields.tm_isdst = -1;
    const std::time_t time = std::mktime(&fields);
    if (time == static_cast<std::time_t>(-1)) {
        return false;
    }
    seconds = static_cast<long long>(time);
    return true;
}

std::string FinishResult(const std::string& input, const std::string& output, PreserveTime preserve,
                         const std::string& taken) {
    if (preserve == PreserveTime::None) {
        return "";
    }
    std::error_code error;
    long long seconds = 0;
    if (preserve == PreserveTime::Taken && ParseExifTime(taken, seconds)) {
        if (!SetModifiedTime(output, seconds)) {
            error = std::error_code(errno, std::generic_category());
        }
    } else {
        const fs::file_time_type time = fs::last_write_time(input, error);
        if (!error) {
            fs::last_write_time(output, time, error);
        }
        if (!error && preserve == PreserveTime::Taken) {
            return "no time taken in its EXIF; the result keeps the file's time";
        }
    }
    return error ? "cannot set the result's time: " + error.message() : "";
}

}  // namespace velora::batch
