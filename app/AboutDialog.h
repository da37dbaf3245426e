// The About box: the icon, the program's name and its version.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace velora {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    AboutDialog(const QIcon& icon, QWidget* parent = nullptr);

    const QLineEdit& VersionBox() const { return Version; }
    const QPushButton& OkButton() const { return Ok; }
    const QLabel& NameLabel() const { return Name; }
    const QLabel& IconLabel() const { return Icon; }

    static constexpr const char* VersionText = "VLR v3.0 (beta)";

  private:
    QLabel Icon;
    QLabel Name;
    QLineEdit Version;
    QPushButton Ok;
};

}  // namespace velora
