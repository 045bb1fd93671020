#pragma once

// The window's beat. Timer1 drives the activity bar every 50 ms; whatever
// else shows or takes in something regularly (the receive box's and the
// history's pictures, a slow line read once a beat) keeps to the same
// interval on coarse timers, which the system fires together, so the program
// wakes once a beat for all of them.
constexpr int BeatMs = 50;
