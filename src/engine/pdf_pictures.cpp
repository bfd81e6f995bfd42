#include "engine/pdf_pictures.h"

#include <algorithm>

#include "engine/picture.h"

namespace zept {

struct PdfPictures::Job {
  WideString path;
  int width = 0, height = 0;
  std::unique_ptr<Bitmap> bitmap;  // set for bitmap jobs until encoded
  bool done = false;
  std::string jpeg;
  std::exception_ptr error;
};

PdfPictures::PdfPictures(platform::FileSystem& files, int quality,
                         unsigned threads)
    : files_(files), quality_(quality) {
  for (unsigned i = 0; i < std::max(threads, 1u); ++i)
    workers_.emplace_back([this] { work(); });
}

PdfPictures::~PdfPictures() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

unsigned PdfPictures::DefaultThreads() {
  return std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
}

PdfPictures::Ticket PdfPictures::file(const WideString& path, int width,
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

PdfPictures::Ticket PdfPictures::bitmap(Bitmap bitmap) {
  auto job = std::make_shared<Job>();
  job->bitmap = std::make_unique<Bitmap>(std::move(bitmap));
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(job);
  queued_.notify_one();
  return job;
}

bool PdfPictures::done(const Ticket& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  return job->done;
}

const std::string& PdfPictures::result(const Ticket& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&job] { return job->done; });
  if (job->error) std::rethrow_exception(job->error);
  return job->jpeg;
}

void PdfPictures::release(const Ticket& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string().swap(job->jpeg);
}

void PdfPictures::work() {
  for (;;) {
    Ticket job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    std::string jpeg;
    std::exception_ptr error;
    try {
      jpeg = make(*job);
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->jpeg = std::move(jpeg);
      job->error = error;
      job->done = true;
    }
    finished_.notify_all();
  }
}

std::string PdfPictures::make(Job& job) {
  if (job.bitmap) {
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
    if (bytes) picture = DecodePicture(*bytes);
  } catch (const std::exception&) {
    picture.reset();
  }
  if (!picture)
    return EncodeJpeg(FilledBitmap(job.width, job.height, 0xFFFFFFFFu),
                      quality_);
  const Bitmap stretched = StretchBitmap(*picture, job.width, job.height);
  picture.reset();
  return EncodeJpeg(stretched, quality_);
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
