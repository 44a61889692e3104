#pragma once

#include <QPointer>
#include <QWidget>

// Disables a control for the lifetime of the scope, so that a handler's own
// button comes back on every way out, an exception included.
class ScopedDisable {
public:
    explicit ScopedDisable(QWidget* widget) : widget_(widget) { widget_->setEnabled(false); }
    ~ScopedDisable() {
        if (widget_) {
            widget_->setEnabled(true);
        }
    }
    ScopedDisable(const ScopedDisable&) = delete;
    ScopedDisable& operator=(const ScopedDisable&) = delete;

private:
    QPointer<QWidget> widget_;
};
