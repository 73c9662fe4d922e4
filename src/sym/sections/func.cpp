// func.cpp: FUNC lines and the headers of CALL and SOURCE blocks, which name a
// function by number. A deleted function's FUNC line is dropped alone; its
// CALL and SOURCE headers are dropped with their blocks.
#include "run/trace.h"
#include "sym/fields.h"
#include "sym/sections/sections.h"
#include "sym/table.h"

namespace {

// A line holds at most one line feed, at its end.
bool has_line_end(std::string_view line) { return line.ends_with('\n'); }

// The text after the header literal of `kind`.
std::string_view after_header(std::string_view line, SecKind kind) { return line.substr(sec_header[kind].size()); }

// A CALL or SOURCE header: the new function number; with `keep_rest` (SOURCE)
// the rest as read and the line end as read, else a line feed.
int func_header_chg(std::string_view line, SecKind kind, bool keep_rest, Rebuilt& out) {
    std::string_view rest = after_header(line, kind);
    const uint32_t func_no = get_number(rest);
    uint32_t new_func = 0, new_unit = 0;
    if (func_search(func_no, &new_func, &new_unit) == 1) return 1;
    char func_text[9];
    line_rebuild(out, sec_header[kind], {num_to_hex(new_func, func_text)}, keep_rest ? rest : "",
                 !keep_rest || has_line_end(line));
    return 0;
}

}  // namespace

// "# FUNC func second unit rest": new function number, the second field as
// read, the new unit number of the function, the rest as read.
int func_chg(std::string_view line, Rebuilt& out) {
    trace_str("===== func_chg() =====\n");
    std::string_view rest = after_header(line, SEC_FUNC);
    const uint32_t func_no = get_number(rest);
    const std::string_view second = get_token(rest);
    get_token(rest);
    uint32_t new_func = 0, new_unit = 0;
    if (func_search(func_no, &new_func, &new_unit) == 1) return 1;
    char func_text[9], unit_text[9];
    line_rebuild(out, sec_header[SEC_FUNC], {num_to_hex(new_func, func_text), second, num_to_hex(new_unit, unit_text)},
                 rest, has_line_end(line));
    return 0;
}

// "# CALL func": the new function number alone.
int call_chg(std::string_view line, Rebuilt& out) {
    trace_str("===== call_chg() =====\n");
    return func_header_chg(line, SEC_CALL, false, out);
}

// "# SOURCE func rest": the new function number, the rest as read.
int src_chg(std::string_view line, Rebuilt& out) {
    trace_str("===== src_chg() =====\n");
    return func_header_chg(line, SEC_SOURCE, true, out);
}
