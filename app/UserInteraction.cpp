#include "UserInteraction.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace velora {

QString DesktopInteraction::AskForFile(QWidget* owner, const FileRequest& request) {
    QFileDialog dialog(owner);
    const bool save = request.Kind == FileRequest::Mode::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog that accepts any name: the window itself tells a missing file apart.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(request.Filter);
    dialog.setDefaultSuffix(request.DefaultSuffix);
    dialog.selectFile(request.InitialName);
    // QFileDialog asks before replacing an existing file unless told not to; keep it so.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    return dialog.selectedFiles().value(0);
}

void DesktopInteraction::ShowMessage(QWidget* owner, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

void DesktopInteraction::RunModal(QDialog& dialog) {
    dialog.exec();
}

void DesktopInteraction::OpenUrl(const QUrl& url) {
    // A browser that cannot be started is not worth a message.
    QDesktopServices::openUrl(url);
}

}  // namespace velora
