// Mouse, keyboard, the window menu, F1 and dropped files.
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>

#include "AboutDialog.h"
#include "MainDialog.h"
#include "UserGuide.h"
#include "UserInteraction.h"
#include "WindowGeometry.h"

namespace velora {

namespace {

QString DroppedFile(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1) {
        return QString();
    }
    const QUrl url = mime->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void MainDialog::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        ColorProbe(at.x(), at.y());
    } else if (event->button() == Qt::RightButton && !IsOnDrawnPicture(at.x(), at.y())) {
        ShowSystemMenu(event->globalPosition().toPoint());
    }
    QWidget::mousePressEvent(event);
}

void MainDialog::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click neither samples a colour nor arms a drag.
    event->accept();
}

void MainDialog::mouseMoveEvent(QMouseEvent* event) {
    const bool leftAlone = event->buttons() == Qt::LeftButton &&
                           (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) == 0;
    if (leftAlone) {
        const QPoint at = event->position().toPoint();
        if (DragArmed) {
            // The first move only takes the anchor; the window follows from the next one.
            DragAnchor = at;
            DragArmed = false;
            SystemMoveAsked = false;
        } else if (!DragSuppressed) {
            if (!SystemMoveAsked && Ui.StartSystemMove(windowHandle())) {
                // The desktop moves the window until the button is released; the next press
                // arms a new drag.
                DragSuppressed = true;
            } else {
                // Asked once per drag: a platform that declined keeps declining.
                SystemMoveAsked = true;
                move(pos() + (at - DragAnchor));
                raise();
            }
        }
    }
    QWidget::mouseMoveEvent(event);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            close();
            return;
        default:
            break;
    }
    QWidget::keyPressEvent(event);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        // Alt+Space is the window menu's key wherever the focus is in this window; a focused
        // button must not take it for its own Space and press itself.
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = static_cast<QWidget*>(watched);
        if (key->key() == Qt::Key_Space && (key->modifiers() & Qt::AltModifier) != 0 &&
            (widget == this || isAncestorOf(widget))) {
            ShowSystemMenu(KeyboardMenuPosition());
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
        watched->isWidgetType()) {
        // A key event travels up from the focused control; act on its first delivery only.
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr) {
            target = this;
        }
        if (watched == target && (target == this || isAncestorOf(target))) {
            OpenWebPage();
        }
    }
    // The key goes on to the window as usual.
    return QWidget::eventFilter(watched, event);
}

void MainDialog::OpenWebPage() {
    // F1 opens the user guide that comes with the program, in the desktop's browser.
    const QString guide = LocateUserGuide();
    if (guide.isEmpty()) {
        Ui.ShowMessage(this, QStringLiteral("Velora"),
                       QStringLiteral("사용 설명서를 찾을 수 없습니다."));
        return;
    }
    // Without a browser the guide can still be read: the user learns where it is.
    const QPointer<MainDialog> window(this);
    Ui.OpenUrl(QUrl::fromLocalFile(guide), [window, guide] {
        if (window) {
            window->Ui.ShowMessage(
                window, QStringLiteral("Velora"),
                QStringLiteral("웹 브라우저를 열 수 없습니다.\n사용 설명서는 다음 화일입니다:\n") +
                    QDir::toNativeSeparators(guide));
        }
    });
}

std::unique_ptr<QMenu> MainDialog::BuildSystemMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(QStringLiteral("최소화(&N)"), this, [this] { showMinimized(); });
    menu->addAction(QStringLiteral("닫기(&C)"), this, [this] { close(); });
    if (!AboutMenuText.isEmpty()) {
        menu->addSeparator();
        menu->addAction(AboutMenuText, this, [this] { OnAbout(); });
    }
    return menu;
}

QPoint MainDialog::KeyboardMenuPosition() const {
    // At the pointer when it is on the window; otherwise at the picture frame's corner, since the
    // window's own corner lies outside its shape.
    const QPoint pointer = QCursor::pos();
    const QPoint local = mapFromGlobal(pointer);
    if (rect().contains(local) && (mask().isEmpty() || mask().contains(local))) {
        return pointer;
    }
    return mapToGlobal(QPoint(PictureFrame::Left, PictureFrame::Top));
}

void MainDialog::ShowSystemMenu(const QPoint& globalPosition) {
    const std::unique_ptr<QMenu> menu = BuildSystemMenu();
    menu->exec(globalPosition);
}

void MainDialog::OnAbout() {
    AboutDialog about(AppIcon, this);
    Ui.RunModal(about);
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    // Open is the only way in while no conversion runs; a drop follows the same rule.
    if (OpenButton.isEnabled() && !DroppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainDialog::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (!OpenButton.isEnabled() || path.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    OpenPicture(path);
}

}  // namespace velora
