// SPDX-License-Identifier: GPL-3.0-or-later
// Markup parsing throughput on 1 MB texts: a typical mix of constructs, and
// inputs built to hit the rescanning paths (unfinished links, blank runs).
#include <benchmark/benchmark.h>

#include <string>

#include "markup/markup.h"

namespace {

constexpr size_t kSize = 1 << 20;

std::string repeat_to_size(const std::string& piece) {
  std::string text;
  text.reserve(kSize + piece.size());
  while (text.size() < kSize) text += piece;
  return text;
}

std::string mixed_text() {
  return repeat_to_size(
      "== Überschrift ==\n"
      "Ordinary text with **bold**, //italic// and a [[https://example.org/a|link]] to follow.\\\\\n"
      "* first item\n** nested item with ümlauts\n* third\n  continued line\n\n"
      "# one\n## one.one\n# two\n\n"
      "|=Name|Value|\n|**Address**|[[https://example.org]]|\n|**Password**|[[password:73336372337421|●●●●●●]]|\n\n"
      "{{{verbatim **not bold**\n    indented\n}}}\n"
      "Text <<with a span>> and more text to make the line longer than most.\n\n");
}

void run(benchmark::State& state, const std::string& text) {
  MarkupResult r;
  for (auto _ : state) {
    markup_parse(text.c_str(), &r);
    benchmark::DoNotOptimize(r.text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_MarkupParseMixed(benchmark::State& state) { run(state, mixed_text()); }
void BM_MarkupParsePlain(benchmark::State& state) {
  run(state, repeat_to_size("Just a plain line of prose without any markup in it at all.\n"));
}
void BM_MarkupParseUnfinishedLinks(benchmark::State& state) { run(state, repeat_to_size("[[a ")); }
void BM_MarkupParseHeadingBlanks(benchmark::State& state) {
  run(state, "= " + std::string(kSize, ' ') + "x =");
}

}  // namespace

BENCHMARK(BM_MarkupParseMixed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkupParsePlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkupParseUnfinishedLinks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkupParseHeadingBlanks)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
