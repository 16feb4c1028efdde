// The program's images: tray and window icons by resource number, and the logo bitmap.
#pragma once

#include <QIcon>
#include <QPixmap>

// Icon 129 (at sign on green: connected), 130 (at sign on red: disconnected) or
// 133 (the sun: window icon), with every rendered size from 16 to 256 pixels.
// Any other number gives a null icon.
QIcon BrinIcon(int id);

// Bitmap 139, the logo: 220 x 56 device-independent pixels (drawn at twice the
// resolution on high-density screens).
QPixmap BrinLogo();
