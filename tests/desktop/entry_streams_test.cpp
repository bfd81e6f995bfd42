#include "desktop/entry_streams.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace zept::desktop {
namespace {

// A file of lines "0000000\n", "0000001\n", ..., stored (it seeks) or
// inflated (it reads onwards only), damaged after failAt bytes if asked.
class LinePieces final : public EntryPieces {
 public:
  LinePieces(std::uint64_t size, bool stored, std::uint64_t failAt,
             std::atomic<std::uint64_t>& served)
      : size_(size), stored_(stored), failAt_(failAt), served_(served) {}
  static char At(std::uint64_t i) {
    const std::uint64_t line = i / 8;
    if (i % 8 == 7) return '\n';
    std::uint64_t digits = line;
    for (int k = 6 - static_cast<int>(i % 8); k > 0; --k) digits /= 10;
    return static_cast<char>('0' + digits % 10);
  }
  std::uint64_t size() const override { return size_; }
  std::size_t read(char* buffer, std::size_t n) override {
    if (at_ >= failAt_) throw std::runtime_error("damaged here");
    n = static_cast<std::size_t>(
        std::min<std::uint64_t>({n, size_ - at_, failAt_ - at_}));
    for (std::size_t i = 0; i < n; ++i) buffer[i] = At(at_ + i);
    at_ += n;
    served_ += n;
    return n;
  }
  bool canSeek() const override { return stored_; }
  void seek(std::uint64_t offset) override {
    ASSERT_TRUE(stored_);
    at_ = offset;
  }

 private:
  std::uint64_t size_, at_ = 0;
  bool stored_;
  std::uint64_t failAt_;
  std::atomic<std::uint64_t>& served_;
};

// What count bytes at offset read as, or the error's message.
std::string ReadAt(GInputStream* stream, goffset offset, gsize count) {
  GError* error = nullptr;
  std::string out(count, '\0');
  gsize got = 0;
  if (!g_seekable_seek(G_SEEKABLE(stream), offset, G_SEEK_SET, nullptr,
                       &error) ||
      !g_input_stream_read_all(stream, out.data(), count, &got, nullptr,
                               &error)) {
    std::string message = error->message;
    g_error_free(error);
    return message;
  }
  out.resize(got);
  return out;
}

std::string Expected(std::uint64_t offset, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += LinePieces::At(offset + i);
  return out;
}

// Each stream reads the bytes asked for, wherever it seeks; an inflated
// file is inflated once for all its streams, and one that turns out
// damaged fails the reads past the damage instead of leaving them waiting.
TEST(EntryStreamsTest, EveryReadGetsItsBytesOrTheReasonWhyNot) {
  constexpr std::uint64_t kSize = 3000000;
  struct Case {
    const char* name;
    bool stored;
    std::uint64_t failAt;
    goffset offset;
    gsize count;
    const char* error;  // nullptr: the right bytes
  } kCases[] = {
      {"stored", true, kSize, 2999990, 10, nullptr},
      {"stored", true, kSize, 1048570, 300000, nullptr},
      {"packed", false, kSize, 2999990, 100, nullptr},  // cut at the end
      {"packed", false, kSize, 5, 20, nullptr},
      {"damaged", false, 1 << 20, 100, 8, nullptr},
      {"damaged", false, 1 << 20, 2000000, 8,
       "cannot inflate the file: damaged here"},
  };
  std::atomic<std::uint64_t> served{0};
  {
    EntryStreams streams;
    for (const Case& c : kCases) {
      std::string why;
      GObjectPtr<GInputStream> stream = streams.open(
          c.name,
          std::make_unique<LinePieces>(kSize, c.stored, c.failAt, served), why);
      ASSERT_TRUE(stream) << why;
      const gsize count = std::min<gsize>(c.count, kSize - c.offset);
      EXPECT_EQ(ReadAt(stream.get(), c.offset, c.count),
                c.error ? c.error : Expected(c.offset, count))
          << c.name << " at " << c.offset;
    }
  }
  // The stored reads, one inflating of the packed file, the damaged part.
  EXPECT_EQ(served, 10u + 300000u + kSize + (1u << 20));
}

// An entry that states gigabytes once inflated is refused before a byte
// is written, saying why; a stored one of that size is read in place.
TEST(EntryStreamsTest, AnEntryTooLargeToInflateIsRefusedWithItsReason) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  const struct {
    std::uint64_t size, freeBytes;
    const char* refusal;  // "" when it may be inflated
  } kCases[] = {
      {200 << 20, 8 * kGiB, ""},
      {kGiB, 8 * kGiB, ""},
      {2 * kGiB, 64 * kGiB,
       "it states 2048 MiB once inflated, and zept inflates 1024 MiB of one "
       "file at most"},
      {300 << 20, 500 << 20,
       "it states 300 MiB once inflated, and the temporary folder has "
       "500 MiB free"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(EntryStreams::CopyRefusal(c.size, c.freeBytes), c.refusal)
        << c.size;

  std::atomic<std::uint64_t> served{0};
  EntryStreams streams;
  std::string why;
  EXPECT_FALSE(streams.open(
      "bomb", std::make_unique<LinePieces>(2 * kGiB, false, 2 * kGiB, served),
      why));
  EXPECT_NE(why.find("zept inflates 1024 MiB of one file at most"),
            std::string::npos)
      << why;
  EXPECT_TRUE(streams.open(
      "video", std::make_unique<LinePieces>(2 * kGiB, true, 2 * kGiB, served),
      why));
  EXPECT_EQ(served, 0u);
}

}  // namespace
}  // namespace zept::desktop
