// Everything the window asks of a person or of the desktop goes through this one interface: the
// file dialogs, the message boxes, modal dialogs, the web browser and the desktop's own window
// moving. The program uses
// DesktopInteraction; tests put in their own answers.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QDialog;
class QWidget;
class QWindow;

namespace velora {

struct FileRequest {
    enum class Mode { Open, Save };
    Mode Kind = Mode::Open;
    QString Filter;         // e.g. "JPEG Files (*.jpg)"; several are separated by ";;"
    QString DefaultSuffix;  // added to a name typed without one (Open: only when the name as
                            // typed names no file)
    QString InitialName;    // proposed in the name field
    QString Directory;      // the folder the dialog starts in
};

class UserInteraction {
  public:
    virtual ~UserInteraction() = default;
    // The chosen path, or an empty string when the person cancelled. A save dialog does not ask
    // before an existing file is replaced: the window asks that itself, in its own language.
    virtual QString AskForFile(QWidget* owner, const FileRequest& request) = 0;
    // A message with an OK button only.
    virtual void ShowMessage(QWidget* owner, const QString& caption, const QString& text) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) = 0;
    // Runs `dialog` modally and returns when it is closed.
    virtual void RunModal(QDialog& dialog) = 0;
    // Shows `url` in the desktop's program for it; `failed` is called, now or later on this
    // thread, when no program could show it.
    virtual void OpenUrl(const QUrl& url, std::function<void()> failed) = 0;
    // Hands a drag of `window` under the held button to the desktop, which moves the window
    // itself from then on until the button is released. False where the platform offers no such
    // move (the window then moves itself); native Wayland lets a program move its window only
    // this way.
    virtual bool StartSystemMove(QWindow* window) = 0;
};

class DesktopInteraction : public UserInteraction {
  public:
    QString AskForFile(QWidget* owner, const FileRequest& request) override;
    void ShowMessage(QWidget* owner, const QString& caption, const QString& text) override;
    bool AskYesNo(QWidget* owner, const QString& caption, const QString& text) override;
    void RunModal(QDialog& dialog) override;
    void OpenUrl(const QUrl& url, std::function<void()> failed) override;
    bool StartSystemMove(QWindow* window) override;
};

// Open's filter: every kind of picture that opens first, then each kind alone, then any file
// (pictures are known by their content, whatever their names say).
QString PictureOpenFilter();

// The file an Open dialog's answer names: the name as typed when such a file exists, otherwise
// the name with `defaultSuffix` added when it has no suffix of its own.
QString ResolveOpenedName(const QString& typed, const QString& defaultSuffix);

}  // namespace velora
