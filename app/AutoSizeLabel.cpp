#include "app/AutoSizeLabel.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>

QColor ButtonFaceColour() {
    return QApplication::palette().color(QPalette::Button);
}

AutoSizeLabel::AutoSizeLabel(const QString& caption, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setCaption(caption);
}

void AutoSizeLabel::setCaption(const QString& caption) {
    setText(caption);
    resize(sizeHint());
}

void AutoSizeLabel::setColour(const QColor& colour) {
    QPalette labelPalette = palette();
    labelPalette.setColor(QPalette::Window, colour);
    setPalette(labelPalette);
    // The window paints with the button-face role, and children inherit the
    // role; the label's own colour is its Window colour.
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
}

QColor AutoSizeLabel::colour() const {
    return palette().color(QPalette::Window);
}

void AutoSizeLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        resize(sizeHint());
    }
}
