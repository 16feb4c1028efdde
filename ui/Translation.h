// The window's language: the Russian texts it is written in, or English for a user whose language
// is English.
#pragma once

class QCoreApplication;

// English when LANGUAGE (its first entry) or, without it, LANG starts with "en".
bool WantsEnglish(const char* language, const char* lang);

// Installs the embedded English translation when the environment asks for English.
// True when it was installed.
bool InstallTranslation(QCoreApplication& app);
