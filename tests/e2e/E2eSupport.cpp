// The portable side of the end-to-end helpers: the JSON reader.
#include "tests/e2e/E2eSupport.h"

#include <sstream>

#include "core/Cp1251.h"

namespace {

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : s_(s) {}

    bool Document(Json* out, std::string* error) {
        if (!Value(out, 0)) {
            *error = error_ + " at offset " + std::to_string(pos_);
            return false;
        }
        Space();
        if (pos_ != s_.size()) {
            *error = "text after the value at offset " + std::to_string(pos_);
            return false;
        }
        return true;
    }

private:
    void Space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Fail(const char* what) {
        error_ = what;
        return false;
    }
    bool Literal(const char* word, Json::Type type, Json* out) {
        const std::string w = word;
        if (s_.compare(pos_, w.size(), w) != 0) return Fail("unknown literal");
        pos_ += w.size();
        out->type = type;
        out->text = w;
        return true;
    }
    bool StringValue(std::string* out) {
        ++pos_;  // the opening quote
        while (pos_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("control character inside a string");
            if (c != '\\') {
                out->push_back(static_cast<char>(c));
                continue;
            }
            if (pos_ >= s_.size()) break;
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    out->push_back('"');
                    break;
                case '\\':
                    out->push_back('\\');
                    break;
                case '/':
                    out->push_back('/');
                    break;
                case 'b':
                    out->push_back('\b');
                    break;
                case 'f':
                    out->push_back('\f');
                    break;
                case 'n':
                    out->push_back('\n');
                    break;
                case 'r':
                    out->push_back('\r');
                    break;
                case 't':
                    out->push_back('\t');
                    break;
                case 'u': {
                    if (pos_ + 4 > s_.size()) return Fail("short \\u escape");
                    unsigned v = 0;
                    for (int i = 0; i < 4; ++i) {
                        const char h = s_[pos_++];
                        v <<= 4;
                        if (h >= '0' && h <= '9')
                            v |= static_cast<unsigned>(h - '0');
                        else if (h >= 'a' && h <= 'f')
                            v |= static_cast<unsigned>(h - 'a' + 10);
                        else if (h >= 'A' && h <= 'F')
                            v |= static_cast<unsigned>(h - 'A' + 10);
                        else
                            return Fail("bad \\u escape");
                    }
                    AppendUtf8(out, v);
                    break;
                }
                default:
                    return Fail("unknown escape");
            }
        }
        return Fail("unterminated string");
    }
    bool Value(Json* out, int depth) {
        if (depth > 32) return Fail("nested too deep");
        Space();
        if (pos_ >= s_.size()) return Fail("value expected");
        const char c = s_[pos_];
        if (c == '{') {
            out->type = Json::Object;
            ++pos_;
            Space();
            if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
            for (;;) {
                Space();
                if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("key expected");
                std::string key;
                if (!StringValue(&key)) return false;
                Space();
                if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("':' expected");
                ++pos_;
                Json v;
                if (!Value(&v, depth + 1)) return false;
                out->fields.emplace_back(key, v);
                Space();
                if (pos_ < s_.size() && s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
                return Fail("',' or '}' expected");
            }
        }
        if (c == '[') {
            out->type = Json::Array;
            ++pos_;
            Space();
            if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
            for (;;) {
                Json v;
                if (!Value(&v, depth + 1)) return false;
                out->items.push_back(v);
                Space();
                if (pos_ < s_.size() && s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
                return Fail("',' or ']' expected");
            }
        }
        if (c == '"') {
            out->type = Json::String;
            return StringValue(&out->text);
        }
        if (c == 't') return Literal("true", Json::Bool, out);
        if (c == 'f') return Literal("false", Json::Bool, out);
        if (c == 'n') return Literal("null", Json::Null, out);
        const size_t start = pos_;
        if (s_[pos_] == '-') ++pos_;
        while (pos_ < s_.size() &&
               ((s_[pos_] >= '0' && s_[pos_] <= '9') || s_[pos_] == '.' || s_[pos_] == 'e' ||
                s_[pos_] == 'E' || s_[pos_] == '+' || s_[pos_] == '-'))
            ++pos_;
        if (pos_ == start || (pos_ == start + 1 && s_[start] == '-')) return Fail("value expected");
        out->type = Json::Number;
        out->text = s_.substr(start, pos_ - start);
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    static const Json missing;
    for (const auto& f : fields)
        if (f.first == key) return f.second;
    return missing;
}

bool Json::Has(const std::string& key) const {
    for (const auto& f : fields)
        if (f.first == key) return true;
    return false;
}

bool ParseJson(const std::string& text, Json* out, std::string* error) {
    *out = Json();
    return JsonParser(text).Document(out, error);
}

std::vector<Json> JsonLines(const std::string& output) {
    std::vector<Json> events;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        Json j;
        std::string error;
        EXPECT_TRUE(ParseJson(line, &j, &error)) << error << " in: " << line;
        EXPECT_EQ(j.type, Json::Object) << line;
        EXPECT_EQ(j["event"].type, Json::String) << "no \"event\" in: " << line;
        events.push_back(j);
    }
    return events;
}
