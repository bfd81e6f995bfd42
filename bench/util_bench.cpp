// The text helpers on the sizes a long session history reaches.

#include <benchmark/benchmark.h>

#include "platform/codepage.h"
#include "util/arraylib.h"
#include "util/textlib.h"

namespace {

zept::WideString LongText(std::size_t units) {
  zept::WideString text;
  while (text.size() < units) text += u"cmi.core.lesson_location;Żółć é 42;";
  return text;
}

void BM_Utf8RoundTrip(benchmark::State& state) {
  const zept::WideString text =
      LongText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(zept::Utf8ToWide(zept::WideToUtf8(text)));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_Utf8RoundTrip)->Arg(1 << 20);

void BM_ExplodeImplode(benchmark::State& state) {
  const zept::WideString text =
      LongText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(zept::Implode(zept::Explode(text, u";"), u","));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_ExplodeImplode)->Arg(1 << 20);

void BM_ReplaceLiteral(benchmark::State& state) {
  const zept::WideString text =
      LongText(static_cast<std::size_t>(state.range(0))) + u"]]]>";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        zept::ReplaceLiteral(text, u"]]]>", u"] ]]>", zept::kReplaceGlobal));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_ReplaceLiteral)->Arg(1 << 20);

}  // namespace
