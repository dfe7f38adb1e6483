// Benchmark deck: make_deck <out.pptx> [slides]. Every slide holds a title, a body text and two
// keyword-marked boxes of its own colours, at positions that move from slide to slide.
#include "support/pptx_writer.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace gen = vaskit::testing::pptx;

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_deck <out.pptx> [slides]\n");
    return 2;
  }
  const int slides = argc > 2 ? std::atoi(argv[2]) : 30;
  static const char *colours[] = {"C0392B", "2471A3", "229954", "D4AC0D", "7D3C98", "CA6F1E"};
  gen::Deck deck;
  for (int s = 0; s < slides; ++s) {
    const std::int64_t shift = (s % 7) * 304800;
    std::string shapes =
        gen::rect(2, "Title", 609600, 304800, 10972800, 914400, "FFFFFF",
                  gen::para(gen::run("第 " + std::to_string(s + 1) + " 頁 · Quarterly review")));
    shapes += gen::rect(3, "Body", 609600, 1371600, 4572000, 4572000, "F2F3F4",
                        gen::para(gen::run("Notes without the marker")) +
                            gen::para(gen::run("說明文字，沒有關鍵字")));
    shapes += gen::rect(4, "Region A", 5486400 + shift, 1371600, 3048000, 2286000, colours[s % 6],
                        gen::para(gen::run("crop_region A")));
    shapes += gen::rect(5, "Region B", 5486400, 4114800 - shift / 2, 5486400, 1828800,
                        colours[(s + 3) % 6], gen::para(gen::run("crop_") + gen::run("region B")));
    deck.slides.push_back({shapes, false, 0});
  }
  gen::write(argv[1], deck);
  return 0;
}
