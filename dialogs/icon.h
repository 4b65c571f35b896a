// The program's icon, drawn in code: piano keys under a pair of beamed notes on the window's black.
#pragma once

#include <QIcon>
#include <QImage>

namespace dialogs {

// The icon at `size` x `size` pixels.
QImage DrawAppIcon(int size);
// The icon at the usual sizes, for windows.
QIcon AppIcon();

}  // namespace dialogs
