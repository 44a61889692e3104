#pragma once

#include <QIcon>

#include <array>

// The pixel sizes in which the program icon MAINICON is drawn.
inline constexpr std::array<int, 9> kMainIconSizes = {16, 24, 32, 48, 64, 72, 96, 128, 256};

// The program icon, in all its sizes, for the window and the application.
QIcon MainIcon();
