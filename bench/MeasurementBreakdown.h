// MeasurementBreakdown: where the time of a measurement request goes. The
// driver's own request code (DriverInvoker::GetMeasure) runs in this process
// against the virtual instrument and the combining glue, each behind a
// forwarding layer that times its calls, and answers over a real loopback
// connection whose sends are timed. The image correction is then repeated
// outside the device, phase by phase, on the very images the driver handed
// to it.
//
// Linux only. Threads: the caller's thread, plus one thread that drains the
// answers and the instrument's measuring thread.
#pragma once

#include <cstddef>
#include <vector>

namespace bench {

struct Breakdown {
  double totalMs = 0;       // the request handler, from its start to its return
  double deviceReadMs = 0;  // GetJobs, GetState and GetSample of the device
  double glueMs = 0;        // AddSample, FillResult, ResultReady of the glue
  double correctionMs = 0;  // CorrectExrImage of the device, every image
  double sendMs = 0;        // handing the answer's bytes to the socket
  double otherMs = 0;       // the rest: conversion into records, serialization
  // The correction again, outside the device, summed over the images:
  double decodeMs = 0;  // EXR bytes to floats
  double scaleMs = 0;   // the colour scaling
  double encodeMs = 0;  // floats to EXR bytes
  std::size_t images = 0;
  std::size_t answerBytes = 0;
};

struct BreakdownRuns {
  std::vector<Breakdown> measure;  // MsgGetMeasure of the whole job
  std::vector<Breakdown> sample;   // MsgGetSample of its first sample
};

// Runs `runs` measurement requests and `runs` sample requests of a job of
// `samples` samples with images of `imagePx` pixels a side (the instrument
// measures the job first).
BreakdownRuns MeasureBreakdown(int imagePx, int samples, int runs);

}  // namespace bench
