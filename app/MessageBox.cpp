#include "app/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include "app/EmptyTitle.h"

namespace {

// The recorder that takes the boxes now; null: real boxes are shown.
MessageBoxRecorder* activeRecorder = nullptr;

// The icon bits of a style word; the button bits are always "OK only".
constexpr unsigned kIconMask = 0xF0;

}  // namespace

QMessageBox* CreateMessageBox(const QString& text, const QString& title, unsigned style) {
    // Parented to the active window so that the box opens over it and Qt
    // gives the focus back to it when the box closes.
    auto* box = new QMessageBox(QApplication::activeWindow());
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowTitle(title);
    box->setText(text);
    box->setTextFormat(Qt::PlainText);
    box->setIcon((style & kIconMask) == MessageBoxStyle::IconError ? QMessageBox::Critical
                                                                   : QMessageBox::NoIcon);
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
    if (title.isEmpty()) {
        KeepTitleEmpty(box);
    }
    return box;
}

void ShowMessageBox(const QString& text, const QString& title, unsigned style) {
    if (activeRecorder != nullptr) {
        activeRecorder->boxes_.push_back({text, title, style});
        return;
    }
    // Not every platform hands the activation back to the window under a
    // closed box (the offscreen one does not, nor X11 without a window
    // manager), so the window and its focus are restored here.
    const QPointer<QWidget> previousWindow = QApplication::activeWindow();
    const QPointer<QWidget> previousFocus = QApplication::focusWidget();

    // The box may outlive its parent window if that closes while the box is
    // up; QPointer notices.
    QPointer<QMessageBox> box = CreateMessageBox(text, title, style);
    box->exec();
    delete box.data();

    if (previousWindow && previousWindow->isVisible()) {
        previousWindow->activateWindow();
        if (previousFocus && previousFocus->isVisible()) {
            previousFocus->setFocus(Qt::ActiveWindowFocusReason);
        }
    }
}

void ShowErrorBox(const char* text) {
    ShowMessageBox(QLatin1String(text), QStringLiteral("Error"), MessageBoxStyle::IconError);
}

MessageBoxRecorder::MessageBoxRecorder() : previous_(activeRecorder) {
    activeRecorder = this;
}

MessageBoxRecorder::~MessageBoxRecorder() {
    activeRecorder = previous_;
}
