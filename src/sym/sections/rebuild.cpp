// rebuild.cpp: the one way every rewriter rebuilds a line from its fields.
#include <cstring>

#include "mrlpro.h"

namespace {

// Copies `text` to `p` and returns the end of the copy. The pieces of a
// rebuilt line are mostly a few bytes long; those are moved with two
// overlapping moves of a fixed size (never reading outside `text`) instead
// of a call.
char* put(char* p, std::string_view text) {
    const char* const s = text.data();
    const size_t n = text.size();
    if (n >= 8 && n <= 16) {
        std::memcpy(p, s, 8);
        std::memcpy(p + n - 8, s + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(p, s, 4);
        std::memcpy(p + n - 4, s + n - 4, 4);
    } else if (n > 0 && n < 4) {
        p[0] = s[0];
        p[n / 2] = s[n / 2];
        p[n - 1] = s[n - 1];
    } else if (n > 16) {
        std::memcpy(p, s, n);
    }
    return p + n;
}

}  // namespace

// Replaces `line` by `lead` followed by `fields`, each field followed by one
// blank, then `rest` (the tail of the line as read, never split). When the
// tail is empty the last blank is left out and the line ends in a line feed
// exactly when the line as read had one, so no line end is ever lost and no
// line is glued to the next. The fields may point into `line` itself, so the
// new line is assembled in a second buffer, which keeps the room of the
// longest line rebuilt so far, and then copied into `line`.
void line_rebuild(std::string& line, std::string_view lead, std::initializer_list<std::string_view> fields,
                  std::string_view rest, bool had_line_end) {
    static std::string out;
    size_t size = lead.size() + rest.size() + 1;
    for (std::string_view f : fields) size += f.size() + 1;
    if (out.size() < size) out.resize(size);
    char* const begin = out.data();
    char* p = put(begin, lead);
    for (std::string_view f : fields) {
        p = put(p, f);
        *p++ = ' ';
    }
    if (!rest.empty()) {
        p = put(p, rest);
    } else {
        if (fields.size() > 0) --p;
        if (had_line_end) *p++ = '\n';
    }
    line.assign(begin, static_cast<size_t>(p - begin));
}
