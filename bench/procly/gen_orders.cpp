// Order files for the procly benchmark: gen_orders <folder> <rows> <matches>
// Writes system_data.csv (<rows> rows, 17 columns, PO/SO/SO_POS/SO_SUFFIX/QTY/RDD in H..L and
// Q), customer_data.xlsx (<rows> rows from F3/O3/R3 down, a title and a header row) and
// customer_data.csv (the same customer values, for the pandas peer). <matches> customer rows
// agree with a system row on PO and QTY.
#include <xlsxwriter.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: gen_orders <folder> <rows> <matches>\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const long rows = std::atol(argv[2]);
  const long matches = std::atol(argv[3]);
  std::filesystem::create_directories(folder);
  std::mt19937_64 rng(7);
  struct Order {
    long long po;
    int qty;
    int year, month, day;
  };
  std::vector<Order> sys(static_cast<std::size_t>(rows));
  for (long i = 0; i < rows; ++i)
    sys[static_cast<std::size_t>(i)] = {
        4500000000LL + static_cast<long long>(rng() % 90000000), static_cast<int>(1 + rng() % 500),
        2024, static_cast<int>(1 + rng() % 12), static_cast<int>(1 + rng() % 28)};
  std::ofstream csv(folder / "system_data.csv", std::ios::binary);
  csv << "\xEF\xBB\xBF"
         "c1,c2,c3,c4,c5,c6,c7,PO,SO,SO_POS,SO_SUFFIX,QTY,c13,c14,c15,c16,RDD\r\n";
  char line[256];
  for (long i = 0; i < rows; ++i) {
    const Order &o = sys[static_cast<std::size_t>(i)];
    std::snprintf(line, sizeof line,
                  "x,\"plant, %ld\",,,,,,%lld,SO%07ld,%ld,S%ld,%d,,,,,%04d-%02d-%02d\r\n", i % 9,
                  o.po, i, (i % 5 + 1) * 10, i % 3, o.qty, o.year, o.month, o.day);
    csv << line;
  }
  csv.close();

  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  lxw_workbook *book = workbook_new_opt((folder / "customer_data.xlsx").c_str(), &options);
  lxw_format *date = workbook_add_format(book);
  format_set_num_format(date, "yyyy-mm-dd");
  lxw_worksheet *ws = workbook_add_worksheet(book, "Customer");
  worksheet_write_string(ws, 0, 0, "Customer order list", nullptr);
  worksheet_write_string(ws, 1, 5, "PO", nullptr);
  worksheet_write_string(ws, 1, 14, "QTY", nullptr);
  worksheet_write_string(ws, 1, 17, "RDD", nullptr);
  std::ofstream cus(folder / "customer_data.csv", std::ios::binary);
  cus << "PO,QTY,RDD\n";
  for (long i = 0; i < rows; ++i) {
    Order o;
    if (i < matches) {
      o = sys[static_cast<std::size_t>((i * 7919) % rows)];
      o.month = static_cast<int>(1 + rng() % 12);
    } else {
      o = {3000000000LL + i, static_cast<int>(1 + rng() % 500), 2025,
           static_cast<int>(1 + rng() % 12), static_cast<int>(1 + rng() % 28)};
    }
    const auto row = static_cast<lxw_row_t>(i + 2);
    worksheet_write_number(ws, row, 5, static_cast<double>(o.po), nullptr);
    worksheet_write_number(ws, row, 14, o.qty, nullptr);
    lxw_datetime when = {o.year, o.month, o.day, 0, 0, 0};
    worksheet_write_datetime(ws, row, 17, &when, date);
    std::snprintf(line, sizeof line, "%lld,%d,%04d-%02d-%02d\n", o.po, o.qty, o.year, o.month,
                  o.day);
    cus << line;
  }
  return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}
