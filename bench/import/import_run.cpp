// Imports a workbook into a database, as the generation run does, and prints
// the time it took and the rows written; the process's peak memory goes to
// stderr as "peak_rss_kb N". Used by run_bench.py. Any workbook format.
//   quillant-import-bench WORKBOOK DATABASE [REPEATS]
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "generator/import/excel2access.h"

static long long countRows(const std::string& db) {
  sqlite3* h = nullptr;
  long long rows = -1;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(h, "SELECT count(*) FROM SHEET1", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      rows = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
  }
  sqlite3_close(h);
  return rows;
}

// This process's peak resident memory. Not getrusage's ru_maxrss: Linux
// carries that over from the parent across exec.
static long peakResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s WORKBOOK DATABASE [REPEATS]\n", argv[0]);
    return 2;
  }
  int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
  std::vector<double> seconds;
  for (int i = 0; i < repeats; ++i) {
    auto start = std::chrono::steady_clock::now();
    std::string err = quill::excel2Access(argv[1], argv[2]);
    auto stop = std::chrono::steady_clock::now();
    if (!err.empty()) {
      std::fprintf(stderr, "Error on Excel2Access: %s\n", err.c_str());
      return 1;
    }
    seconds.push_back(std::chrono::duration<double>(stop - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.6f %lld\n", seconds[seconds.size() / 2], countRows(argv[2]));
  std::fprintf(stderr, "peak_rss_kb %ld\n", peakResidentKb());
  return 0;
}
