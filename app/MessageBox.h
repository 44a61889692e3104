#pragma once

#include <QString>

#include <vector>

class QMessageBox;

// The style words a box may carry. The tool uses exactly these two.
namespace MessageBoxStyle {
constexpr unsigned Ok = 0;          // one OK button, no icon
constexpr unsigned IconError = 16;  // one OK button and the stop icon
}  // namespace MessageBoxStyle

// Shows a modal box of the application with one OK button and waits until it
// is closed. Every message of the tool goes through here. While a
// MessageBoxRecorder exists, the box is recorded instead and the call returns
// at once.
void ShowMessageBox(const QString& text, const QString& title, unsigned style);

// The common error box: `text` under the title "Error", with the stop icon.
void ShowErrorBox(const char* text);

// Builds the box ShowMessageBox would show, without showing it. The caller
// owns the result.
QMessageBox* CreateMessageBox(const QString& text, const QString& title, unsigned style);

// Records the boxes shown during its lifetime instead of showing them, so that
// no test ever waits on a modal box. Recorders nest: the newest one records,
// and destroying it brings the previous one (or real boxes) back.
class MessageBoxRecorder {
public:
    struct Box {
        QString text;
        QString title;
        unsigned style;
    };

    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<Box>& boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

private:
    friend void ShowMessageBox(const QString&, const QString&, unsigned);

    std::vector<Box> boxes_;
    MessageBoxRecorder* previous_;
};
