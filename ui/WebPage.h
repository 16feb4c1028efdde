// The provider's web pages, opened in the user's browser.
#pragma once

#include <QString>

// Opens `url` with the desktop's default action for it (on Windows the shell's
// default verb); false when nothing could take it.
bool OpenWebPage(const QString& url);
