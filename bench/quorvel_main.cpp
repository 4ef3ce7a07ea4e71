// The tool's own main, built into the benchmarks that run the tool under the name QuorvelMain, so
// that they run all of it (log file, header and banner included) in their own process.
#define main QuorvelMain
#include "main.cpp"
#undef main
