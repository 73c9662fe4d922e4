// sections.h: the rewriters of the symbol file's sections. Each takes one
// line and answers 0 (write the line, rewritten in place with the new
// numbers) or 1 (drop it); the headers of LOCAL LABEL, LOCAL SYMBOL, LOCAL
// BIT SYMBOL, CALL and SOURCE blocks take their blocks with them. Needs the
// tables' lookups (sym/table.h) and the field parsers (sym/fields.h).
#ifndef MRL_SECTIONS_H
#define MRL_SECTIONS_H

#include <initializer_list>
#include <string>
#include <string_view>

#include "sym/fields.h"

int loc_lab_chg(std::string& line);
int loc_sym_chg(std::string& line, SecKind kind);
int func_chg(std::string& line);
int call_chg(std::string& line);
int src_chg(std::string& line);
int sec_chg(std::string& line);
bool sec_unit_line(std::string_view line);
void sec_block_end();
int glb_lab_chg(std::string& line);
void line_rebuild(std::string& line, std::string_view lead, std::initializer_list<std::string_view> fields,
                  std::string_view rest, bool had_line_end);

#endif
