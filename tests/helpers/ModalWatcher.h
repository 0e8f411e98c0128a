#pragma once
// Answers a modal window the code under test opens: once a visible top-level widget of the
// type and object name shows, Act runs on it (and should close it). A timer looks for it, so
// Act also runs while the window's own event loop blocks the test's code. Header only: the
// helper library has no widgets.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace testkit {

template <typename T>
class ModalWatcher {
public:
    ModalWatcher(QString name, std::function<void(T&)> act)
        : name_(std::move(name)), act_(std::move(act))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start();
    }

    // How many windows were answered so far.
    int seen() const { return seen_; }
    // Answer every later window too (by default only the first).
    void repeat() { repeat_ = true; }

private:
    void look()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            T* window = qobject_cast<T*>(widget);
            if (!window || !window->isVisible() || window->objectName() != name_ || window == last_)
                continue;
            last_ = window;
            ++seen_;
            if (!repeat_)
                timer_.stop();
            act_(*window);
            return;
        }
    }

    QString name_;
    std::function<void(T&)> act_;
    QTimer timer_;
    int seen_ = 0;
    bool repeat_ = false;
    const T* last_ = nullptr;
};

}  // namespace testkit
