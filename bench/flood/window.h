#pragma once

// The program's side of the flood benchmark, each in a child process of its
// own (this executable started again), so that its memory and CPU figures are
// its own.

// kavro-flood --window <linkdir> <capture file> <bytes>
//
// The real window with port 1 open and a capture running; it reports once the
// capture file holds all the bytes, or when the line has stalled.
int windowMain(int argc, char **argv);

// kavro-flood --floor <seconds>
//
// What the toolkit alone costs at the window's beat ("Qt alone").
int floorMain(int argc, char **argv);
