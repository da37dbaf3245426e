// Everything the window asks of a person or of the desktop goes through this one interface: the
// file dialogs, the message boxes, modal dialogs and the web browser. The program uses
// DesktopInteraction; tests put in their own answers.
#pragma once

#include <QString>
#include <QUrl>

class QDialog;
class QWidget;

namespace velora {

struct FileRequest {
    enum class Mode { Open, Save };
    Mode Kind = Mode::Open;
    QString Filter;         // e.g. "JPEG Files (*.jpg)"
    QString DefaultSuffix;  // added to a name typed without one
    QString InitialName;    // proposed in the name field
};

class UserInteraction {
  public:
    virtual ~UserInteraction() = default;
    // The chosen path, or an empty string when the person cancelled. A save dialog asks before
    // an existing file is replaced.
    virtual QString AskForFile(QWidget* owner, const FileRequest& request) = 0;
    // A message with an OK button only.
    virtual void ShowMessage(QWidget* owner, const QString& caption, const QString& text) = 0;
    // Runs `dialog` modally and returns when it is closed.
    virtual void RunModal(QDialog& dialog) = 0;
    virtual void OpenUrl(const QUrl& url) = 0;
};

class DesktopInteraction : public UserInteraction {
  public:
    QString AskForFile(QWidget* owner, const FileRequest& request) override;
    void ShowMessage(QWidget* owner, const QString& caption, const QString& text) override;
    void RunModal(QDialog& dialog) override;
    void OpenUrl(const QUrl& url) override;
};

}  // namespace velora
