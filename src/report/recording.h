#pragma once
// A report canvas and report system that record what is drawn, for layout
// tests: every character is half an em wide, pages are Letter unless set.

#include <cstdio>

#include "report/surface.h"

namespace zept {

class RecordingCanvas final : public ReportCanvas {
 public:
  RecordingCanvas(double width = 8.5, double height = 11)
      : width_(width), height_(height) {}

  // One entry per drawing, positions rounded to 1/1000 inch:
  // "text P X Y SIZE[i] 'TEXT'", "line P X1 Y1 X2 Y2", "bitmap P X1 Y1 X2 Y2
  // WxH", "page P" when page P ends.
  std::vector<std::string> ops;

  double pageWidth() const override { return width_; }
  double pageHeight() const override { return height_; }
  const CharWidths& charWidths() const override {
    static const CharWidths halfEm = [] {
      CharWidths w;
      w.fill(500);
      return w;
    }();
    return halfEm;
  }
  void drawBitmap(double x1, double y1, double x2, double y2,
                  const Bitmap& b) override {
    recordBitmap(x1, y1, x2, y2, b.width, b.height);
  }
  // A picture file is recorded as the bitmap it would be.
  void drawPicture(double x1, double y1, double x2, double y2,
                   const WideString&, int width, int height) override {
    recordBitmap(x1, y1, x2, y2, width, height);
  }

 protected:
  void drawText(double x, double y, std::string_view text) override {
    char size[32];
    std::snprintf(size, sizeof size, "%g%s", fontSize(), italic() ? "i" : "");
    ops.push_back("text " + std::to_string(currentPage()) + " " +
                  coords({x, y}) + " " + size + " '" + std::string(text) + "'");
  }
  void drawLine(double x1, double y1, double x2, double y2) override {
    ops.push_back("line " + std::to_string(currentPage()) + " " +
                  coords({x1, y1, x2, y2}));
  }
  void beginPage() override {}
  void endPage() override {
    ops.push_back("page " + std::to_string(currentPage()));
  }

 private:
  void recordBitmap(double x1, double y1, double x2, double y2, int width,
                    int height) {
    ops.push_back("bitmap " + std::to_string(currentPage()) + " " +
                  coords({x1, y1, x2, y2}) + " " + std::to_string(width) + "x" +
                  std::to_string(height));
  }
  static std::string coords(std::initializer_list<double> values) {
    std::string out;
    for (double v : values) {
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", v + 0.0);
      if (!out.empty()) out += ' ';
      out += text;
    }
    return out;
  }

  double width_, height_;
};

class RecordingReportSystem final : public ReportSystem {
 public:
  RecordingCanvas canvas;
  int executions = 0;

  void execute(const std::function<void(ReportCanvas&)>& onPrint) override {
    ++executions;
    canvas.start();
    onPrint(canvas);
    canvas.finish();
  }
};

}  // namespace zept
