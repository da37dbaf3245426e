#include "AccessibleControls.h"

#include "BitmapButton.h"
#include "BitmapSlider.h"

#include <QAccessibleWidget>
#include <QRegularExpression>

namespace velora {
namespace {

class AccessibleButton : public QAccessibleWidget {
  public:
    explicit AccessibleButton(BitmapButton* button) : QAccessibleWidget(button) {}

    QAccessible::Role role() const override {
        switch (Button()->Behaviour()) {
            case ButtonBehaviour::CheckBox:
                return QAccessible::CheckBox;
            case ButtonBehaviour::Radio:
                return QAccessible::RadioButton;
            case ButtonBehaviour::Push:
                break;
        }
        return QAccessible::Button;
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        if (Button()->Behaviour() == ButtonBehaviour::Push) {
            state.pressed = Button()->GetState();
        } else {
            state.checkable = true;
            state.checked = Button()->GetCheck() != 0;
        }
        return state;
    }

    // The caption as a word: the blanks that spread it over the face ("열  기") and the
    // mnemonic marker are layout, not part of the name. A name given to the control wins.
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name && Button()->accessibleName().isEmpty()) {
            QString caption = Button()->text();
            caption.remove(QLatin1Char('&'));
            return caption.remove(QRegularExpression(QStringLiteral("\\s+")));
        }
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (Button()->isEnabled()) {
            names.prepend(Button()->Behaviour() == ButtonBehaviour::Push
                              ? QAccessibleActionInterface::pressAction()
                              : QAccessibleActionInterface::toggleAction());
        }
        return names;
    }

    void doAction(const QString& name) override {
        if (Button()->isEnabled() && (name == QAccessibleActionInterface::pressAction() ||
                                      name == QAccessibleActionInterface::toggleAction())) {
            Button()->ClickFromUser();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

  private:
    BitmapButton* Button() const { return static_cast<BitmapButton*>(widget()); }
};

class AccessibleSlider : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit AccessibleSlider(BitmapSlider* slider)
        : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return QString::number(Slider()->Position());
        }
        return QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return Slider()->Position(); }
    // As a navigation key would set it.
    void setCurrentValue(const QVariant& value) override { Slider()->MoveTo(value.toInt()); }
    QVariant maximumValue() const override { return Slider()->RangeMax(); }
    QVariant minimumValue() const override { return Slider()->RangeMin(); }
    QVariant minimumStepSize() const override { return 1; }

  private:
    BitmapSlider* Slider() const { return static_cast<BitmapSlider*>(widget()); }
};

QAccessibleInterface* ControlsFactory(const QString&, QObject* object) {
    if (auto* button = qobject_cast<BitmapButton*>(object)) {
        return new AccessibleButton(button);
    }
    if (auto* slider = qobject_cast<BitmapSlider*>(object)) {
        return new AccessibleSlider(slider);
    }
    return nullptr;
}

}  // namespace

void InstallAccessibleControls() {
    static const bool installed = [] {
        QAccessible::installFactory(ControlsFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace velora
