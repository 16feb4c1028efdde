// brin-cli's event lines in their two forms: readable text, or one JSON object per line.
#include "cli/EventWriter.h"

#include <cstdio>
#include <cstring>

#include "core/Cp1251.h"
#include "core/DisplayFormat.h"
#include "messages/MessageHistory.h"

namespace {

// The text of a fixed-size field padded with zero bytes, which fills it without an end
// when the text is as long as the field.
std::string FromZeroPaddedField(const char* bytes, size_t size) {
    return std::string(bytes, strnlen(bytes, size));
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace

void EventWriter::Connected(const std::string& login, const std::string& server, int32_t port) {
    if (json_)
        Emit("{\"event\":\"connected\",\"login\":" + JsonString(Cp1251ToUtf8(login)) +
             ",\"server\":" + JsonString(server) + ",\"port\":" + std::to_string(port) + "}");
    else
        Emit("connected: " + Cp1251ToUtf8(login) + " @ " + server + ":" + std::to_string(port));
}

void EventWriter::Snapshot(const SessionView& view) {
    if (json_) {
        std::string line =
            "{\"event\":\"snapshot\",\"balance\":" + JsonString(FormatMoney(view.balance)) +
            ",\"balance_milli\":" + std::to_string(view.balance) +
            ",\"remaining_bytes\":" + std::to_string(view.remainingBytes) + ",\"counters\":[";
        bool first = true;
        for (const TrafficCounter& c : view.counters) {
            const uint64_t id = static_cast<uint64_t>(c.idHigh) << 32 | c.idLow;
            line += std::string(first ? "" : ",") + "{\"id\":" + std::to_string(id) +
                    ",\"name\":" + JsonString(Cp1251ToUtf8(FromZeroPaddedField(c.name, sizeof c.name))) +
                    ",\"bytes\":" + std::to_string(c.byteCount) + "}";
            first = false;
        }
        Emit(line + "]}");
        return;
    }
    // The window's rows.
    std::string text = "balance: " + FormatMoney(view.balance) + "\n" +
                       "remaining: " + FormatRemaining(view.remainingBytes);
    for (const CounterRow& row : CounterRows(view.counters))
        text += "\n  " + Cp1251ToUtf8(row.label) + ": " + row.megabytes;
    Emit(text);
}

void EventWriter::Message(int32_t time, const std::string& text) {
    if (json_)
        Emit("{\"event\":\"message\",\"time\":" + std::to_string(time) +
             ",\"text\":" + JsonString(Cp1251ToUtf8(text)) + "}");
    else
        Emit("message " + MessageHistory::FormatMessageTime(time) + ": " + Cp1251ToUtf8(text));
}

void EventWriter::Day(const UsageDay& day, bool first) {
    const std::string date = day.date.Iso();
    if (json_) {
        Emit("{\"event\":\"day\",\"date\":\"" + date + "\",\"balance\":" +
             (day.known ? JsonString(FormatMoney(day.balance)) : std::string("null")) +
             ",\"spent\":" + JsonString(FormatThousandths(day.spent)) +
             ",\"used_bytes\":" + std::to_string(day.usedBytes) + "}");
        return;
    }
    char line[128];
    if (first) {
        std::snprintf(line, sizeof line, "%-10s %14s %12s %12s", "date", "balance", "spent",
                      "used (M)");
        Emit(line);
    }
    std::snprintf(line, sizeof line, "%-10s %14s %12s %12s", date.c_str(),
                  day.known ? FormatMoney(day.balance).c_str() : "-",
                  day.known ? FormatThousandths(day.spent).c_str() : "-",
                  day.known ? FormatMegabytes(day.usedBytes).c_str() : "-");
    Emit(line);
}

void EventWriter::ForecastEvent(const Forecast& forecast) {
    Emit(json_ ? ForecastJson(forecast) : ForecastLine(forecast));
}

void EventWriter::LowBalance(int32_t balance, int32_t threshold, const Forecast& forecast) {
    if (json_) {
        // The forecast's own fields after the balance and the threshold.
        std::string rest = ForecastJson(forecast);
        rest = rest.substr(rest.find(",\"until\""));
        Emit("{\"event\":\"low_balance\",\"balance\":" + JsonString(FormatMoney(balance)) +
             ",\"balance_milli\":" + std::to_string(balance) +
             ",\"threshold\":" + JsonString(FormatMoney(threshold)) + rest);
        return;
    }
    Emit("low balance: " + FormatMoney(balance) + ", below " + FormatMoney(threshold) + "; " +
         ForecastLine(forecast));
}

void EventWriter::BareEvent(const char* event, const char* text) {
    if (json_)
        Emit(std::string("{\"event\":\"") + event + "\"}");
    else
        Emit(text);
}

void EventWriter::Emit(const std::string& line) {
    out_ << line << '\n' << std::flush;
}
