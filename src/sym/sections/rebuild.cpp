// rebuild.cpp: the one way every rewriter rebuilds a line from its fields.
#include "mrlpro.h"

// Replaces `line` by `lead` followed by `fields`, each field followed by one
// blank, then `rest` (the tail of the line as read, never split). When the
// tail is empty the last blank is left out and the line ends in a line feed
// exactly when the line as read had one, so no line end is ever lost and no
// line is glued to the next. The fields may point into `line` itself.
void line_rebuild(std::string& line, std::string_view lead, std::initializer_list<std::string_view> fields,
                  std::string_view rest, bool had_line_end) {
    static std::string out;
    out.assign(lead);
    for (std::string_view f : fields) {
        out.append(f);
        out.push_back(' ');
    }
    if (!rest.empty()) {
        out.append(rest);
    } else {
        if (fields.size() > 0) out.pop_back();
        if (had_line_end) out.push_back('\n');
    }
    line.swap(out);
}
