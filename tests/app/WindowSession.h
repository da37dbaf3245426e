// A shown main window with a scripted person in front of it, for the window's Qt tests.
#pragma once

#include <QDeadlineTimer>
#include <QtTest>

#include "AppTestSupport.h"
#include "MainDialog.h"
#include "Resources.h"

namespace velora {

constexpr int EndingTimeoutMs = 120000;

struct WindowSession {
    ScriptedInteraction Ui;
    MainDialog Dialog{Ui};
    bool Exposed = false;
    WindowSession() {
        Dialog.show();
        Exposed = QTest::qWaitForWindowExposed(&Dialog);
    }
    bool Open(const QString& path) {
        Ui.FileAnswers.push_back(path);
        Dialog.OnOpen();
        return Dialog.IsPictureLoaded();
    }
    // Runs Start and waits for whichever ending comes.
    bool Convert() {
        Dialog.OnStartConversion();
        return WaitForEnding();
    }
    bool WaitForEnding() {
        QDeadlineTimer deadline(EndingTimeoutMs);
        while (Dialog.Worker().IsRunning() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return !Dialog.Worker().IsRunning();
    }
    Argb PixelAt(int x, int y) {
        Argb colour = 0;
        Dialog.Working()->GetPixel(x, y, &colour);
        return colour;
    }
    void SetGrayContrast(bool on) {
        if ((Dialog.Button(IDC_GRAY_CONTRAST).GetCheck() != 0) != on) {
            QTest::mouseClick(&Dialog.Button(IDC_GRAY_CONTRAST), Qt::LeftButton);
        }
    }
};

inline QString Described(Argb c) {
    return QStringLiteral("(%1, %2, %3)").arg((c >> 16) & 0xFF).arg((c >> 8) & 0xFF).arg(c & 0xFF);
}

// Qt's helper threads (the picture scaling pool) would otherwise run glib's event loop, whose
// uninstrumented allocator ThreadSanitizer reports as racing with itself.
#define VELORA_WINDOW_TEST_MAIN(TestClass)      \
    int main(int argc, char** argv) {           \
        qputenv("QT_NO_GLIB", "1");             \
        QApplication app(argc, argv);           \
        TestClass test;                         \
        return QTest::qExec(&test, argc, argv); \
    }

}  // namespace velora
