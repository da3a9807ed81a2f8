// GlueInterface: the boundary to the glue module, loaded once by name
// (kGlueModuleName) and reached through the object its export
// kGlueInterfaceExport returns. Declared in the global namespace, like the
// measurement records it works on.
//
// Every operation works in place on the record set of the pending answer,
// which the caller owns and which is valid during the call only. The object
// belongs to the module and lives until the process ends; the driver never
// deletes it (protected non-virtual destructor) nor unloads the module.
//
// Threads: the driver calls it from its request thread only, one call at a
// time. The slot order is the contract with the module.
#pragma once

struct VantorelMeasurementsFull;  // messages/MeasurementRecords.h

inline constexpr char kGlueModuleName[] = "VantorelDriverCLRGlue";
inline constexpr char kGlueInterfaceExport[] = "GetInterface";

class GlueInterface {
 public:
  // One sample of a measurement is in the record set. The module takes what
  // it needs now: the caller empties the record set right afterwards.
  virtual void AddSample(VantorelMeasurementsFull* records) = 0;
  // After the last sample (also for a job of no samples), with an empty
  // record set: on return it holds the combined result, possibly empty.
  virtual void FillResult(VantorelMeasurementsFull* records) = 0;
  // A single sample has been converted into the record set.
  virtual void SampleRead(VantorelMeasurementsFull* records) = 0;
  // Last call before the answer with this record set is sent.
  virtual void ResultReady(VantorelMeasurementsFull* records) = 0;

 protected:
  GlueInterface() = default;
  GlueInterface(const GlueInterface&) = default;
  GlueInterface& operator=(const GlueInterface&) = default;
  ~GlueInterface() = default;
};

// Type of the module's export kGlueInterfaceExport: no arguments, returns the
// module's object (null if it has none to give).
extern "C" {
typedef GlueInterface* (*GetGlueInterfaceFunction)();
}
