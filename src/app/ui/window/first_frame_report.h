#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace calvoro {

// For the start-up benchmark: with CALVORO_REPORT_FIRST_FRAME set, the window's first frame drawn
// once `ready` holds is reported on standard error as "first frame: <ms> ms" since the process
// started; with the value "quit", the program then ends.
class FirstFrameReport : public QObject {
    Q_OBJECT
public:
    // Watches the window when the variable is set; otherwise does nothing.
    static void watch(QWidget* window, std::function<bool()> ready);

    // Milliseconds since the process started, from the kernel's record of its start.
    static double millisecondsSinceProcessStart();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FirstFrameReport(QWidget* window, std::function<bool()> ready, bool quit);

    QWidget* window_;
    std::function<bool()> ready_;
    bool quit_;
    bool reported_ = false;
};

}  // namespace calvoro
