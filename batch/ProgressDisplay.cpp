#include "ProgressDisplay.h"

#include <algorithm>
#include <chrono>

namespace velora::batch {

namespace {

constexpr int BarCells = 20;

std::string StageText(FileStage stage, int width, int columns) {
    switch (stage) {
        case FileStage::Loading:
            return "opening";
        case FileStage::Converting: {
            int percent =
                width > 0 ? static_cast<int>(100LL * std::min(columns, width) / width) : 0;
            return std::to_string(percent) + "%";
        }
        case FileStage::Sharpening:
            return "sharpening";
        case FileStage::Saving:
            return "saving";
    }
    return {};
}

}  // namespace

ProgressDisplay::ProgressDisplay(const DisplaySettings& settings) : Settings(settings) {
    Settings.Slots = std::max(1u, Settings.Slots);
    Columns.store(Settings.Columns > 0 ? Settings.Columns : 80);
    SeenResizes = Settings.Resizes ? Settings.Resizes->load() : 0;
    for (unsigned i = 0; i < Settings.Slots; ++i) {
        Slots.push_back(std::make_unique<Slot>());
    }
    if (ShowsLine()) {
        Redraw();
    }
    if (ShowsLine() && Settings.RedrawMilliseconds > 0) {
        try {
            Redrawer = std::thread(&ProgressDisplay::RedrawLoop, this);
        } catch (const std::system_error&) {
            // Without the thread the line is still redrawn whenever a file finishes.
        }
    }
}

ProgressDisplay::~ProgressDisplay() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Stopping = true;
    }
    Wake.notify_all();
    if (Redrawer.joinable()) {
        Redrawer.join();
    }
    std::lock_guard<std::mutex> lock(Mutex);
    if (LineShown) {
        FollowResize();
        Write(EraseShownLine(true));
    }
}

void ProgressDisplay::Begin(unsigned slot, const std::string& name) {
    Slot& s = *Slots[slot % Slots.size()];
    {
        std::lock_guard<std::mutex> lock(NamesMutex);
        s.Name = name;
    }
    s.Stage.store(static_cast<int>(FileStage::Loading));
    s.Width.store(0);
    s.Columns.store(0);
    s.Active.store(true);
}

void ProgressDisplay::Stage(unsigned slot, FileStage stage, int width) {
    Slot& s = *Slots[slot % Slots.size()];
    s.Width.store(width);
    s.Stage.store(static_cast<int>(stage));
}

void ProgressDisplay::Column(unsigned slot) {
    Slots[slot % Slots.size()]->Columns.fetch_add(1, std::memory_order_relaxed);
}

void ProgressDisplay::Finish(unsigned slot, const std::string& line) {
    Slots[slot % Slots.size()]->Active.store(false);
    std::string numbered;
    {
        // Counted under the lock so that the numbers of the printed lines come in order.
        std::lock_guard<std::mutex> lock(Mutex);
        std::size_t finished = FinishedCount.fetch_add(1) + 1;
        numbered =
            "[" + std::to_string(finished) + "/" + std::to_string(Settings.Total) + "] " + line;
    }
    if (!Settings.Quiet && !line.empty()) {
        Print(numbered, nullptr);
    }
}

void ProgressDisplay::Note(const std::string& line) {
    if (!Settings.Quiet) {
        Print(line, nullptr);
    }
}

void ProgressDisplay::Warning(const std::string& line) {
    if (!Settings.Quiet) {
        Print(line, "\x1b[33m");
    }
}

void ProgressDisplay::LossWarning(const std::string& line) {
    Print(line, "\x1b[33m");
}

void ProgressDisplay::Error(const std::string& line) {
    Print(line, "\x1b[31m");
}

