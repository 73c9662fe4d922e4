// hex.cpp: the HEX pass. Every record line is copied byte for byte to the
// output HEX file (low area) or the high HEX file: the last extended segment
// address record decides, by whether its value begins with the digit 0.
#include <filesystem>

#include "mrlpro.h"
#include "run/fsname.h"

namespace {

enum RecordClass { kSegment = 0, kData = 1, kEnd = 2 };

[[noreturn]] void format_error(int line) {
    error_msg(E_FORMAT, input_hex);
    error_exit(kStatusFormat, line);
}

void put(OutFile& f, const std::string& name, std::string_view line, int status, int place) {
    if (!f.write(line)) {
        error_msg(E_CANT_CREATE, name);
        error_exit(status, place);
    }
}

// An output must reach the disk whole before its slot is closed; a full disk
// may show only here, since the writes are buffered.
void flush_or_fail(OutFile& f, const std::string& name, int place) {
    if (!f.flush()) {
        error_msg(E_CANT_CREATE, name);
        error_exit(kStatusFormat, place);
    }
}

}  // namespace

// Classifies one record line by its two type characters: 0 segment ("02"),
// 1 data ("00", "81"), 2 end ("01"). Any other line ends the run.
int record(std::string_view line) {
    trace_str("=== record() ===\n");
    if (line.empty() || line[0] != ':') format_error(L_HEX_NO_MARK);
    if (line.size() < 11) format_error(L_HEX_SHORT);
    const char hi = line[7], lo = line[8];
    switch (lo) {
        case '0':
            if (hi == '0') return kData;
            format_error(L_HEX_TYPE_X0);
        case '1':
            if (hi == '0') return kEnd;
            if (hi == '8') return kData;
            format_error(L_HEX_TYPE_X1);
        case '2':
            if (hi == '0') return kSegment;
            format_error(L_HEX_TYPE_X2);
        default: format_error(L_HEX_TYPE_OTHER);
    }
}

// Copies the input HEX file to the two outputs, up to the end record and one
// more line, then closes the three files and removes an output that got
// nothing.
void data_make() {
    trace_str("=== data_make() ===\n");
    out_text("\n== HEX file convert now == ( " + input_hex + " --> " + (in_place ? final_hex : output_hex) + " )\n");
    bool to_high = false, hex_empty = true, hxh_empty = true, running = true;
    std::string_view line;
    for (;;) {
        int got = in_hex_fp.get_line(line);
        if (got < 0) {
            error_msg(E_CANT_OPEN, input_hex);
            error_exit(kStatusInput, L_HEX_READ);
        }
        if (got == 0 || !running) break;
        switch (record(line)) {
            case kSegment:
                if (line[9] == '0') {
                    to_high = false;
                } else {
                    to_high = true;
                    put(out_hihex_fp, output_hihex, line, kStatusFormat, L_HEX_WR_SEG_HXH);
                    hxh_empty = false;
                }
                break;
            case kData:
                if (!to_high) {
                    put(out_hex_fp, output_hex, line, kStatusFormat, L_HEX_WR_DATA_HEX);
                    hex_empty = false;
                } else {
                    put(out_hihex_fp, output_hihex, line, kStatusFormat, L_HEX_WR_DATA_HXH);
                }
                break;
            default:
                if (!hex_empty) put(out_hex_fp, output_hex, line, kStatusFormat, L_HEX_WR_END_HEX);
                if (!hxh_empty) put(out_hihex_fp, output_hihex, line, kStatusCreate, L_HEX_WR_END_HXH);
                running = false;
                break;
        }
    }
    flush_or_fail(out_hex_fp, output_hex, L_HEX_FLUSH_HEX);
    flush_or_fail(out_hihex_fp, output_hihex, L_HEX_FLUSH_HXH);
    close_file(S_IN_HEX);
    close_file(S_OUT_HEX);
    close_file(S_OUT_HXH);
    std::error_code ec;
    if (hex_empty) {
        warning_msg(1, output_hex);
        std::filesystem::remove(fs_name(output_hex), ec);
        std::filesystem::remove(fs_name(output_hihex), ec);
    } else if (hxh_empty) {
        std::filesystem::remove(fs_name(output_hihex), ec);
    }
}
