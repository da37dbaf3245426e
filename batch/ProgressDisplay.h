// What velora-batch tells the user while it works: on a terminal one progress line on stderr,
// redrawn in place and fitted to the terminal's width as it changes (files done of total, the time
// left, then each file being converted with its progress); on anything else one plain line per
// finished file. Messages go above the progress line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FileConversion.h"
#include "TerminalText.h"

namespace velora::batch {

struct DisplaySettings {
    std::FILE* Stream = stderr;
    bool Terminal = false;
    bool Colour = false;  // errors red, warnings yellow, the bar green
    bool Quiet = false;
    bool BarWhenQuiet = false;  // a terminal keeps its progress line under Quiet
    int Columns = 80;           // terminal width
    // Counts the terminal's size changes; after each the width is asked for again.
    const std::atomic<unsigned>* Resizes = nullptr;
    std::function<int()> ColumnsNow;
    std::size_t Total = 0;  // files to convert
    unsigned Slots = 1;     // files converted at once
    // How often the display's own thread redraws the line; 0: no thread, the owner calls Redraw.
    unsigned RedrawMilliseconds = 100;
};

class ProgressDisplay {
  public:
    explicit ProgressDisplay(const DisplaySettings& settings);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void Begin(unsigned slot, const std::string& name);
    void Stage(unsigned slot, FileStage stage, int width);
    // Cheap enough for every column of every pass, from any thread.
    void Column(unsigned slot);
    // The slot's file is finished, whatever the outcome; a non-empty `line` is shown, numbered
    // "[n/total]", unless quiet.
    void Finish(unsigned slot, const std::string& line);
    // Shown unless quiet.
    void Note(const std::string& line);
    void Warning(const std::string& line);
    // Shown even when quiet, in the colour of warnings: what the user is told here was lost.
    void LossWarning(const std::string& line);
    // Always shown.
    void Error(const std::string& line);

    std::size_t Finished() const { return FinishedCount.load(); }

    // The progress line for the current state, `elapsedSeconds` into the run (exposed for tests),
    // without colours.
    std::string RenderLine(double elapsedSeconds);
    // Draws the progress line now, on a terminal and unless quiet.
    void Redraw();
    bool ShowsLine() const {
        return Settings.Terminal && (!Settings.Quiet || Settings.BarWhenQuiet);
    }

  private:
    struct Slot {
        std::string Name;  // guarded by NamesMutex
        std::atomic<bool> Active{false};
        std::atomic<int> Stage{0};
        std::atomic<int> Width{0};
        std::atomic<int> Columns{0};
    };

    void Print(const std::string& line, const char* colour);
    void Write(const std::string& text);  // with Mutex held
    void RedrawLoop();
    // Called with Mutex held: takes in a size change, and gives what erases the line shown.
    void FollowResize();
    // With `clearRow` the cursor ends on an empty row; without, the caller draws over the row.
    std::string EraseShownLine(bool clearRow);
    std::string Coloured(std::string line) const;

    DisplaySettings Settings;
    std::vector<std::unique_ptr<Slot>> Slots;
    std::atomic<std::size_t> FinishedCount{0};
    std::atomic<int> Columns{80};
    const std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
    std::mutex Mutex;  // the stream and the shown line; taken before NamesMutex
    std::mutex NamesMutex;
    std::condition_variable Wake;
    bool Stopping = false;
    bool LineShown = false;
    int ShownCells = 0;         // display columns of the line shown
    unsigned SeenResizes = 0;   // of *Settings.Resizes
    bool StreamBroken = false;  // a write failed (the reader went away): nothing more is printed
    std::thread Redrawer;
};

}  // namespace velora::batch