std::string ProgressDisplay::RenderLine(double elapsedSeconds) {
    std::size_t finished = FinishedCount.load();
    double partial = 0.0;
    std::string files;
    for (const auto& slot : Slots) {
        if (!slot->Active.load()) {
            continue;
        }
        auto stage = static_cast<FileStage>(slot->Stage.load());
        int width = slot->Width.load();
        int columns = slot->Columns.load(std::memory_order_relaxed);
        // Shares of a file's time as measured on large photos: rows stream from the decoder
        // through the conversion and the sharpening into the encoder, so nearly all of it is
        // spent while the rows are counted; opening (a progressive file is decoded then) and
        // making the result durable share the rest.
        if (stage == FileStage::Converting && width > 0) {
            partial += 0.05 + 0.9 * std::min(columns, width) / width;
        } else if (stage == FileStage::Sharpening || stage == FileStage::Saving) {
            partial += 0.95;
        }
        std::string name;
        {
            std::lock_guard<std::mutex> lock(NamesMutex);
            name = slot->Name;
        }
        files += "  " + EscapeControls(name) + " " + StageText(stage, width, columns);
    }
    double fraction =
        Settings.Total == 0 ? 1.0 : std::min(1.0, (finished + partial) / Settings.Total);
    int filled = static_cast<int>(fraction * BarCells);
    std::string line = "[" + std::string(filled, '#') + std::string(BarCells - filled, '-') + "] " +
                       std::to_string(finished) + "/" + std::to_string(Settings.Total);
    // The pace of the run so far; the first seconds and the first bit of work say too little.
    if (fraction > 0.0 && fraction < 1.0 && elapsedSeconds >= 2.0) {
        line += " " + FormatTimeLeft(elapsedSeconds * (1.0 - fraction) / fraction) + " left";
    }
    // One column stays free: a line that reaches the last one wraps on some terminals.
    return FitToColumns(line + files, std::max(1, Columns.load() - 1));
}

std::string ProgressDisplay::Coloured(std::string line) const {
    if (!Settings.Colour || line.size() < 2 || line[1] != '#') {
        return line;
    }
    const std::size_t end = line.find_first_not_of('#', 1);
    line.insert(end == std::string::npos ? line.size() : end, "\x1b[0m");
    line.insert(1, "\x1b[32m");
    return line;
}

void ProgressDisplay::FollowResize() {
    if (Settings.Resizes == nullptr) {
        return;
    }
    const unsigned resizes = Settings.Resizes->load(std::memory_order_relaxed);
    if (resizes == SeenResizes) {
        return;
    }
    SeenResizes = resizes;
    const int now = Settings.ColumnsNow ? Settings.ColumnsNow() : 0;
    if (now > 0) {
        Columns.store(now);
    }
}

std::string ProgressDisplay::EraseShownLine(bool clearRow) {
    if (!LineShown) {
        return clearRow ? "\r\x1b[K" : "\r";
    }
    LineShown = false;
    // A terminal narrowed under a shown line folds it onto more rows (most desktop terminals
    // reflow their text): climb back to its first row and clear from there down. The rest of the
    // time the line fits on its row.
    const int columns = std::max(1, Columns.load());
    const int rowsAbove = ShownCells > 0 ? (ShownCells - 1) / columns : 0;
    if (rowsAbove == 0) {
        return clearRow ? "\r\x1b[K" : "\r";
    }
    return "\r\x1b[" + std::to_string(rowsAbove) + "A\x1b[J";
}

void ProgressDisplay::Print(const std::string& line, const char* colour) {
    const std::string shown = EscapeControls(line);
    std::string text = Settings.Colour && colour ? colour + shown + "\x1b[0m\n" : shown + "\n";
    std::lock_guard<std::mutex> lock(Mutex);
    FollowResize();
    if (LineShown) {
        text = EraseShownLine(true) + text;
    }
    Write(text);
}

void ProgressDisplay::Write(const std::string& text) {
    if (StreamBroken) {
        return;
    }
    if (std::fputs(text.c_str(), Settings.Stream) < 0 || std::fflush(Settings.Stream) != 0) {
        StreamBroken = true;
    }
}

void ProgressDisplay::Redraw() {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
    std::lock_guard<std::mutex> lock(Mutex);
    if (Stopping || !ShowsLine()) {
        return;
    }
    FollowResize();
    // Rendered under the lock, so that the width it was fitted to is the width the erase
    // assumes the next time.
    std::string line = RenderLine(elapsed);
    // Drawn over the old line, then whatever is left of it cleared: no blank flicker between.
    Write(EraseShownLine(false) + Coloured(line) + "\x1b[K");
    LineShown = true;
    ShownCells = DisplayColumns(line);
}

void ProgressDisplay::RedrawLoop() {
    std::unique_lock<std::mutex> lock(Mutex);
    while (!Stopping) {
        lock.unlock();
        Redraw();
        lock.lock();
        Wake.wait_for(lock, std::chrono::milliseconds(Settings.RedrawMilliseconds),
                      [this] { return Stopping; });
    }
}

}  // namespace velora::batch
