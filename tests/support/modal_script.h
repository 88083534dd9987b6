// Acts on the modal windows of a Qt test as they come up (dialogs, message boxes, the folder
// picker), one step for each, from inside their own event loops, as a user would. Header only:
// for the test programs that link Qt. A script that waits too long rejects the modal window and
// fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>

namespace test_support {

class ModalScript {
  public:
    using Step = std::function<void(QWidget& modal)>;

    explicit ModalScript(int boundMs = 5000) : deadline_(boundMs) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start(5);
    }
    ~ModalScript() { EXPECT_TRUE(steps_.empty()) << steps_.size() << " modal windows never came"; }

    // The next modal window that comes up (or comes back on top) gets step.
    ModalScript& Then(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }

  private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (deadline_.hasExpired()) {
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                ADD_FAILURE() << "a modal window stayed open: "
                              << dialog->metaObject()->className();
                dialog->reject();
            }
            return;
        }
        if (!modal || modal == last_ || steps_.empty()) return;
        last_ = modal;
        // From a timer of its own: the step may open the next modal window, inside whose loop
        // this timer must go on ticking, and Qt never re-enters a timer that is still running.
        QTimer::singleShot(0, modal, [modal, step = std::move(steps_.front())] { step(*modal); });
        steps_.pop_front();
    }

    std::deque<Step> steps_;
    QPointer<QWidget> last_;
    QDeadlineTimer deadline_;
    QTimer timer_;
};

}  // namespace test_support
