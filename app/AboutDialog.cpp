#include "AboutDialog.h"

#include "Resources.h"

namespace velora {

AboutDialog::AboutDialog(const QIcon& icon, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      Icon(this),
      Name(this),
      Version(this),
      Ok(this) {
    const DialogTemplate& layout = *FindDialogTemplate(IDD_ABOUTBOX);
    setWindowTitle(QString::fromUtf8(layout.Caption));
    setWindowIcon(icon);
    setFixedSize(DialogUnitsToPixels(layout.WidthUnits), DialogUnitsToPixels(layout.HeightUnits));
    QFont font(QStringLiteral("NanumGothic"));
    font.setPixelSize(12);
    setFont(font);

    for (const DialogItem& item : layout) {
        const QRect geometry = DialogUnitsToPixels(item.Units);
        switch (item.Class) {
            case DialogItemClass::Static:
                if ((item.Style & StyleIcon) != 0) {
                    Icon.setGeometry(geometry);
                    Icon.setPixmap(icon.pixmap(geometry.size()));
                } else {
                    Name.setGeometry(geometry);
                    Name.setText(QString::fromUtf8(item.Caption));
                }
                break;
            case DialogItemClass::Edit:
                Version.setGeometry(geometry);
                Version.setReadOnly((item.Style & StyleReadOnly) != 0);
                Version.setAlignment((item.Style & StyleCentred) != 0 ? Qt::AlignCenter
                                                                      : Qt::AlignLeft);
                Version.setFrame((item.Style & StyleBorder) != 0);
                break;
            case DialogItemClass::PushButton:
                Ok.setGeometry(geometry);
                Ok.setText(QString::fromUtf8(item.Caption));
                Ok.setDefault((item.Style & StyleDefaultButton) != 0);
                break;
            default:
                break;
        }
    }
    Version.setText(QString::fromLatin1(VersionText));
    connect(&Ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace velora
