#include "engine/pdf_workers.h"

#include <libdeflate.h>

#include <algorithm>

#include "engine/picture.h"
#include "engine/png_fast.h"

namespace zept {

struct PdfWorkers::Job {
  enum Kind { File, Picture, Deflate } kind = File;
  WideString path;
  int width = 0, height = 0;
  std::unique_ptr<Bitmap> bitmap;  // until encoded
  std::string input;               // until compressed
  bool done = false;
  std::string output;
  std::exception_ptr error;
};

namespace {

// One per worker: a compressor holds large tables.
class Compressor {
 public:
  std::string deflate(const std::string& bytes) {
    if (!c_) c_ = libdeflate_alloc_compressor(6);
    if (!c_) throw std::bad_alloc();
    std::string out(libdeflate_zlib_compress_bound(c_, bytes.size()), '\0');
    out.resize(libdeflate_zlib_compress(c_, bytes.data(), bytes.size(),
                                        out.data(), out.size()));
    if (out.empty()) throw std::runtime_error("cannot compress a page");
    return out;
  }
  ~Compressor() { libdeflate_free_compressor(c_); }

 private:
  libdeflate_compressor* c_ = nullptr;
};

}  // namespace

PdfWorkers::PdfWorkers(platform::FileSystem& files, int quality,
                       unsigned threads)
    : files_(files), quality_(quality) {
  try {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i)
      workers_.emplace_back([this] { work(); });
  } catch (...) {
    stop();
    throw;
  }
}

PdfWorkers::~PdfWorkers() { stop(); }

void PdfWorkers::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

unsigned PdfWorkers::DefaultThreads() {
  return std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
}

PdfWorkers::Ticket PdfWorkers::file(const WideString& path, int width,
                                    int height) {
  std::lock_guard<std::mutex> lock(mutex_);
  Ticket& known = byFile_[{path, width, height}];
  if (known) return known;
  known = std::make_shared<Job>();
  known->path = path;
  known->width = width;
  known->height = height;
  queue_.push_back(known);
  queued_.notify_one();
  return known;
}

PdfWorkers::Ticket PdfWorkers::bitmap(Bitmap bitmap) {
  auto job = std::make_shared<Job>();
  job->kind = Job::Picture;
  job->bitmap = std::make_unique<Bitmap>(std::move(bitmap));
  return queue(std::move(job));
}

PdfWorkers::Ticket PdfWorkers::deflate(std::string bytes) {
  auto job = std::make_shared<Job>();
  job->kind = Job::Deflate;
  job->input = std::move(bytes);
  return queue(std::move(job));
}

PdfWorkers::Ticket PdfWorkers::queue(Ticket job) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(job);
  queued_.notify_one();
  return job;
}

bool PdfWorkers::done(const Ticket& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  return job->done;
}

const std::string& PdfWorkers::result(const Ticket& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&job] { return job->done; });
  if (job->error) std::rethrow_exception(job->error);
  return job->output;
}

void PdfWorkers::release(const Ticket& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string().swap(job->output);
}

void PdfWorkers::work() {
  Compressor compressor;
  for (;;) {
    Ticket job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    std::string output;
    std::exception_ptr error;
    try {
      output = job->kind == Job::Deflate ? compressor.deflate(job->input)
                                         : make(*job);
      std::string().swap(job->input);
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->output = std::move(output);
      job->error = error;
      job->done = true;
    }
    finished_.notify_all();
  }
}

std::string PdfWorkers::make(Job& job) {
  if (job.kind == Job::Picture) {
    const std::unique_ptr<Bitmap> bitmap = std::move(job.bitmap);
    return EncodeJpeg(*bitmap, quality_);
  }
  if (job.width <= 0 || job.height <= 0) return "";
  std::optional<Bitmap> picture;
  // An unreadable file is drawn white, as the movie host shows it.
  try {
    std::optional<std::string> bytes = files_.readFile(job.path);
    if (bytes && JpegFitsAsIs(*bytes, job.width, job.height) &&
        PdfReadsJpegHeader(*bytes)) {
      return std::move(*bytes);
    }
    if (bytes) {
      picture = DecodePlainPngStretched(*bytes, job.width, job.height);
      if (picture) return EncodeJpeg(*picture, quality_);
      picture = DecodePicture(*bytes);
    }
  } catch (const std::exception&) {
    picture.reset();
  }
  const Bitmap drawn = picture
                           ? StretchBitmap(*picture, job.width, job.height)
                           : FilledBitmap(job.width, job.height, 0xFFFFFFFFu);
  picture.reset();
  return EncodeJpeg(drawn, quality_);
}

bool PdfReadsJpegHeader(const std::string& b) {
  auto be16 = [&b](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(b[at]) << 8 |
                                 static_cast<unsigned char>(b[at + 1]));
  };
  if (b.size() < 2 || be16(0) != 0xFFD8) return false;
  std::size_t at = 2;
  while (at + 4 <= b.size()) {
    const unsigned marker = be16(at), length = be16(at + 2);
    if (marker == 0xFFC0 || marker == 0xFFC1 || marker == 0xFFC2) return true;
    if ((marker & 0xFF00) != 0xFF00 || length < 2) return false;
    // Other frame headers (lossless, arithmetic coding) are not taken.
    if (marker >= 0xFFC3 && marker <= 0xFFCF && marker != 0xFFC4 &&
        marker != 0xFFC8 && marker != 0xFFCC) {
      return false;
    }
    at += 2 + static_cast<std::size_t>(length);
  }
  return false;
}

}  // namespace zept
