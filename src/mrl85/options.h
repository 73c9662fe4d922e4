// options.h: what only mrl85 itself needs besides the library: its command
// line (options.cpp) and its interrupt handler (mrl.cpp). Needs the run's
// state (mrlpro.h).
#ifndef MRL_OPTIONS_H
#define MRL_OPTIONS_H

void on_interrupt(int sig);
void parse_options(int argc, char** argv);
void parse_minus_option(const char* text);
void parse_plus_option(const char* text, int argc, char** argv);
void file_set();

#endif
