// The Connect command of the window and of brin-cli's --save: the settings into brin.ini, then
// the connection with them.
#pragma once

#include <functional>
#include <string>

#include "core/ClientSession.h"
#include "settings/SettingsStore.h"

// Stores the login, password and server address of `settings` and `portText` in `store`
// (StoreConnection), writes the file with `save`, then connects `session` with `settings`,
// also when the file could not be written: the settings hold for this run. `save` is the
// front end's way of writing brin.ini (the window also says in a box that it failed); empty:
// the store's SaveFile. Returns what the save returned.
int StoreAndConnect(ClientSession& session, SettingsStore& store, const SessionSettings& settings,
                    const std::string& portText, const std::function<int()>& save = nullptr);
