// Test data for the result-folder writers: a measurement of all eleven
// geometries whose L*a*b* is computed from its spectrum (D65, 10 degree), as
// the instrument reports it, and EXR images made with the project's encoder.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client/export/ExportRequest.h"
#include "colour/Colorimetry.h"
#include "colour/ExrCodec.h"

namespace exporttest {

// A smooth, broad spectrum whose hue differs per geometry; near-specular
// geometries reflect well above 100 %, as effect paints do. (Broad spectra
// keep the L*a*b* of different colorimetric tables within 0.03 of each other;
// steep ones differ by up to 0.2, which would hide what the tests look for.)
inline VantorelMeasurements MakeMeasurement(SpectrumAngle angle) {
  VantorelMeasurements m{};
  const int a = static_cast<int>(angle);
  m.index = 100 + a;
  m.angle = angle;
  const double gloss = (angle == R15As_15 || angle == R45As_15) ? 2.4 : 1.0;
  const double phase = 0.6 * a;
  for (std::size_t i = 0; i < m.spectrum.size(); ++i) {
    const double t = static_cast<double>(i) / 30.0;
    m.spectrum[i] = static_cast<float>(gloss * (0.35 + 0.12 * std::cos(6.2831853 * t + phase)));
  }
  const colour::Lab lab = colour::SpectrumToLab(m.spectrum);
  m.lab = {static_cast<float>(lab.l), static_cast<float>(lab.a), static_cast<float>(lab.b)};
  return m;
}

// A small EXR with a gradient and a glint far above white.
inline ByteVector MakeExr(int width = 8, int height = 4) {
  std::vector<float> rgb(static_cast<std::size_t>(3 * width * height));
  for (int p = 0; p < width * height; ++p) {
    const float v = static_cast<float>(p) / static_cast<float>(width * height);
    rgb[3 * p] = v;
    rgb[3 * p + 1] = 0.5f * v;
    rgb[3 * p + 2] = 0.25f;
  }
  rgb[0] = rgb[1] = rgb[2] = 40.0f;
  return colour::EncodeExr(rgb, width, height);
}

// All eleven geometries; images (with texture values) for the six geometries
// the instrument photographs.
inline VantorelMeasurementsFull MakeFull() {
  VantorelMeasurementsFull full;
  for (int a = R15As_45; a <= R45As110; ++a) {
    const auto angle = static_cast<SpectrumAngle>(a);
    full.measurements[angle] = MakeMeasurement(angle);
  }
  for (SpectrumAngle angle : {R15As_15, R15As15, R15As45, R45As_15, R45As25, R45As75}) {
    VantorelImage image;
    image.exr = MakeExr();
    for (int i = 0; i < 7; ++i) image.texture.values[i] = 0.5 * i + static_cast<int>(angle);
    full.images[angle] = image;
  }
  return full;
}

inline vantorel::exporter::ExportRequest MakeRequest(const VantorelMeasurementsFull& data,
                                                     std::string job = "Blue metallic 7") {
  vantorel::exporter::ExportRequest request;
  request.job = std::move(job);
  request.result = 0;
  request.data = &data;
  request.created = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + std::chrono::hours{12};
  return request;
}

// A job name that breaks every format that does not escape: markup, quotes,
// a control character, invalid UTF-8 and a valid non-ASCII letter.
inline const std::string kHostileJob =
    "</cc:Object>]]><!-- \"x\" & 'y' \x01 tab\there \xFF\xC0\xAF caf\xC3\xA9 \xED\xA0\x80";

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A fresh, empty folder under the system's temporary folder, removed again
// by the destructor.
class TempDir {
 public:
  TempDir() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ =
        std::filesystem::temp_directory_path() / ("vantorel-export-test-" + std::to_string(stamp));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace exporttest
