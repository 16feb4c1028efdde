// The Connect command's sequence, written once for both front ends.
#include "settings/ConnectCommand.h"

int StoreAndConnect(ClientSession& session, SettingsStore& store, const SessionSettings& settings,
                    const std::string& portText, const std::function<int()>& save) {
    store.StoreConnection(settings.login, settings.password, settings.serverAddress, portText);
    const int saved = save ? save() : store.SaveFile();
    session.Connect(settings);
    return saved;
}
