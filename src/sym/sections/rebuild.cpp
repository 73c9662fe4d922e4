// rebuild.cpp: the one way every rewriter rebuilds a line from its fields.
#include <functional>

#include "run/textfile.h"
#include "sym/sections/sections.h"

// Replaces `line` by `lead` followed by `fields`, each field followed by one
// blank, then `rest` (the tail of the line as read, never split). When the
// tail is empty the last blank is left out and the line ends in a line feed
// exactly when the line as read had one, so no line end is ever lost and no
// line is glued to the next.
//
// The new head (lead and fields) is assembled apart, since the fields may
// point into `line`, in a buffer that keeps the room of the longest head so
// far. When `rest` is the tail of `line`, as the rewriters pass it, only the
// text before it is replaced, in place; the tail is not copied out and back.
void line_rebuild(std::string& line, std::string_view lead, std::initializer_list<std::string_view> fields,
                  std::string_view rest, bool had_line_end) {
    static std::string head;
    size_t size = lead.size() + 1;
    for (std::string_view f : fields) size += f.size() + 1;
    if (head.size() < size) head.resize(size);
    char* const begin = head.data();
    char* p = begin;
    const auto put = [&p](std::string_view text) {
        copy_bytes(p, text.data(), text.size());
        p += text.size();
    };
    put(lead);
    for (std::string_view f : fields) {
        put(f);
        *p++ = ' ';
    }
    if (rest.empty()) {
        if (fields.size() > 0) --p;
        if (had_line_end) *p++ = '\n';
        line.assign(begin, static_cast<size_t>(p - begin));
        return;
    }
    const size_t n = static_cast<size_t>(p - begin);
    // Whether `rest` lies in `line`: std::less_equal orders any two pointers,
    // where a plain comparison of pointers into different objects is unspecified.
    const char* const text = line.data();
    if (std::less_equal<const char*>{}(text, rest.data()) && rest.data() + rest.size() == text + line.size()) {
        line.replace(0, static_cast<size_t>(rest.data() - text), begin, n);
    } else {
        std::string whole(begin, n);
        whole.append(rest);
        line.swap(whole);
    }
}
