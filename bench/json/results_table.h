// The short table that ./dev bench prints: read back from Google
// Benchmark's JSON output of the round-trip benchmark.
#pragma once

namespace bench {

// Prints, for each corpus file, the host's MB/s, the fastest peer and its
// MB/s, their ratio against the 2x target, and the host's peak heap per
// file byte against the 3x target. Returns 0, or 1 when the file cannot be
// read or holds no host results.
int print_results_table(const char* path);

}  // namespace bench
