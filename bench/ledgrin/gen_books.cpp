// Expense workbooks for the ledgrin benchmark: gen_books <folder> <count>
// Each has three sheets (a cover, the claim form as the active sheet, a detail list), about
// 50 KB on disk; the name sits in D6 and the amount in P56 of the form.
#include <xlsxwriter.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gen_books <folder> <count>\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const int count = std::atoi(argv[2]);
  std::filesystem::create_directories(folder);
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> cents(100, 9999999);
  const char *names[] = {"王小明", "陳大文", "Alice Chen", "Bob Lin", "林美玲", "Eve Wu"};
  for (int i = 0; i < count; ++i) {
    char file[64];
    std::snprintf(file, sizeof file, "claim_%05d.xlsx", i);
    lxw_workbook *book = workbook_new((folder / file).c_str());
    lxw_worksheet *cover = workbook_add_worksheet(book, "Cover");
    lxw_worksheet *form = workbook_add_worksheet(book, "Claim");
    lxw_worksheet *detail = workbook_add_worksheet(book, "Detail");
    worksheet_write_string(cover, 0, 0, "Expense claim", nullptr);
    worksheet_write_number(cover, 1, 0, i, nullptr);
    for (int r = 0; r < 80; ++r)
      for (int c = 0; c < 18; ++c) {
        const std::string label = "Item " + std::to_string(r) + "." + std::to_string(c);
        worksheet_write_string(form, r, c, label.c_str(), nullptr);
      }
    worksheet_write_string(form, 5, 3, names[i % 6], nullptr);         // D6
    worksheet_write_number(form, 55, 15, cents(rng) / 100.0, nullptr); // P56
    for (int r = 0; r < 750; ++r)
      for (int c = 0; c < 6; ++c)
        worksheet_write_number(detail, r, c, cents(rng) / 100.0, nullptr);
    worksheet_activate(form);
    if (workbook_close(book) != LXW_NO_ERROR) {
      std::fprintf(stderr, "cannot write %s\n", file);
      return 1;
    }
  }
  return 0;
}
