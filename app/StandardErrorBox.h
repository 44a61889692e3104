#pragma once

#include <QString>

#include <functional>

// The application's title: the program file's name without its folder, cut at
// its first full stop, every letter after the first in lower case.
QString ApplicationTitleFromPath(const QString& programPath);

// The title of this running program (needs the application object).
QString ApplicationTitle();

// The text of the standard error box: the message, with a full stop added
// when its last character sorts after ".".
QString StandardErrorText(const QString& message);

// Shows the standard error box for `message`: the text above, the application
// title, the stop icon.
void ShowStandardErrorBox(const QString& message);

// Runs `handler` and shows anything it throws in the standard error box.
// Every event handler of the window runs through here, because an exception
// must never unwind through Qt's event loop; the window stays usable.
void RunGuarded(const std::function<void()>& handler);
