#pragma once

// The baselines of the flood benchmark: plain readers copying the line into a
// file, each in a child process of its own, measured as the window is.

// kavro-flood --reader <slave device> <output file> <bytes>
//
// Reads the pseudo-terminal itself: what the line carries.
int readerMain(int argc, char **argv);

// kavro-flood --netreader <port> <output file> <bytes>
//
// Reads the same ser2net port as the window, on 127.0.0.1, undoing the telnet
// framing as any client must.
int netReaderMain(int argc, char **argv);
