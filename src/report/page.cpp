// page.cpp: the page (filled in by the page work).
#include "report/report.h"

namespace report {

bool page_write(std::FILE* out, const Report&) { return std::fputs("<!DOCTYPE html>\n", out) >= 0; }

}  // namespace report
