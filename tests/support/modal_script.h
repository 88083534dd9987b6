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
    template <class Window>
    using Step = std::function<void(Window& modal)>;

    explicit ModalScript(int boundMs = 5000) : deadline_(boundMs) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start(5);
    }
    ~ModalScript() { EXPECT_TRUE(steps_.empty()) << steps_.size() << " modal windows never came"; }

    // The next modal window of that class that comes up (or comes back on top) gets step; others
    // on top meanwhile, such as a picker between two of its boxes, are left alone.
    template <class Window>
    ModalScript& Then(Step<Window> step) {
        steps_.push_back(
            {[](QWidget& modal) { return qobject_cast<Window*>(&modal) != nullptr; },
             [step = std::move(step)](QWidget& modal) { step(*qobject_cast<Window*>(&modal)); }});
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
        if (!modal || modal == last_ || steps_.empty() || queued_) return;
        // From a timer of its own: the step may open the next modal window, inside whose loop
        // this timer must go on ticking, and Qt never re-enters a timer that is still running.
        queued_ = true;
        QTimer::singleShot(0, modal, [this, modal = QPointer<QWidget>(modal)] {
            queued_ = false;
            if (!modal || steps_.empty() || !steps_.front().matches(*modal)) return;
            PendingStep step = std::move(steps_.front());
            steps_.pop_front();
            last_ = modal;
            step.act(*modal);
        });
    }

    struct PendingStep {
        std::function<bool(QWidget&)> matches;
        std::function<void(QWidget&)> act;
    };
    std::deque<PendingStep> steps_;
    bool queued_ = false;
    QPointer<QWidget> last_;
    QDeadlineTimer deadline_;
    QTimer timer_;
};

}  // namespace test_support
