// Shared by the window's test groups: a UserInteraction that answers from a script and records
// what the window asked, and pictures written at test time.
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

#include <deque>
#include <functional>
#include <vector>

#include "MainDialog.h"
#include "UserInteraction.h"
#include "WorkingBitmap.h"

namespace velora {

class ScriptedInteraction : public UserInteraction {
  public:
    struct Message {
        QWidget* Owner = nullptr;
        QString Caption;
        QString Text;
    };

    // Answers for the next file dialogs, in order; an empty string stands for Cancel.
    std::deque<QString> FileAnswers;
    std::vector<FileRequest> FileRequests;
    std::vector<QWidget*> FileOwners;
    std::vector<Message> Messages;
    std::vector<QUrl> OpenedUrls;
    // Called with every dialog run modally, while it exists.
    std::function<void(QDialog&)> OnModal;
    int ModalRuns = 0;

    QString AskForFile(QWidget* owner, const FileRequest& request) override {
        FileRequests.push_back(request);
        FileOwners.push_back(owner);
        if (FileAnswers.empty()) {
            return QString();
        }
        QString answer = FileAnswers.front();
        FileAnswers.pop_front();
        return answer;
    }
    void ShowMessage(QWidget* owner, const QString& caption, const QString& text) override {
        Messages.push_back(Message{owner, caption, text});
    }
    void RunModal(QDialog& dialog) override {
        ++ModalRuns;
        if (OnModal) {
            OnModal(dialog);
        }
    }
    void OpenUrl(const QUrl& url) override { OpenedUrls.push_back(url); }
};

// A picture whose every pixel tells its own position: red = x mod 256, green = y mod 256,
// blue = 128 + 4 * (x / 256) + (y / 256). Blue is never 0, so black means "no pixel read".
Argb PositionColour(int x, int y);

// Writes pictures into a temporary folder; returns the full path.
class PictureFolder {
  public:
    PictureFolder();
    bool IsValid() const { return Folder.isValid(); }
    QString Path(const QString& name) const { return Folder.filePath(name); }
    // Lossless, so the pixels read back are exactly these.
    QString WritePng(const QString& name, int width, int height,
                     const std::function<Argb(int, int)>& colour);
    QString WriteJpeg(const QString& name, int width, int height,
                      const std::function<Argb(int, int)>& colour);
    QString WriteText(const QString& name, const QByteArray& bytes);

  private:
    QTemporaryDir Folder;
};

inline Argb Rgb(int r, int g, int b) {
    return 0xFF000000u | (static_cast<Argb>(r) << 16) | (static_cast<Argb>(g) << 8) |
           static_cast<Argb>(b);
}

// True when every pixel of the two pictures is equal (sizes included).
bool SamePixels(WorkingBitmap& a, WorkingBitmap& b);
// The number of pixels equal to `colour`.
long CountPixels(WorkingBitmap& picture, Argb colour);

// Compares the enabled states, FilmOptionsAvailable and the progress bar with the row of the
// control-state table; returns a description of every difference (empty when all agree). The
// film boxes are compared after a paint, which is what turns them on. `progressValue` -1 leaves
// the progress bar unchecked.
QString StateDifferences(MainDialog& dialog, ControlState state, int progressValue);

}  // namespace velora
