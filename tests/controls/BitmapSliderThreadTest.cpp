// The conversion worker reads a slider's position from its own thread while the user drags.
#include "BitmapSlider.h"

#include <QtTest>

#include <atomic>
#include <thread>

class BitmapSliderThreadTest : public QObject {
    Q_OBJECT
  private slots:
    void PositionReadFromAnotherThread() {
        velora::BitmapSlider slider(1013);
        slider.SetRange(0, 100, false);
        std::atomic<bool> stop{false};
        std::atomic<int> outside{0};
        std::thread reader([&] {
            while (!stop.load()) {
                const int value = slider.Position();
                if (value < 0 || value > 100) {
                    outside.fetch_add(1);
                }
            }
        });
        for (int i = 0; i < 20000; ++i) {
            slider.SetPosition(i % 101);
        }
        stop.store(true);
        reader.join();
        QCOMPARE(outside.load(), 0);
        QCOMPARE(slider.Position(), 19999 % 101);
    }
};

QTEST_MAIN(BitmapSliderThreadTest)
#include "BitmapSliderThreadTest.moc"
