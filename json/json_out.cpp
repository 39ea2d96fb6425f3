// A message to JSON: the checker's reading of it (read_message) written
// event by event, with a stack of the open values of its own, so nesting
// costs heap, not stack.
#include <cstdint>
#include <cstdio>

#include "encoding/encoding.h"
#include "json/json_bridge.h"
#include "json/json_text.h"
#include "json/json_values.h"

namespace qrv {

namespace {

using event = reading_event::kind;

// JSON text, indented two spaces a level or on one line.
class json_writer {
public:
    // With a `sink`, what is written goes on to it now and then.
    json_writer(std::string& out, bool indented, std::FILE* sink)
        : out_(out), indented_(indented), sink_(sink) {}

    // Before a value of the innermost array, or a key of the innermost
    // object.
    void item() {
        if (sink_ != nullptr && out_.size() >= (std::size_t{1} << 20)) flush();
        if (levels_.empty()) return;
        char& any = levels_.back();
        if (any != 0) out_ += ',';
        any = 1;
        if (indented_) line(levels_.size());
    }
    void key(std::string_view name) {
        item();
        json::append_string(out_, name);
        out_ += indented_ ? ": " : ":";
    }
    void open(char c) {
        out_ += c;
        levels_.push_back(0);
    }
    void close(char c) {
        const bool any = levels_.back() != 0;
        levels_.pop_back();
        if (indented_ && any) line(levels_.size());
        out_ += c;
    }
    std::string& out() { return out_; }
    // Hands the text to the sink; false once a write failed.
    bool flush() { return json::hand_on(out_, sink_, failed_); }

private:
    void line(std::size_t depth) {
        out_ += '\n';
        out_.append(2 * depth, ' ');
    }

    std::string& out_;
    bool indented_;
    std::FILE* sink_;
    bool failed_ = false;
    std::vector<char> levels_;  // per open array or object: an item was written
};

// One open structure, union or combination value.
struct open_value {
    const element* current = nullptr;  // the member whose values are being written
    bool in_array = false;             // they stand in an array
    bool extensions = false;           // the array of extension parameters is open
    // A union's extension parameter: from the first of its values to the end
    // of the last.
    std::size_t parameter_begin = 0;
    std::size_t parameter_end = 0;
    bool parameter = false;
};

class reading_writer {
public:
    reading_writer(std::string_view message, json_writer& w) : message_(message), w_(w) {}

    void write(const std::vector<reading_event>& reading) {
        for (const reading_event& ev : reading) {
            switch (ev.what()) {
                case event::open:
                    member_value(ev.e());
                    w_.open('{');
                    stack_.emplace_back();
                    break;
                case event::value: {
                    member_value(ev.e());
                    const value_form& f = form_of(*ev.e());
                    json::functions_of(f.kind).out(f, message_.substr(ev.begin, ev.length),
                                                   w_.out());
                    break;
                }
                case event::close: close(); break;
                case event::extension:
                    end_member(stack_.back());
                    open_extensions(stack_.back());
                    w_.item();
                    json::append_string(w_.out(), message_.substr(ev.begin, ev.length));
                    break;
                case event::extension_value: {
                    open_value& v = stack_.back();
                    if (!v.parameter) v.parameter_begin = ev.begin;
                    v.parameter = true;
                    v.parameter_end = ev.end();
                    break;
                }
                case event::settled: break;  // never in a reading read_message gives
            }
        }
    }

private:
    // The forms of the last elements seen, by address: a message has few
    // elements and many values of each.
    const value_form& form_of(const element& e) {
        cached& c = cache_[(reinterpret_cast<std::uintptr_t>(&e) >> 6) % cache_size];
        if (c.e != &e) {
            c.e = &e;
            c.form = simple_form(e);
        }
        return c.form;
    }

    // Before a value of member `m` of the innermost open value: its key, and
    // for a member that may repeat the array of its values.
    void member_value(const element* m) {
        if (stack_.empty()) return;  // the message itself
        open_value& v = stack_.back();
        if (v.current != m) {
            end_member(v);
            w_.key(m->name().view());
            v.current = m;
            if (occurrences_of(*m).repeats()) {
                w_.open('[');
                v.in_array = true;
            }
        }
        if (v.in_array) w_.item();
    }

    void end_member(open_value& v) {
        if (v.in_array) w_.close(']');
        v.in_array = false;
        v.current = nullptr;
    }

    void open_extensions(open_value& v) {
        if (v.extensions) return;
        w_.key(extensions_key);
        w_.open('[');
        v.extensions = true;
    }

    void close() {
        open_value& v = stack_.back();
        end_member(v);
        if (v.parameter) {
            open_extensions(v);
            w_.item();
            json::append_string(
                w_.out(), message_.substr(v.parameter_begin, v.parameter_end - v.parameter_begin));
        }
        if (v.extensions) w_.close(']');
        w_.close('}');
        stack_.pop_back();
    }

    std::string_view message_;
    json_writer& w_;
    std::vector<open_value> stack_;
    struct cached {
        const element* e = nullptr;
        value_form form;
    };
    static constexpr std::size_t cache_size = 64;
    std::vector<cached> cache_ = std::vector<cached>(cache_size);
};

}  // namespace

check_result message_to_json(const element& type, std::string_view message, bool closed, bool lines,
                             std::string& out, std::FILE* sink, bool* write_failed) {
    std::vector<reading_event> reading;
    const check_result result = read_message(type, message, reading, {}, closed);
    if (!result.valid()) return result;
    json_writer w(out, !lines, sink);
    reading_writer(message, w).write(reading);
    out += '\n';
    const bool written = w.flush();
    if (write_failed != nullptr) *write_failed = !written;
    return result;
}

}  // namespace qrv
