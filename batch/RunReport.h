// --report: one JSON object per file on a line of its own, flushed as each file ends, so that a
// script can follow a run while it goes and read what a stopped run got done.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velora::batch {

struct FileReport {
    std::string Input;
    std::string Result;  // the planned result, also when none was written
    std::string Status;  // "converted", "skipped", "failed" or "interrupted"
    std::string Reason;  // why it was skipped or failed
    std::vector<std::string> Warnings;
    double Seconds = 0;
    std::int64_t Bytes = -1;  // the result's size, when one was written

    FileReport(std::string input, std::string result, std::string status, std::string reason = "")
        : Input(std::move(input)),
          Result(std::move(result)),
          Status(std::move(status)),
          Reason(std::move(reason)) {}
};

// `text` as a JSON string, quotes included; bytes that are no UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);

std::string JsonLine(const FileReport& report);

class RunReport {
  public:
    // No report when `stream` is null. Callable from every worker at once.
    explicit RunReport(std::FILE* stream) : Stream(stream) {}
    void Add(const FileReport& report);
    bool Failed() const { return WriteFailed; }

  private:
    std::FILE* Stream;
    std::mutex Mutex;
    bool WriteFailed = false;
};

}  // namespace velora::batch
