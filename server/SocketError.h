// What the system said about the last socket call that failed, as one line of text.
#pragma once

#include <string>

std::string LastSocketError();
