#pragma once

#include <QColor>
#include <QLabel>

// Background colours a label may take besides the button face.
inline const QColor kColourGreen{0, 128, 0};
inline const QColor kColourRed{255, 0, 0};

// The system's button-face colour: the window's background.
QColor ButtonFaceColour();

// A label that keeps its size fitted to its text, growing rightwards from its
// left edge. With a colour set it is opaque, so the colour covers exactly the
// text.
class AutoSizeLabel : public QLabel {
    Q_OBJECT
public:
    AutoSizeLabel(const QString& caption, QWidget* parent);

    // Sets the text and fits the label to it.
    void setCaption(const QString& caption);
    // Paints `colour` behind the text from now on.
    void setColour(const QColor& colour);
    QColor colour() const;

protected:
    void changeEvent(QEvent* event) override;
};
