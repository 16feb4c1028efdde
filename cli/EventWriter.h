// brin-cli's standard output: each event as it happens, as a readable line or a JSON object.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "core/ClientSession.h"
#include "core/UsageForecast.h"

// Writes each event as it happens, in one of the two forms, and flushes it.
class EventWriter {
public:
    EventWriter(std::ostream& out, bool json) : out_(out), json_(json) {}

    void Connected(const std::string& login, const std::string& server, int32_t port);
    // The account after a reply: every counter in JSON, the window's rows in the readable form.
    void Snapshot(const SessionView& view);
    void Message(int32_t time, const std::string& text);
    // One row of the daily table; the header comes before the first in the readable form.
    void Day(const UsageDay& day, bool first);
    void ForecastEvent(const Forecast& forecast);
    // A reply brought the balance below LowBalance.
    void LowBalance(int32_t balance, int32_t threshold, const Forecast& forecast);
    // An event that carries nothing but its name: {"event":"<event>"}, or `text` as it is.
    void BareEvent(const char* event, const char* text);

private:
    void Emit(const std::string& line);

    std::ostream& out_;
    bool json_;
};
