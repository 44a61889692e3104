#pragma once

// Answers the real message boxes of a window test the way the operator does:
// each box that comes up is closed with its OK button, and what it said is
// kept. For the tests that need a box to be really shown (the focus it takes
// and gives back); the others record boxes with MessageBoxRecorder.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <vector>

class BoxAnswerer {
public:
    struct Seen {
        QPointer<QMessageBox> box;
        QString text;
        bool modal;
    };

    BoxAnswerer() {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->isVisible()) {
                seen_.push_back({box, box->text(), box->isModal()});
                box->button(QMessageBox::Ok)->click();
            }
        });
        poll_.start(kPollMs);
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    const std::vector<Seen>& seen() const { return seen_; }
    QStringList texts() const {
        QStringList texts;
        for (const Seen& s : seen_) {
            texts << s.text;
        }
        return texts;
    }

private:
    static constexpr int kPollMs = 10;
    QTimer poll_;
    std::vector<Seen> seen_;
};
