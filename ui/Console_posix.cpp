// Elsewhere the program's standard streams are the terminal's or the caller's already.
#include "ui/Console.h"

void AttachStartingConsole() {}

void ReleaseStartingConsole() {}
