#pragma once

class QWidget;

// Keeps the title bar of an untitled top-level widget empty where the
// platform would fill it in (X11: the application's name). Call it before
// the widget is shown. One file per windowing system: EmptyTitleX11.cpp,
// EmptyTitleWindows.cpp.
void KeepTitleEmpty(QWidget* box);
