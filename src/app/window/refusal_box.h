#pragma once
#include <QString>
#include <chrono>

namespace tarvelo::app {

// Whether a message box can reach anyone: a real display, not the offscreen or minimal platform.
bool displayAvailable();

// Shows why the program does not start, in the window's language, and returns when it is closed or,
// with nobody at the screen, after `wait`: a start at logon must still end.
void showRefusal(const QString& text, std::chrono::milliseconds wait);

}  // namespace tarvelo::app
