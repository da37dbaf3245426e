#include "ProgressDisplay.h"

#include <algorithm>
#include <chrono>

namespace velora::batch {

namespace {

constexpr int BarCells = 20;

bool IsWide(std::uint32_t code) {
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
           (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
           (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x1F300 && code <= 0x1FAFF) ||
           (code >= 0x20000 && code <= 0x3FFFD);
}

std::string StageText(RoadStage stage, int width, int columns) {
    switch (stage) {
        case RoadStage::Loading:
            return "opening";
        case RoadStage::Converting: {
            int percent =
                width > 0 ? static_cast<int>(100LL * std::min(columns, width) / width) : 0;
            return std::to_string(percent) + "%";
        }
        case RoadStage::Sharpening:
            return "sharpening";
        case RoadStage::Saving:
            return "saving";
    }
    return {};
}

}  // namespace

std::string FitToColumns(const std::string& text, int columns) {
    std::size_t i = 0;
    int used = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80    ? 1
                             : lead >= 0xF0 ? 4
                             : lead >= 0xE0 ? 3
                             : lead >= 0xC0 ? 2
                                            : 1;
        length = std::min(length, text.size() - i);
        std::uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        int cells = IsWide(code) ? 2 : 1;
        if (used + cells > columns) {
            break;
        }
        used += cells;
        i += length;
    }
    return text.substr(0, i);
}

ProgressDisplay::ProgressDisplay(const DisplaySettings& settings) : Settings(settings) {
    Settings.Slots = std::max(1u, Settings.Slots);
    for (unsigned i = 0; i < Settings.Slots; ++i) {
        Slots.push_back(std::make_unique<Slot>());
    }
    if (Settings.Terminal && !Settings.Quiet) {
        Redraw();
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
    if (LineShown) {
        std::fputs("\r\x1b[K", Settings.Stream);
        std::fflush(Settings.Stream);
    }
}

void ProgressDisplay::Begin(unsigned slot, const std::string& name) {
    Slot& s = *Slots[slot % Slots.size()];
    {
        std::lock_guard<std::mutex> lock(Mutex);
        s.Name = name;
    }
    s.Stage.store(static_cast<int>(RoadStage::Loading));
    s.Width.store(0);
    s.Columns.store(0);
    s.Active.store(true);
}

void ProgressDisplay::Stage(unsigned slot, RoadStage stage, int width) {
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
        Print(numbered);
    }
}

void ProgressDisplay::Note(const std::string& line) {
    if (!Settings.Quiet) {
        Print(line);
    }
}

void ProgressDisplay::Error(const std::string& line) {
    Print(line);
}

std::string ProgressDisplay::RenderLine() {
    std::size_t finished = FinishedCount.load();
    double partial = 0.0;
    std::string files;
    for (const auto& slot : Slots) {
        if (!slot->Active.load()) {
            continue;
        }
        auto stage = static_cast<RoadStage>(slot->Stage.load());
        int width = slot->Width.load();
        int columns = slot->Columns.load(std::memory_order_relaxed);
        // Shares of a file's time as measured on large photos: opening about a sixth, the pass
        // a quarter, sharpening nearly half, saving the rest.
        if (stage == RoadStage::Converting && width > 0) {
            partial += 0.16 + 0.24 * std::min(columns, width) / width;
        } else if (stage == RoadStage::Sharpening) {
            partial += 0.4;
        } else if (stage == RoadStage::Saving) {
            partial += 0.84;
        }
        std::string name;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            name = slot->Name;
        }
        files += "  " + name + " " + StageText(stage, width, columns);
    }
    double fraction =
        Settings.Total == 0 ? 1.0 : std::min(1.0, (finished + partial) / Settings.Total);
    int filled = static_cast<int>(fraction * BarCells);
    std::string line = "[" + std::string(filled, '#') + std::string(BarCells - filled, '-') + "] " +
                       std::to_string(finished) + "/" + std::to_string(Settings.Total) + files;
    return FitToColumns(line, std::max(1, Settings.Columns - 1));
}

void ProgressDisplay::Print(const std::string& line) {
    std::string text = line + "\n";
    std::lock_guard<std::mutex> lock(Mutex);
    if (LineShown) {
        text = "\r\x1b[K" + text;
        LineShown = false;
    }
    std::fputs(text.c_str(), Settings.Stream);
    std::fflush(Settings.Stream);
}

void ProgressDisplay::Redraw() {
    std::string line = RenderLine();
    std::lock_guard<std::mutex> lock(Mutex);
    if (Stopping) {
        return;
    }
    std::fputs(("\r" + line + "\x1b[K").c_str(), Settings.Stream);
    std::fflush(Settings.Stream);
    LineShown = true;
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
