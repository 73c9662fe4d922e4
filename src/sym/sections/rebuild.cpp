// rebuild.cpp: the one way every rewriter rebuilds a line from its fields.
#include <cstring>

#include "mrlpro.h"

// Replaces `line` by `lead` followed by `fields`, each field followed by one
// blank, then `rest` (the tail of the line as read, never split). When the
// tail is empty the last blank is left out and the line ends in a line feed
// exactly when the line as read had one, so no line end is ever lost and no
// line is glued to the next. The fields may point into `line` itself, so the
// new line is assembled in a second buffer, which then trades places with
// `line`; both keep their room from one line to the next.
void line_rebuild(std::string& line, std::string_view lead, std::initializer_list<std::string_view> fields,
                  std::string_view rest, bool had_line_end) {
    static std::string out;
    size_t size = lead.size() + rest.size() + 1;
    for (std::string_view f : fields) size += f.size() + 1;
    out.resize(size);
    char* p = out.data();
    const auto put = [&p](std::string_view text) {
        if (!text.empty()) std::memcpy(p, text.data(), text.size());
        p += text.size();
    };
    put(lead);
    for (std::string_view f : fields) {
        put(f);
        *p++ = ' ';
    }
    if (!rest.empty()) {
        put(rest);
    } else {
        if (fields.size() > 0) --p;
        if (had_line_end) *p++ = '\n';
    }
    out.resize(static_cast<size_t>(p - out.data()));
    line.swap(out);
}
