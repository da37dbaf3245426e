#include "UserInteraction.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QWindow>

#include "DiskPath.h"
#include "PictureKinds.h"

namespace velora {

QString PictureOpenFilter() {
    QStringList all;
    QStringList kinds;
    for (const PictureKind& kind : PictureKinds) {
        QStringList patterns;
        for (const QString& extension :
             QString::fromLatin1(kind.Extensions).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            patterns << QStringLiteral("*.") + extension;
        }
        all << patterns;
        kinds << QStringLiteral("%1 Files (%2)")
                     .arg(QLatin1String(kind.Name), patterns.join(QLatin1Char(' ')));
    }
    return QStringLiteral("All Pictures (%1);;").arg(all.join(QLatin1Char(' '))) +
           kinds.join(QStringLiteral(";;")) + QStringLiteral(";;All Files (*)");
}

QString ResolveOpenedName(const QString& typed, const QString& defaultSuffix) {
    if (typed.isEmpty() || ExistsOnDisk(DiskPath(typed)) || defaultSuffix.isEmpty() ||
        QFileInfo(typed).fileName().contains(QLatin1Char('.'))) {
        return typed;
    }
    return typed + QLatin1Char('.') + defaultSuffix;
}

QString DesktopInteraction::AskForFile(QWidget* owner, const FileRequest& request) {
    QFileDialog dialog(owner);
    const bool save = request.Kind == FileRequest::Mode::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog that accepts any name: the window itself tells a missing file apart.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(request.Filter);
    // The dialog would add the suffix to every name typed without one, also to a file that
    // exists as typed; Open adds it itself, and only where the typed name finds nothing.
    if (save) {
        dialog.setDefaultSuffix(request.DefaultSuffix);
    }
    if (!request.Directory.isEmpty()) {
        dialog.setDirectory(request.Directory);
    }
    dialog.selectFile(request.InitialName);
    // The window asks before replacing a file, in the program's language.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    const QString chosen = dialog.selectedFiles().value(0);
    return save ? chosen : ResolveOpenedName(chosen, request.DefaultSuffix);
}

void DesktopInteraction::ShowMessage(QWidget* owner, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("확인"));
    box.exec();
}

bool DesktopInteraction::AskYesNo(QWidget* owner, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("예(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("아니요(&N)"));
    // Replacing a file is the choice that loses something: Enter must not make it.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void DesktopInteraction::RunModal(QDialog& dialog) {
    dialog.exec();
}

void DesktopInteraction::OpenUrl(const QUrl& url, std::function<void()> failed) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The desktop's opener starts whatever it finds and says by its exit status when it found
    // nothing able to show the page; the toolkit's own call reports only that it started.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        auto* process = new QProcess(qApp);
        QObject::connect(process, &QProcess::finished, process,
                         [process, failed](int code, QProcess::ExitStatus status) {
                             process->deleteLater();
                             if (status != QProcess::NormalExit || code != 0) {
                                 failed();
                             }
                         });
        QObject::connect(process, &QProcess::errorOccurred, process,
                         [process, failed](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart) {
                                 process->deleteLater();
                                 failed();
                             }
                         });
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(opener, {url.toString(QUrl::FullyEncoded)});
        return;
    }
#endif
    if (!QDesktopServices::openUrl(url)) {
        failed();
    }
}

bool DesktopInteraction::StartSystemMove(QWindow* window) {
    return window != nullptr && window->startSystemMove();
}

}  // namespace velora
