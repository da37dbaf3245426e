#include "AccessibleWindow.h"

#include <QAccessibleWidget>

#include "MainDialog.h"

namespace velora {
namespace {

class AccessibleMainWindow : public QAccessibleWidget {
  public:
    explicit AccessibleMainWindow(MainDialog* dialog)
        : QAccessibleWidget(dialog, QAccessible::Window) {}

    int childCount() const override { return int(Shown().size()); }

    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> shown = Shown();
        return index >= 0 && index < shown.size()
                   ? QAccessible::queryAccessibleInterface(shown[index])
                   : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        return child == nullptr ? -1
                                : int(Shown().indexOf(qobject_cast<QWidget*>(child->object())));
    }

  private:
    // The hidden template controls are bound like the others but never seen, so never heard.
    QList<QWidget*> Shown() const {
        QList<QWidget*> shown;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child != nullptr && !child->isWindow() && !child->isHidden()) {
                shown << child;
            }
        }
        return shown;
    }
};

QAccessibleInterface* WindowFactory(const QString&, QObject* object) {
    if (auto* dialog = qobject_cast<MainDialog*>(object)) {
        return new AccessibleMainWindow(dialog);
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && widget->objectName() == QLatin1String(PictureObjectName) &&
        qobject_cast<MainDialog*>(widget->parent()) != nullptr) {
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    }
    return nullptr;
}

}  // namespace

void InstallAccessibleWindow() {
    static const bool installed = [] {
        QAccessible::installFactory(WindowFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace velora
