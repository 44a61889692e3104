#pragma once

#include <QPointer>
#include <QWidget>

// Disables a control for the lifetime of the scope, so that a handler's own
// button comes back on every way out, an exception included.
//
// The handlers that use it block the window without running events, so the
// disabled look is drawn at once: a repaint left to the event loop would come
// only after the handler, when the button is enabled again.
//
// Qt hands the keyboard focus of a control it disables on to the next one in
// the tab order, which would then take the next key meant for this one (Space
// on "Broadcast Setup" would run "Connect Setup"). So the window itself holds
// the focus meanwhile, where it shows nowhere, and the control takes it back
// when it is enabled again, unless the operator has put the focus elsewhere
// in the meantime (a click during Set ID's wait).
class ScopedDisable {
public:
    explicit ScopedDisable(QWidget* widget) : widget_(widget), window_(widget->window()) {
        if (window_->focusWidget() == widget) {
            window_->setFocus(Qt::OtherFocusReason);
            focusHeld_ = true;
        }
        widget->setEnabled(false);
        widget->repaint();
    }
    ~ScopedDisable() {
        if (!widget_) {
            return;
        }
        widget_->setEnabled(true);
        if (focusHeld_ && window_ && window_->focusWidget() == window_) {
            widget_->setFocus(Qt::OtherFocusReason);
        }
    }
    ScopedDisable(const ScopedDisable&) = delete;
    ScopedDisable& operator=(const ScopedDisable&) = delete;

private:
    QPointer<QWidget> widget_;
    QPointer<QWidget> window_;
    bool focusHeld_ = false;
};
