// What the foreign test modules deliver, shared by the modules (built
// freestanding by clang for the platform ABI) and by the tests that check
// what arrives (built by our own compilers). Built-in types only.
//
// Every number is a small dyadic fraction, exact in a float, so that values
// and the means of two samples arrive bit for bit and the tests compare them
// exactly. A job's values depend on its key, the byte sum of its identifier,
// so a module that read the identifier wrongly would deliver other values.
//
// Threads: constants and pure functions only.
#pragma once

namespace foreign_values {

// --- The device module. ---

// Result codes of the foreign device module.
inline constexpr int kNotConnected = 4101;
inline constexpr int kUnknownJob = 4102;
inline constexpr int kAddressRefused = 4103;
inline constexpr int kSampleNotMeasured = 4104;
inline constexpr int kUnexpectedRequest = 4105;
inline constexpr int kLabNotKept = 4106;
inline constexpr int kBadCorrectionInput = 4107;
inline constexpr int kImageNotUnderstood = 4108;
inline constexpr int kMessageTooLong = 4109;
inline constexpr int kInvalidJob = 4110;
inline constexpr int kJobListFull = 4111;
inline constexpr int kBusy = 4112;

inline constexpr int kMaxJobs = 8;
inline constexpr int kMaxSamples = 16;
inline constexpr int kMaxIdentifierBytes = 63;
inline constexpr int kMaxDisplayCodePoints = 63;
inline constexpr int kMaxMessageCodePoints = 255;

// Job states as the module reports them.
inline constexpr int kStored = 2001;
inline constexpr int kMeasuring = 2000;
inline constexpr int kMeasured = 2004;

inline constexpr int kGeometryCount = 11;
inline constexpr const char* kGeometries[kGeometryCount] = {
    "r15as-45", "r15as-15", "r15as15", "r15as45", "r15as80", "r45as-15",
    "r45as15",  "r45as25",  "r45as45", "r45as75", "r45as110"};
inline constexpr int kSpectralCount = 31;

// Geometries that carry an image (indexes into kGeometries), in the order
// the module lists them; images are kImageSide pixels square, float RGB.
inline constexpr int kImageCount = 2;
inline constexpr int kImageGeometries[kImageCount] = {3, 7};
inline constexpr int kImageSide = 4;

// Lab condition the module gives every colour item.
inline constexpr int kIlluminant = 65;
inline constexpr int kObserver = 10;

constexpr unsigned JobKey(const char* identifier) {
  unsigned key = 0;
  for (; *identifier != '\0'; ++identifier) key += static_cast<unsigned char>(*identifier);
  return key;
}

// Spectral value `i` (0..30) of `geometry` (0..10) in `sample`.
constexpr float Spectral(unsigned key, int sample, int geometry, int i) {
  return static_cast<float>(static_cast<int>(key % 16) * 64 + sample * 8 + geometry) / 1024.0f +
         static_cast<float>(i) / 64.0f;
}

// L*, a*, b* (channel 0, 1, 2) of `geometry` in `sample`.
constexpr float LabValue(unsigned key, int sample, int geometry, int channel) {
  return channel == 0 ? 40.0f + static_cast<float>(geometry) + static_cast<float>(sample) * 0.25f +
                            static_cast<float>(key % 8)
         : channel == 1 ? -3.5f + static_cast<float>(geometry) * 0.5f
                        : 12.25f - static_cast<float>(sample) * 0.125f;
}

// Channel `c` (0 R, 1 G, 2 B) of pixel (x, y) of the image of `geometry`.
constexpr float Pixel(unsigned key, int sample, int geometry, int x, int y, int c) {
  return static_cast<float>(x + kImageSide * y) / 32.0f + static_cast<float>(c) * 0.125f +
         static_cast<float>(geometry) / 64.0f + static_cast<float>(sample) / 32.0f +
         static_cast<float>(key % 4) / 4.0f;
}

// Texts of the job list and of the device's log.
inline constexpr const char* kModeName = "foreign-mode";
inline constexpr const char* kComment = "listed by the foreign module";
inline constexpr const char* kTextureName = "foreign-sparkle";
inline constexpr const char* kReadyMessage = "foreign device: ready";
inline constexpr const char* kNoJobWarning = "foreign device: no job to delete: ";
inline constexpr const char* kRefusedError = "foreign device: refused network address 0.0.0.0";

// --- The second-family module. ---

inline constexpr const char* kQuarnSerial = "FQ-7731";
inline constexpr const char* kQuarnUnopenedSerial = "FQ-7731 (not opened)";
inline constexpr const char* kQuarnWhiteTile = "WT-foreign-3";
inline constexpr const char* kQuarnCalibrationDate = "2031-02-28";
inline constexpr const char* kQuarnType = "Foreign Q, built for the platform ABI";
inline constexpr int kQuarnAngleCount = 3;
inline constexpr const char* kQuarnAngles[kQuarnAngleCount] = {"15as45", "45as25", "45as110"};

}  // namespace foreign_values
