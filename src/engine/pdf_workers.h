#pragma once
// The heavy parts of one PDF made on a few worker threads while the pages are
// laid out: pictures made into the JPEG data the PDF carries, and page
// contents compressed. Workers only read files and run the codecs; the PDF
// writer stays on the caller's thread.

#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/bitmap.h"
#include "platform/files.h"

namespace zept {

class PdfWorkers {
 public:
  struct Job;
  using Ticket = std::shared_ptr<Job>;

  // files must allow readFile from several threads at once. At most
  // `threads` pictures (at least one) are decoded at a time.
  PdfWorkers(platform::FileSystem& files, int quality, unsigned threads);
  // Jobs not started are dropped; the running ones are waited for.
  ~PdfWorkers();
  PdfWorkers(const PdfWorkers&) = delete;
  PdfWorkers& operator=(const PdfWorkers&) = delete;

  // The picture file stretched to width x height pixels, white when it is
  // no readable picture. A JPEG file of exactly that size that a PDF can
  // carry is taken as it is. One file at one size is one job, however often
  // it is asked for.
  Ticket file(const WideString& path, int width, int height);
  // The bitmap as it is.
  Ticket bitmap(Bitmap bitmap);
  // The bytes as a zlib stream (libdeflate at level 6: as small as zlib's
  // default level makes them, in half the time).
  Ticket deflate(std::string bytes);

  bool done(const Ticket& job);
  // Waits for the job: its JPEG data (empty when there is nothing to draw)
  // or its compressed bytes. What failed the job is thrown here. The data
  // stays valid until release().
  const std::string& result(const Ticket& job);
  // Frees the job's data once the PDF holds its own copy.
  void release(const Ticket& job);

  // As many workers as the machine has cores, two at most: each may hold
  // one decoded picture.
  static unsigned DefaultThreads();

 private:
  Ticket queue(Ticket job);
  void stop();
  void work();
  std::string make(Job& job);

  platform::FileSystem& files_;
  const int quality_;
  std::mutex mutex_;
  std::condition_variable queued_, finished_;
  std::deque<Ticket> queue_;
  std::map<std::tuple<WideString, int, int>, Ticket> byFile_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// True when a PDF writer that finds the frame header by walking the markers
// by their lengths (as libharu does) reads these JPEG bytes: a baseline,
// extended or progressive frame header comes before any other.
bool PdfReadsJpegHeader(const std::string& bytes);

}  // namespace zept
