// The tests' way behind the session facade: the engine, to set up what a reply would have left
// or to read what the hand-over wrote, and the time KeepConn waits from.
#pragma once

#include "core/ClientSession.h"

class SessionProbe {
public:
    static BrinCore& Engine(ClientSession& session) { return session.core_; }
    static int32_t LastReconnectTime(const ClientSession& session) {
        return session.lastReconnectTime_;
    }
};
