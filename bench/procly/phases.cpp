// The procly pass phase by phase, on the library calls the tool makes:
// phases <system.csv> <customer.xlsx> <out.xlsx>
// Prints one line per phase with its seconds, for the benchmark to compare with pandas.
#include "vaskern/app_logging.hpp"
#include "vaskern/excel/excelTools.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ex = vaskern::excelTools;

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: phases <system.csv> <customer.xlsx> <out.xlsx>\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  auto lap = [&](const char *name) {
    const auto now = std::chrono::steady_clock::now();
    std::printf("%s %.6f\n", name, std::chrono::duration<double>(now - start).count());
    if (std::getenv("PHASES_RSS")) {
      std::FILE *f = std::fopen("/proc/self/status", "r");
      char line[256];
      while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM", 5) == 0 || std::strncmp(line, "VmRSS", 5) == 0)
          std::fprintf(stderr, "  %s %s", name, line);
      if (f)
        std::fclose(f);
    }
    start = now;
  };
  ex::Table sys = ex::read_csv_by_cells(argv[1], {{"PO", "H2"},
                                                  {"SO", "I2"},
                                                  {"SO_POS", "J2"},
                                                  {"SO_SUFFIX", "K2"},
                                                  {"QTY", "L2"},
                                                  {"RDD", "Q2"}});
  lap("read_system");
  ex::Table cus = ex::read_excel_by_cells(argv[2], {{"PO", "F3"}, {"QTY", "O3"}, {"RDD", "R3"}});
  lap("read_customer");
  ex::dates_to_iso_text(sys.column("RDD"), false);
  ex::dates_to_iso_text(cus.column("RDD"), true);
  lap("dates");
  ex::Table result = ex::merge_exact_match(sys, cus, {"PO", "QTY"}, {"_SYS", "_CUST"});
  lap("join");
  result.rename({{"RDD_SYS", "SYSTEM_RDD"}, {"RDD_CUST", "CUSTOMER_RDD"}});
  result = result.select({"PO", "SO", "SO_POS", "SO_SUFFIX", "QTY", "SYSTEM_RDD", "CUSTOMER_RDD"});
  result = result.sort_by({"PO", "SO_POS", "QTY"});
  const ex::Table by_rdd = result.sort_by({"SYSTEM_RDD", "PO"});
  lap("sorts");
  const ex::Table summary =
      ex::monthly_sums(result.column("SYSTEM_RDD"), result.column("QTY"),
                       result.column("CUSTOMER_RDD"), result.column("QTY"), {"SYS_RDD", "CUS_RDD"});
  lap("summary");
  const bool ok = ex::write_formatted_excel(
      argv[3],
      {{"byPO", {{&result, false, 0}, {&summary, true, static_cast<int>(result.cols()) + 2}}},
       {"byRDD_SYS", {{&by_rdd, false, 0}}}},
      vaskern::app_logging::lazy_logger("Bench"));
  lap("write");
  std::printf("matched %zu\n", result.rows());
  return ok ? 0 : 1;
}
