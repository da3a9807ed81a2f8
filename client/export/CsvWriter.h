// CsvWriter: spectra.csv and lab.csv of a result folder.
//
// Comma-separated, '.' decimal point, LF line ends, one header row, then one
// row per listed geometry of the measurement map in key order:
//   spectra.csv  geometry,400,410,...,700   reflectance factors (1.0 = 100 %),
//                                           6 decimals
//   lab.csv      geometry,L,a,b,samples,stdev_L,stdev_a,stdev_b,
//                range_L,range_a,range_b    4 decimals; samples is the number
//                of samples combined (1 for a sample), stdev and range are
//                over the samples (SampleStatistics.h)
// A non-finite or unknown value leaves its field empty. Geometry names need
// no quoting.
//
// Threads: pure functions; safe from any thread.
#pragma once

#include <string>

#include "client/export/ExportRequest.h"
#include "messages/MeasurementRecords.h"

namespace vantorel::exporter {

// The spectra table; a null `data` gives the header row only.
std::string ToSpectraCsv(const VantorelMeasurementsFull* data);

// The L*a*b* table; a null request.data gives the header row only.
std::string ToLabCsv(const ExportRequest& request);

}  // namespace vantorel::exporter
