// What velora-batch tells the user while it works: on a terminal one progress line on stderr,
// redrawn in place (files done of total, then each file being converted with its progress); on
// anything else one plain line per finished file. Messages go above the progress line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FileRoad.h"

namespace velora::batch {

struct DisplaySettings {
    std::FILE* Stream = stderr;
    bool Terminal = false;
    bool Quiet = false;
    int Columns = 80;       // terminal width
    std::size_t Total = 0;  // files to convert
    unsigned Slots = 1;     // files converted at once
    unsigned RedrawMilliseconds = 100;
};

class ProgressDisplay {
  public:
    explicit ProgressDisplay(const DisplaySettings& settings);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void Begin(unsigned slot, const std::string& name);
    void Stage(unsigned slot, RoadStage stage, int width);
    // Cheap enough for every column of every pass, from any thread.
    void Column(unsigned slot);
    // The slot's file is finished, whatever the outcome; a non-empty `line` is shown, numbered
    // "[n/total]", unless quiet.
    void Finish(unsigned slot, const std::string& line);
    // Shown unless quiet.
    void Note(const std::string& line);
    // Always shown.
    void Error(const std::string& line);

    std::size_t Finished() const { return FinishedCount.load(); }

    // The progress line for the current state (exposed for tests).
    std::string RenderLine();

  private:
    struct Slot {
        std::string Name;  // guarded by Mutex
        std::atomic<bool> Active{false};
        std::atomic<int> Stage{0};
        std::atomic<int> Width{0};
        std::atomic<int> Columns{0};
    };

    void Print(const std::string& line);
    void Redraw();
    void RedrawLoop();

    DisplaySettings Settings;
    std::vector<std::unique_ptr<Slot>> Slots;
    std::atomic<std::size_t> FinishedCount{0};
    std::mutex Mutex;
    std::condition_variable Wake;
    bool Stopping = false;
    bool LineShown = false;
    std::thread Redrawer;
};

// The first `columns` display columns of UTF-8 `text`, never cutting a character in half; wide
// (East Asian) characters count two.
std::string FitToColumns(const std::string& text, int columns);

}  // namespace velora::batch
